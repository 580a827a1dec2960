// The cached classes and peer fields answer as the lookups they replace would.
#include <gtest/gtest.h>

#include "errors.h"
#include "jni_classes.h"
#include "jni_scoped.h"
#include "jvm.h"

using kestrane::jni::JavaClass;
using kestrane::jni::LocalRef;
using kestrane::jni::PeerPointer;
using kestrane::test::jniEnv;
using kestrane::test::takePendingException;

TEST(JavaClass, TheSameClassAsFindClassLookedUpOnce) {
    JNIEnv* env = jniEnv();
    const JavaClass floats("[F");
    const jclass first = floats.get(env);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(floats.get(env), first);  // the kept global reference
    LocalRef<jclass> found(env, env->FindClass("[F"));
    EXPECT_TRUE(env->IsSameObject(first, found.get()));
    EXPECT_EQ(env->GetObjectRefType(first), JNIGlobalRefType);
}

TEST(JavaClass, AMissingClassFailsEveryTimeWithTheLookupsOwnError) {
    JNIEnv* env = jniEnv();
    const JavaClass missing("com/kestrane/NoSuchClass");
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(missing.get(env), nullptr);
        EXPECT_EQ(takePendingException(env).rfind("java.lang.NoClassDefFoundError: com/kestrane/NoSuchClass", 0), 0u);
    }
    EXPECT_FALSE(kestrane::jni::throwJava(env, missing, "never thrown"));
    EXPECT_EQ(takePendingException(env).rfind("java.lang.NoClassDefFoundError", 0), 0u);
}

TEST(PeerPointer, ReadsTheHandleOfEveryPeerOfAClass) {
    JNIEnv* env = jniEnv();
    LocalRef<jclass> arrayClass(env, env->FindClass("com/kestrane/itlibrary/ITLibArray"));
    ASSERT_TRUE(arrayClass) << takePendingException(env);
    const jmethodID ctor = env->GetMethodID(arrayClass.get(), "<init>", "(J)V");
    LocalRef<jobject> a(env, env->NewObject(arrayClass.get(), ctor, jlong{0x1234}));
    LocalRef<jobject> b(env, env->NewObject(arrayClass.get(), ctor, jlong{-5}));
    ASSERT_TRUE(a && b) << takePendingException(env);

    const PeerPointer pointer;
    EXPECT_EQ(pointer.read(env, a.get()), 0x1234);
    EXPECT_EQ(pointer.read(env, b.get()), -5);  // the field found once serves every peer
    EXPECT_EQ(pointer.read(env, nullptr), 0);

    // A class without the field reads as 0 with the lookup's error, and is not cached.
    const PeerPointer other;
    LocalRef<jstring> notAPeer(env, env->NewStringUTF("x"));
    EXPECT_EQ(other.read(env, notAPeer.get()), 0);
    EXPECT_EQ(takePendingException(env).rfind("java.lang.NoSuchFieldError", 0), 0u);
    EXPECT_EQ(other.read(env, a.get()), 0x1234);
}

TEST(JavaMethod, FoundOnceOrFailingWithTheLookupsOwnError) {
    JNIEnv* env = jniEnv();
    using kestrane::jni::JavaMethod;
    const JavaMethod valueOf(kestrane::jni::kInteger, "valueOf", "(I)Ljava/lang/Integer;", JavaMethod::Kind::staticMethod);
    const jmethodID found = valueOf.get(env);
    ASSERT_NE(found, nullptr) << takePendingException(env);
    EXPECT_EQ(valueOf.get(env), found);
    LocalRef<jobject> seven(env, env->CallStaticObjectMethod(valueOf.owner().get(env), found, jint{7}));
    const JavaMethod intValue(kestrane::jni::kInteger, "intValue", "()I", JavaMethod::Kind::instanceMethod);
    ASSERT_NE(intValue.get(env), nullptr) << takePendingException(env);
    EXPECT_EQ(env->CallIntMethod(seven.get(), intValue.get(env)), 7);

    const JavaClass missingClass("com/kestrane/NoSuchClass");
    const struct {
        const JavaMethod method;
        const char* error;
    } failures[] = {
        {{kestrane::jni::kInteger, "noSuchMethod", "()V", JavaMethod::Kind::staticMethod}, "java.lang.NoSuchMethodError"},
        {{kestrane::jni::kInteger, "valueOf", "(I)Ljava/lang/Integer;", JavaMethod::Kind::instanceMethod},
         "java.lang.NoSuchMethodError"},  // the right name, but static
        {{missingClass, "run", "()V", JavaMethod::Kind::staticMethod}, "java.lang.NoClassDefFoundError"},
    };
    for (const auto& f : failures) {
        for (int i = 0; i < 2; ++i) {  // not cached: the same answer again
            EXPECT_EQ(f.method.get(env), nullptr);
            EXPECT_EQ(takePendingException(env).rfind(f.error, 0), 0u) << f.error;
        }
    }
}

// A read-write holder copies its changes back into the array; a read-only one releases with
// JNI_ABORT, so that even a change made through it (which the type forbids without a cast)
// never reaches the array.
TEST(ArrayElements, ReadWriteCopiesBackAndReadOnlyNever) {
    JNIEnv* env = jniEnv();
    LocalRef<jfloatArray> array(env, env->NewFloatArray(3));
    {
        kestrane::jni::ReadWriteFloats elements(env, array.get());
        ASSERT_TRUE(elements);
        ASSERT_EQ(elements.size(), 3u);
        elements.data()[1] = 2.5f;
    }
    {
        const kestrane::jni::ReadOnlyFloats elements(env, array.get());
        ASSERT_TRUE(elements);
        EXPECT_EQ(elements.data()[1], 2.5f);
        const_cast<jfloat*>(elements.data())[1] = -1.0f;
    }
    jfloat back[3] = {};
    env->GetFloatArrayRegion(array.get(), 0, 3, back);
    EXPECT_EQ(back[1], 2.5f);
    const kestrane::jni::ReadOnlyBytes none(env, nullptr);
    EXPECT_FALSE(none);
    EXPECT_EQ(none.size(), 0u);
    EXPECT_EQ(takePendingException(env), "");
}
