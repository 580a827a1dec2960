// com.kestrane.core.osx.Appearance and UIElementColor: the appearance's name and seven
// interface colours as float[4] {red, green, blue, alpha} in sRGB.
#include <com_kestrane_core_osx_Appearance.h>
#include <com_kestrane_core_osx_UIElementColor.h>

#include "appearance.h"
#include "exported_helpers.h"
#include "log.h"
#include "platform_string.h"

namespace ap = kestrane::appearance;

jfloatArray colorToFloatArray(JNIEnv* env, const kestrane::appearance::Rgba& color) {
    jfloatArray array = env->NewFloatArray(4);
    if (array == nullptr) return nullptr;
    const jfloat values[4] = {static_cast<jfloat>(color.red), static_cast<jfloat>(color.green), static_cast<jfloat>(color.blue),
                              static_cast<jfloat>(color.alpha)};
    env->SetFloatArrayRegion(array, 0, 4, values);
    return array;
}

namespace {

// A colour the system lacks: zeros, and the reason in the log.
jfloatArray colorArray(JNIEnv* env, ap::UIColor which) {
    const kestrane::Expected<ap::Rgba> color = ap::currentColor(which);
    if (!color) {
        jfloatArray zeros = env->NewFloatArray(4);
        kestrane::logLine(color.error().message);
        return zeros;
    }
    return colorToFloatArray(env, *color);
}

}  // namespace

JNIEXPORT jstring JNICALL Java_com_kestrane_core_osx_Appearance_getAppAppearanceName(JNIEnv* env, jclass) {
    return CreateJavaStringFromNSString(env, kestrane::jni::utf16FromUtf8(ap::appearanceName()));
}

JNIEXPORT jfloatArray JNICALL Java_com_kestrane_core_osx_UIElementColor__1getControlColor(JNIEnv* env, jclass) {
    return colorArray(env, ap::UIColor::kControl);
}
JNIEXPORT jfloatArray JNICALL Java_com_kestrane_core_osx_UIElementColor__1getControlBackgroundColor(JNIEnv* env, jclass) {
    return colorArray(env, ap::UIColor::kControlBackground);
}
JNIEXPORT jfloatArray JNICALL Java_com_kestrane_core_osx_UIElementColor__1getFindHighlightColor(JNIEnv* env, jclass) {
    return colorArray(env, ap::UIColor::kFindHighlight);
}
JNIEXPORT jfloatArray JNICALL Java_com_kestrane_core_osx_UIElementColor__1getHighlightColor(JNIEnv* env, jclass) {
    return colorArray(env, ap::UIColor::kHighlight);
}
JNIEXPORT jfloatArray JNICALL Java_com_kestrane_core_osx_UIElementColor__1getShadowColor(JNIEnv* env, jclass) {
    return colorArray(env, ap::UIColor::kShadow);
}
JNIEXPORT jfloatArray JNICALL Java_com_kestrane_core_osx_UIElementColor__1getSelectedControlColor(JNIEnv* env, jclass) {
    return colorArray(env, ap::UIColor::kSelectedControl);
}
JNIEXPORT jfloatArray JNICALL Java_com_kestrane_core_osx_UIElementColor__1getControlAccentColor(JNIEnv* env, jclass) {
    return colorArray(env, ap::UIColor::kControlAccent);
}
