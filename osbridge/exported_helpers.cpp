#include "exported_helpers.h"

jstring CreateJavaStringFromNSString(JNIEnv* env, PlatformStringView string) {
    return kestrane::jni::javaString(env, string);
}

PlatformString JavaToNSString(JNIEnv* env, jstring string) {
    return kestrane::jni::adoptedPlatformString(env, string);
}

jfloatArray colorToFloatArray(JNIEnv* env, const kestrane::appearance::Rgba& color) {
    jfloatArray array = env->NewFloatArray(4);
    if (array == nullptr) return nullptr;
    const jfloat values[4] = {static_cast<jfloat>(color.red), static_cast<jfloat>(color.green), static_cast<jfloat>(color.blue),
                              static_cast<jfloat>(color.alpha)};
    env->SetFloatArrayRegion(array, 0, 4, values);
    return array;
}
