// com.kestrane.core.osx.ProcessInfo: activities held by the Java side as handles.
#include <com_kestrane_core_osx_ProcessInfo.h>

#include <cstdint>

#include "activities.h"
#include "bundle_info.h"
#include "handles.h"
#include "no_destructor.h"
#include "platform_string.h"

namespace act = kestrane::activities;

namespace {

// The Java API's option bits that ask for something to be held off; other bits ask nothing.
constexpr std::uint64_t kSuddenTerminationDisabled = 1ull << 14;
constexpr std::uint64_t kIdleSystemSleepDisabled = 1ull << 20;
constexpr std::uint64_t kIdleDisplaySleepDisabled = 1ull << 40;

act::Inhibitions inhibitionsOf(jlong options) {
    const auto bits = static_cast<std::uint64_t>(options);
    return {.systemSleep = (bits & kIdleSystemSleepDisabled) != 0,
            .displaySleep = (bits & kIdleDisplaySleepDisabled) != 0,
            .logout = (bits & kSuddenTerminationDisabled) != 0};
}

// The live activities. Ending one that is not live (0, ended already) does nothing.
using ActivityRegistry = kestrane::jni::HandleRegistry<act::Activity, kestrane::HandleKind::activity>;
ActivityRegistry& activities() {
    static kestrane::NoDestructor<ActivityRegistry> registry;
    return registry.get();
}

}  // namespace

JNIEXPORT jlong JNICALL Java_com_kestrane_core_osx_ProcessInfo_nativeBeginActivityWithOptions(JNIEnv* env, jclass, jlong options,
                                                                                             jstring reason) {
    const auto text = kestrane::jni::javaStringToUtf8(env, reason, "reason");
    if (!text) return 0;
    static const std::string application = kestrane::bundle::applicationName(reinterpret_cast<const void*>(&activities));
    return activities().add(act::begin(inhibitionsOf(options), *text, application));
}

JNIEXPORT void JNICALL Java_com_kestrane_core_osx_ProcessInfo_nativeEndActivity(JNIEnv*, jclass, jlong handle) {
    activities().remove(handle);  // the locks go with the last reference
}
