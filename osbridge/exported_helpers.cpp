#include "exported_helpers.h"

jstring CreateJavaStringFromNSString(JNIEnv* env, PlatformStringView string) {
    return kestrane::jni::javaString(env, string);
}

PlatformString JavaToNSString(JNIEnv* env, jstring string) {
    return kestrane::jni::adoptedPlatformString(env, string);
}
