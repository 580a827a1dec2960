// com.kestrane.core.osx.UserNotificationCenter: a desktop notification.
#include <com_kestrane_core_osx_UserNotificationCenter.h>

#include <new>

#include "bundle_info.h"
#include "errors.h"
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
        // One copy straight into the notification: the caller waits for nothing else, the
        // picture is decoded on the center's thread.
        try {
            n.image.resize(static_cast<std::size_t>(env->GetArrayLength(image)));
        } catch (const std::bad_alloc&) {
            return kestrane::jni::throwOutOfMemory(env, "no memory for a copy of the notification's picture");
        }
        env->GetByteArrayRegion(image, 0, static_cast<jsize>(n.image.size()), reinterpret_cast<jbyte*>(n.image.data()));
    }
    static const kestrane::notifications::Identity id = identity();
    kestrane::notifications::Center::instance(id).deliver(std::move(n));
}
