// com.kestrane.sonvekt.player.AVPlayer: a media player held by the Java side as a handle.
#include <com_kestrane_sonvekt_player_AVPlayer.h>

#include <cstdint>

#include "errors.h"
#include "platform_string.h"
#include "player.h"

namespace media = kestrane::media;

extern "C" {
// Applies the error rule of open: 0 throws nothing, -43 FileNotFoundException, any other code
// IOException, each with message (UTF-8, may be null).
[[gnu::visibility("default")]] void playerThrowIOExceptionIfError(JNIEnv* env, int code, const char* message);
}

void playerThrowIOExceptionIfError(JNIEnv* env, int code, const char* message) {
    if (code == 0) return;
    kestrane::jni::throwJava(env, code == media::kFileNotFound ? "java/io/FileNotFoundException" : "java/io/IOException",
                             message);
}

namespace {

media::Player* playerOf(jlong handle) {
    return reinterpret_cast<media::Player*>(static_cast<std::uintptr_t>(handle));
}

// Milliseconds of a time: the value times 1000 over the timescale, truncated toward zero. An
// invalid time (no player, no media) reads as 0 rather than as a number that is not one.
jlong milliseconds(const media::Time& t) {
    if (!t.valid() || t.timescale <= 0) return 0;
    return media::scaleTime(t.value, 1000, t.timescale);
}

}  // namespace

JNIEXPORT jlong JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_open(JNIEnv* env, jclass, jstring url) {
    const auto text = kestrane::jni::javaStringToUtf8(env, url, "url");
    if (!text) return 0;
    std::unique_ptr<media::Player> player = media::Player::create(*text);
    if (!player) return kestrane::jni::throwJava(env, "java/io/IOException", "Asset is not playable."), 0;

    // At most 100 pauses of 0.1 seconds while the media loads; a pause ends as soon as the
    // status is known.
    player->waitWhileLoading(100, 0.1);
    if (player->itemStatus() == media::Status::readyToPlay) {
        // Prerolled already; at the end of the item the player pauses. The Java side owns
        // the player from here until close.
        return static_cast<jlong>(reinterpret_cast<std::uintptr_t>(player.release()));
    }
    const std::optional<media::Error> error = player->itemError();
    if (!error) return kestrane::jni::throwJava(env, "java/io/IOException", "Failed to load media."), 0;
    playerThrowIOExceptionIfError(env, error->code, error->reason.empty() ? nullptr : error->reason.c_str());
    return 0;
}

JNIEXPORT void JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_start(JNIEnv*, jclass, jlong handle) {
    if (auto* p = playerOf(handle)) p->play();
}

JNIEXPORT void JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_stop(JNIEnv*, jclass, jlong handle) {
    if (auto* p = playerOf(handle)) p->pause();
}

JNIEXPORT void JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_playImmediatelyAtRate(JNIEnv*, jclass, jlong handle,
                                                                                       jfloat rate) {
    if (auto* p = playerOf(handle)) p->playImmediatelyAtRate(rate);
}

JNIEXPORT void JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_reset(JNIEnv*, jclass, jlong handle) {
    if (auto* p = playerOf(handle)) p->seek({0, 1, media::Time::kValid});
}

JNIEXPORT jboolean JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_isPlaying(JNIEnv*, jclass, jlong handle) {
    auto* p = playerOf(handle);
    return p != nullptr && p->rate() > 0.0f ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT void JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_setMuted(JNIEnv*, jclass, jlong handle, jboolean muted) {
    if (auto* p = playerOf(handle)) p->setMuted(muted != JNI_FALSE);
}

JNIEXPORT jboolean JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_isMuted(JNIEnv*, jclass, jlong handle) {
    auto* p = playerOf(handle);
    return p != nullptr && p->muted() ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT void JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_setVolume(JNIEnv*, jclass, jlong handle, jfloat volume) {
    if (auto* p = playerOf(handle)) p->setVolume(volume);
}

JNIEXPORT jfloat JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_getVolume(JNIEnv*, jclass, jlong handle) {
    auto* p = playerOf(handle);
    return p != nullptr ? p->volume() : 0.0f;
}

JNIEXPORT void JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_setTime(JNIEnv*, jclass, jlong handle, jlong millis) {
    // The time for millis / 1000.0 seconds at timescale 1000 is millis itself.
    if (auto* p = playerOf(handle)) p->seek({millis, 1000, media::Time::kValid});
}

JNIEXPORT jlong JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_getTime(JNIEnv*, jclass, jlong handle) {
    auto* p = playerOf(handle);
    return p != nullptr ? milliseconds(p->currentTime()) : 0;
}

JNIEXPORT jlong JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_getDuration(JNIEnv*, jclass, jlong handle) {
    auto* p = playerOf(handle);
    if (p == nullptr) return 0;
    const media::Time d = p->duration();
    if (d.valid() && d.indefinite()) return -1;
    return milliseconds(d);
}

JNIEXPORT void JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_close(JNIEnv*, jclass, jlong handle) {
    // Takes the Java side's reference back; the player and its pipeline end here.
    std::unique_ptr<media::Player> owned(playerOf(handle));
}

JNIEXPORT jint JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_getStatus(JNIEnv*, jclass, jlong handle) {
    auto* p = playerOf(handle);
    return p != nullptr ? static_cast<jint>(p->status()) : 0;
}

JNIEXPORT jstring JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_getError(JNIEnv* env, jclass, jlong handle) {
    auto* p = playerOf(handle);
    if (p == nullptr) return nullptr;
    const auto error = p->playerError();
    if (!error) return nullptr;
    return CreateJavaStringFromNSString(env, kestrane::jni::utf16FromUtf8(*error));
}

JNIEXPORT jint JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_getTimeControlStatus(JNIEnv*, jclass, jlong handle) {
    auto* p = playerOf(handle);
    return p != nullptr ? static_cast<jint>(p->timeControlStatus()) : 0;
}

JNIEXPORT jstring JNICALL Java_com_kestrane_sonvekt_player_AVPlayer_getReasonForWaitingToPlay(JNIEnv* env, jclass,
                                                                                             jlong handle) {
    auto* p = playerOf(handle);
    if (p == nullptr) return nullptr;
    const auto reason = p->reasonForWaitingToPlay();
    if (!reason) return nullptr;
    return CreateJavaStringFromNSString(env, kestrane::jni::utf16FromUtf8(*reason));
}
