// com.kestrane.core.app.Digest, com.kestrane.core.social.SocialOSX and
// com.kestrane.core.osx.HelpHook: the content digest, sharing, and the help.
#include <com_kestrane_core_app_Digest.h>
#include <com_kestrane_core_osx_HelpHook.h>
#include <com_kestrane_core_social_SocialOSX.h>

#include "bundle_info.h"
#include "desktoplaunch.h"
#include "digest.h"
#include "errors.h"
#include "jni_scoped.h"
#include "platform_string.h"

namespace dl = kestrane::desktoplaunch;

namespace {

// The adopting conversion as UTF-8 for the desktop; null stays none.
std::optional<std::string> textOf(JNIEnv* env, jstring text) {
    const PlatformString units = kestrane::jni::adoptedPlatformString(env, text);
    if (!units) return std::nullopt;
    return kestrane::jni::utf8FromUtf16(*units);
}

}  // namespace

JNIEXPORT jbyteArray JNICALL Java_com_kestrane_core_app_Digest_digest(JNIEnv* env, jclass, jbyteArray data) {
    if (data == nullptr) return kestrane::jni::throwNullArgument(env, "data"), nullptr;
    std::array<std::uint8_t, 16> md5{};
    {
        const kestrane::jni::ReadOnlyBytes bytes(env, data);
        if (!bytes) return nullptr;
        md5 = kestrane::digest::prefixedMd5({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    }
    jbyteArray result = env->NewByteArray(16);
    if (result != nullptr) env->SetByteArrayRegion(result, 0, 16, reinterpret_cast<const jbyte*>(md5.data()));
    return result;
}

JNIEXPORT jboolean JNICALL Java_com_kestrane_core_social_SocialOSX_isConfigured(JNIEnv*, jclass, jint service) {
    const auto s = dl::serviceAt(service);
    return s && dl::isConfigured(*s) ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jboolean JNICALL Java_com_kestrane_core_social_SocialOSX_canShare(JNIEnv* env, jclass, jint service, jstring text) {
    const auto s = dl::serviceAt(service);
    return s && dl::canShare(*s, textOf(env, text)) ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT void JNICALL Java_com_kestrane_core_social_SocialOSX_share(JNIEnv* env, jclass, jint service, jstring text) {
    if (const auto s = dl::serviceAt(service)) dl::share(*s, textOf(env, text));
}

JNIEXPORT void JNICALL Java_com_kestrane_core_osx_HelpHook_showHelp(JNIEnv*, jclass) {
    dl::showHelp(kestrane::bundle::bundleOfCode(reinterpret_cast<const void*>(&Java_com_kestrane_core_osx_HelpHook_showHelp)));
}
