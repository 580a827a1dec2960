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

TEST(ErrorRule, MessagesKeepEveryCharacter) {
    JNIEnv* env = jniEnv();
    const std::string message("a\0b \xF0\x9F\x98\x80 c", 10);  // U+0000 and U+1F600 inside
    EXPECT_TRUE(kestrane::jni::throwJava(env, kestrane::jni::kIOException, message));
    jthrowable thrown = env->ExceptionOccurred();
    env->ExceptionClear();
    jclass throwable = env->FindClass("java/lang/Throwable");
    auto text = static_cast<jstring>(env->CallObjectMethod(thrown, env->GetMethodID(throwable, "getMessage", "()Ljava/lang/String;")));
    const jchar* units = env->GetStringChars(text, nullptr);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(units), static_cast<std::size_t>(env->GetStringLength(text))),
              std::u16string(u"a\0b \U0001F600 c", 8));
    env->ReleaseStringChars(text, units);
}

TEST(ErrorRule, MissingClassLeavesTheLookupErrorAndThrowsNothingElse) {
    JNIEnv* env = jniEnv();
    EXPECT_FALSE(kestrane::jni::throwJava(env, "com/kestrane/NoSuchException", "never seen"));
    const std::string pending = takePendingException(env);
    EXPECT_EQ(pending.rfind("java.lang.NoClassDefFoundError: com/kestrane/NoSuchException", 0), 0u) << pending;
}
