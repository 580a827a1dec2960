// A media player on a GStreamer playbin, with the operations and statuses that the Java
// player needs: opening with a bounded wait for the media to load, rational times,
// play/pause/rate, seeking, volume and mute, and the player's error.
//
// Audio goes to autoaudiosink, or to the sink named by KESTRANE_AUDIO_SINK ("fakesink" in
// tests and on machines without a sound device; it is then run with sync=true so that time
// passes as in real playback). Video is never shown.
//
// Threads. Every method may be called from any thread, also while other threads call this
// player. The one exception is destruction: it must come after every other call has returned
// (the bridge's handle registry keeps a player alive while a call is using it). GStreamer's
// elements and properties are safe to drive from several threads; the player's own mutex
// guards only its status fields and is never held across a GStreamer call, so a slow query
// never blocks a status read. A bus thread of the player's own keeps the statuses current.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "expected.h"

namespace kestrane::media {

// A rational time: value / timescale seconds. Flags: 0x1 valid, 0x10 indefinite.
struct Time {
    std::int64_t value = 0;
    std::int32_t timescale = 0;
    std::uint32_t flags = 0;
    static constexpr std::uint32_t kValid = 0x1;
    static constexpr std::uint32_t kIndefinite = 0x10;
    bool valid() const { return (flags & kValid) != 0; }
    bool indefinite() const { return (flags & kIndefinite) != 0; }
};

// value * numerator / denominator, truncated toward zero, without overflowing for any time
// of less than about three hundred years.
constexpr std::int64_t scaleTime(std::int64_t value, std::int64_t numerator, std::int64_t denominator) {
    return value / denominator * numerator + value % denominator * numerator / denominator;
}

// 0 while loading, 1 once ready (prerolled), 2 after an error.
enum class Status { unknown = 0, readyToPlay = 1, failed = 2 };
// 0 paused, 1 waiting to play at the requested rate, 2 playing.
enum class TimeControl { paused = 0, waitingToPlay = 1, playing = 2 };

// Why open() failed. The media's own failures carry GStreamer's message.
enum class PlayerError {
    notPlayable = 1,   // not a URI, no installed element reads its scheme, or a file URL that
                       // names no file of this machine (url.h)
    loadTimedOut = 2,  // the media gave no answer within the timeout
    fileNotFound = 3,  // a local file that is not there
    mediaFailed = 4,   // any other error of the media (unreadable, not media, a network failure)
};

// Why a player that was asked to play is waiting instead.
enum class WaitingReason {
    noItemToPlay,             // its media failed
    minimizingStalls,         // buffering a network stream
    evaluatingBufferingRate,  // starting, seeking, or changing state
};

class Player;

// What changed in a player, for a watcher that shows the player elsewhere (the desktop's media
// controls): it was asked to play (play, a rate), it stopped playing (pause, the end of its
// media, an error), its volume, a seek, and its end (called from its destructor).
enum class Change { started, paused, volume, seeked, closed };
class Watcher {
public:
    virtual ~Watcher() = default;
    // Called on the thread that made the change (a caller's, the player's bus thread, or the one
    // destroying it), after the change. It must return at once, without waiting for anything
    // and without calling the player: it is called with a player that may be going (closed),
    // which is passed for its identity only.
    virtual void playerChanged(const Player* player, Change change) noexcept = 0;
};

class Player {
public:
    // A player for the URL (a file is named by a file URL of this machine, url.h), once its
    // media is ready to play (prerolled, paused, set to pause at the end of the media). Fails
    // at once with notPlayable; otherwise waits for the media, at most timeout, and fails with
    // the media's error (fileNotFound, mediaFailed) or loadTimedOut.
    static Expected<std::unique_ptr<Player>> open(const std::string& url, std::chrono::milliseconds timeout);
    ~Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    Status status() const;
    // The text of an error raised after the media was ready, or none.
    std::optional<std::string> playerError() const;

    void play();
    void pause();
    void playImmediatelyAtRate(float rate);
    float rate() const;  // 0 while paused or stopped, else the playing rate

    void seek(Time to);  // flushing and accurate; returns at once
    Time currentTime() const;
    // A local file's length as its headers give it (the same as the music library's), known
    // once open returns; else GStreamer's; indefinite for media without a known length.
    Time duration() const;

    void setMuted(bool muted);
    bool muted() const;
    void setVolume(float volume);
    float volume() const;

    // Tells watcher of every change from now on, in place of the watcher before (none: nobody).
    void watch(std::shared_ptr<Watcher> watcher);

    TimeControl timeControlStatus() const;
    // None unless timeControlStatus() is waitingToPlay.
    std::optional<WaitingReason> reasonForWaitingToPlay() const;

    struct State;
    // Only open() can make the key, so only open() makes players.
    class Key {
        friend class Player;
        Key() = default;
    };
    Player(Key, std::unique_ptr<State> state);

private:
    std::unique_ptr<State> state_;
};

}  // namespace kestrane::media
