// com.kestrane.core.osx.Appearance and UIElementColor: the appearance's name and seven
// interface colours as float[4] {red, green, blue, alpha} in sRGB.
#include <com_kestrane_core_osx_Appearance.h>
#include <com_kestrane_core_osx_UIElementColor.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "appearance.h"
#include "exported_helpers.h"
#include "log.h"
#include "platform_string.h"

namespace ap = kestrane::appearance;

namespace {

// The Java API's names of the desktop's looks.
constexpr std::pair<ap::Look, const char16_t*> kLookNames[] = {
    {ap::Look::unknown, u"Unknown"},
    {ap::Look::light, u"NSAppearanceNameAqua"},
    {ap::Look::dark, u"NSAppearanceNameDarkAqua"},
};

// Colours that older systems of the Java API's platform lack: the system version (10.minor)
// that added each, and the line logged where it is missing. Here every colour exists; the
// variable KESTRANE_APPEARANCE_SYSTEM_VERSION ("10.12") makes the library answer as on such an
// older system, so that the Java side's handling of it can be tested.
struct NewerColor {
    ap::UIColor color;
    int sinceMinor;
    const char* missing;
};
constexpr NewerColor kNewerColors[] = {
    {ap::UIColor::kFindHighlight, 13, "findHighlightColor only supported in macOS 10.13 or later."},
    {ap::UIColor::kControlAccent, 14, "controlAccentColor only supported in macOS 10.14 or later."},
};

// The line to log when the simulated system lacks the colour; null when it has it.
const char* missingOnSimulatedSystem(ap::UIColor which) {
    const char* version = std::getenv("KESTRANE_APPEARANCE_SYSTEM_VERSION");
    if (version == nullptr || *version == '\0') return nullptr;
    int major = 0, minor = 0;
    std::sscanf(version, "%d.%d", &major, &minor);
    for (const NewerColor& newer : kNewerColors) {
        if (newer.color == which && (major < 10 || (major == 10 && minor < newer.sinceMinor))) return newer.missing;
    }
    return nullptr;
}

// The colour; a colour the system lacks reads as zeros, with the reason in the log.
jfloatArray colorArray(JNIEnv* env, ap::UIColor which) {
    if (const char* missing = missingOnSimulatedSystem(which)) {
        jfloatArray zeros = env->NewFloatArray(4);
        kestrane::logLine(missing);
        return zeros;
    }
    return colorToFloatArray(env, ap::currentColor(which));
}

}  // namespace

JNIEXPORT jstring JNICALL Java_com_kestrane_core_osx_Appearance_getAppAppearanceName(JNIEnv* env, jclass) {
    const ap::Look look = ap::currentLook();
    for (const auto& [which, name] : kLookNames) {
        if (which == look) return CreateJavaStringFromNSString(env, std::u16string(name));
    }
    return nullptr;  // a look without a name
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
