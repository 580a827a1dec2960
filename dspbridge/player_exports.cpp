// com.kestrane.sonvekt.player.AVPlayer: a media player held by the Java side as a handle.
//
// Players live in a registry of live handles: a call with a handle that is not live (0,
// closed already, never made) answers as for 0, and a player that one thread closes while
// others are using it goes only when their calls have returned.
#include <com_kestrane_sonvekt_player_AVPlayer.h>

#include <chrono>
#include <memory>
#include <optional>
#include <utility>

#include "bundle_info.h"
#include "errors.h"
#include "exported_helpers.h"
#include "handles.h"
#include "mpris.h"
#include "no_destructor.h"
#include "platform_string.h"
#include "player.h"

namespace media = kestrane::media;

namespace {

// How long open waits for the media to load.
constexpr std::chrono::seconds kLoadTimeout{10};

using PlayerRegistry = kestrane::jni::HandleRegistry<media::Player, kestrane::HandleKind::player>;
PlayerRegistry& players() {
    static kestrane::NoDestructor<PlayerRegistry> registry;
    return registry.get();
}

// The desktop's media controls, which show the players of this process under the bundle's
// name and identifier.
kestrane::mpris::Service& desktopControls() {
    static const kestrane::mpris::Identity identity = [] {
        const void* self = reinterpret_cast<const void*>(&desktopControls);
        kestrane::mpris::Identity id{kestrane::bundle::applicationName(self), std::nullopt};
        if (auto folder = kestrane::bundle::bundleOfCode(self)) id.desktopEntry = kestrane::bundle::readBundleInfo(*folder).identifier;
        return id;
    }();
    return kestrane::mpris::Service::shared(identity);
}

// The live player of a handle, kept alive by the caller's reference; null for a handle that
// is not live.
std::shared_ptr<media::Player> playerOf(jlong handle) {
    return players().find(handle);
}

// Milliseconds of a time: the value times 1000 over the timescale, truncated toward zero. An
// invalid time (no player, no media) reads as 0 rather than as a number that is not one.
jlong milliseconds(const media::Time& t) {
    if (!t.valid() || t.timescale <= 0) return 0;
    return media::scaleTime(t.value, 1000, t.timescale);
}

// The Java API's words for the player's outcomes, in one place.
//
// The failures of open: the code for playerThrowIOExceptionIfError (kFileNotFoundCode throws
// FileNotFoundException, any other non-zero code IOException) and the message; a message of
// null passes on the media's own reason.
constexpr int kOtherFailureCode = -1;
struct OpenFailure {
    media::PlayerError error;
    int code;
    const char* message;
};
constexpr OpenFailure kOpenFailures[] = {
    {media::PlayerError::notPlayable, kOtherFailureCode, "Asset is not playable."},
    {media::PlayerError::loadTimedOut, kOtherFailureCode, "Failed to load media."},
    {media::PlayerError::fileNotFound, kFileNotFoundCode, nullptr},
    {media::PlayerError::mediaFailed, kOtherFailureCode, nullptr},
};

// Why a player waits, in the Java API's texts.
constexpr std::pair<media::WaitingReason, const char*> kWaitingReasons[] = {
    {media::WaitingReason::noItemToPlay, "AVPlayerWaitingWithNoItemToPlayReason"},
    {media::WaitingReason::minimizingStalls, "AVPlayerWaitingToMinimizeStallsReason"},
    {media::WaitingReason::evaluatingBufferingRate, "AVPlayerWaitingWhileEvaluatingBufferingRateReason"},
};

// The exception of a failed open.
void throwOpenFailure(JNIEnv* env, const kestrane::Error& error) {
    const std::optional<media::PlayerError> kind = error.as<media::PlayerError>();
    const char* reason = error.message.empty() ? nullptr : error.message.c_str();
    for (const OpenFailure& failure : kOpenFailures) {
        if (kind != failure.error) continue;
        return playerThrowIOExceptionIfError(env, failure.code, failure.message != nullptr ? failure.message : reason);
    }
    playerThrowIOExceptionIfError(env, kOtherFailureCode, reason);  // a failure of no kind above
}

jstring javaText(JNIEnv* env, std::optional<media::WaitingReason> reason) {
    for (const auto& [which, text] : kWaitingReasons) {
        if (reason == which) return kestrane::jni::javaStringFromUtf8(env, text);
    }
    return nullptr;
}

}  // namespace

