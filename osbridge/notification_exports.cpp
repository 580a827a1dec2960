// com.kestrane.core.osx.UserNotificationCenter: a desktop notification.
#include <com_kestrane_core_osx_UserNotificationCenter.h>

#include "bundle_info.h"
#include "jni_scoped.h"
#include "notifications.h"
#include "platform_string.h"

namespace {

std::optional<std::string> utf8(JNIEnv* env, jstring string) {
    const PlatformString units = kestrane::jni::adoptedPlatformString(env, string);
    if (!units) return std::nullopt;
    return kestrane::jni::utf8FromUtf16(*units);
}

kestrane::notifications::Identity identity() {
    // The bundle around this library names the application and its icon.
    const void* self = reinterpret_cast<const void*>(&identity);
    kestrane::notifications::Identity id{kestrane::bundle::applicationName(self), ""};
    if (auto folder = kestrane::bundle::bundleOfCode(self)) id.iconName = kestrane::bundle::readBundleInfo(*folder).iconName.value_or("");
    return id;
}

}  // namespace

JNIEXPORT void JNICALL Java_com_kestrane_core_osx_UserNotificationCenter_nativeDeliverNotification(
    JNIEnv* env, jclass, jstring title, jstring, jstring informativeText, jstring soundName, jbyteArray image) {
    kestrane::notifications::Notification n{utf8(env, title), utf8(env, informativeText), utf8(env, soundName), {}};
    if (image != nullptr) {
        const kestrane::jni::ReadOnlyBytes bytes(env, image);
        if (bytes) n.image.assign(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                  reinterpret_cast<const std::uint8_t*>(bytes.data()) + bytes.size());
    }
    static const kestrane::notifications::Identity id = identity();
    kestrane::notifications::Center::instance(id).deliver(std::move(n));
}
