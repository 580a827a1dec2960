// The error rule against a real JVM.
#include <gtest/gtest.h>

#include "errors.h"
#include "jvm.h"

using kestrane::test::jniEnv;
using kestrane::test::takePendingException;

TEST(ErrorRule, ThrowsAnExistingClassWithItsMessage) {
    JNIEnv* env = jniEnv();
    EXPECT_TRUE(kestrane::jni::throwJava(env, "java/io/FileNotFoundException", "R\xC3\xA9sum\xC3\xA9 missing"));
    EXPECT_EQ(takePendingException(env), "java.io.FileNotFoundException: Résumé missing");
}

TEST(ErrorRule, MissingClassLeavesTheLookupErrorAndThrowsNothingElse) {
    JNIEnv* env = jniEnv();
    EXPECT_FALSE(kestrane::jni::throwJava(env, "com/kestrane/NoSuchException", "never seen"));
    const std::string pending = takePendingException(env);
    EXPECT_EQ(pending.rfind("java.lang.NoClassDefFoundError: com/kestrane/NoSuchException", 0), 0u) << pending;
}