JNIEXPORT jlong JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_open(JNIEnv* env, jclass, jstring url) {
    const auto text = kestrane::jni::javaStringToUtf8(env, url, "url");
    if (!text) return 0;
    kestrane::Expected<std::unique_ptr<media::Player>> opened = media::Player::open(*text, kLoadTimeout);
    if (!opened) return throwOpenFailure(env, opened.error()), 0;
    // The Java side owns the player from here until close; the desktop shows it meanwhile.
    std::shared_ptr<media::Player> player = std::move(opened).value();
    const jlong handle = players().add(player);
    desktopControls().add(player, *text);
    return handle;
}

JNIEXPORT void JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_close(JNIEnv*, jclass, jlong handle) {
    // Takes the Java side's reference back; the player goes once no call is using it.
    players().remove(handle);
}

JNIEXPORT void JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_start(JNIEnv*, jclass, jlong handle) {
    if (auto p = playerOf(handle)) p->play();
}

JNIEXPORT void JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_stop(JNIEnv*, jclass, jlong handle) {
    if (auto p = playerOf(handle)) p->pause();
}

JNIEXPORT void JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_playImmediatelyAtRate(JNIEnv*, jclass, jlong handle,
                                                                                       jfloat rate) {
    if (auto p = playerOf(handle)) p->playImmediatelyAtRate(rate);
}

JNIEXPORT void JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_reset(JNIEnv*, jclass, jlong handle) {
    if (auto p = playerOf(handle)) p->seek({0, 1, media::Time::kValid});
}

JNIEXPORT jboolean JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_isPlaying(JNIEnv*, jclass, jlong handle) {
    const auto p = playerOf(handle);
    return p != nullptr && p->rate() > 0.0f ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT void JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_setMuted(JNIEnv*, jclass, jlong handle, jboolean muted) {
    if (auto p = playerOf(handle)) p->setMuted(muted != JNI_FALSE);
}

JNIEXPORT jboolean JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_isMuted(JNIEnv*, jclass, jlong handle) {
    const auto p = playerOf(handle);
    return p != nullptr && p->muted() ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT void JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_setVolume(JNIEnv*, jclass, jlong handle, jfloat volume) {
    if (auto p = playerOf(handle)) p->setVolume(volume);
}

JNIEXPORT jfloat JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_getVolume(JNIEnv*, jclass, jlong handle) {
    const auto p = playerOf(handle);
    return p != nullptr ? p->volume() : 0.0f;
}

JNIEXPORT void JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_setTime(JNIEnv*, jclass, jlong handle, jlong millis) {
    // The time for millis / 1000.0 seconds at timescale 1000 is millis itself.
    if (auto p = playerOf(handle)) p->seek({millis, 1000, media::Time::kValid});
}

JNIEXPORT jlong JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_getTime(JNIEnv*, jclass, jlong handle) {
    const auto p = playerOf(handle);
    return p != nullptr ? milliseconds(p->currentTime()) : 0;
}

JNIEXPORT jlong JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_getDuration(JNIEnv*, jclass, jlong handle) {
    const auto p = playerOf(handle);
    if (p == nullptr) return 0;
    const media::Time d = p->duration();
    if (d.valid() && d.indefinite()) return -1;
    return milliseconds(d);
}

JNIEXPORT jint JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_getStatus(JNIEnv*, jclass, jlong handle) {
    const auto p = playerOf(handle);
    return p != nullptr ? static_cast<jint>(p->status()) : 0;
}

JNIEXPORT jstring JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_getError(JNIEnv* env, jclass, jlong handle) {
    const auto p = playerOf(handle);
    return p != nullptr ? kestrane::jni::javaStringFromUtf8(env, p->playerError()) : nullptr;
}

JNIEXPORT jint JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_getTimeControlStatus(JNIEnv*, jclass, jlong handle) {
    const auto p = playerOf(handle);
    return p != nullptr ? static_cast<jint>(p->timeControlStatus()) : 0;
}

JNIEXPORT jstring JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_getReasonForWaitingToPlay(JNIEnv* env, jclass,
                                                                                             jlong handle) {
    const auto p = playerOf(handle);
    return p != nullptr ? javaText(env, p->reasonForWaitingToPlay()) : nullptr;
}
