#include "exported_helpers.h"

jstring createJavaStringFromNSString(JNIEnv* env, PlatformStringView string) {
    return kestrane::jni::javaString(env, string);
}

PlatformString createNSStringFromJavaString(JNIEnv* env, jstring string, const char* argumentName) {
    return kestrane::jni::platformString(env, string, argumentName);
}
