// A media player on a GStreamer playbin, with the operations and statuses that the Java
// player needs: rational times, a status that moves from loading to ready or failed on its
// own, the item's error, play/pause/rate, seeking, volume and mute.
//
// Audio goes to autoaudiosink, or to the sink named by KESTRANE_AUDIO_SINK ("fakesink" in
// tests and on machines without a sound device; it is then run with sync=true so that time
// passes as in real playback). Video is never shown.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

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

// The error code of a media file that does not exist.
constexpr int kFileNotFound = -43;

struct Error {
    int code = 0;        // kFileNotFound, or a non-zero code of ours
    std::string reason;  // GStreamer's message
};

class Player {
public:
    // A player for the URL, already loading in the background; none when the text is not a
    // valid URI or no installed element reads its scheme ("not playable").
    static std::unique_ptr<Player> create(const std::string& url);
    ~Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    // Waits until the status is no longer unknown, at most maxPauses pauses of pauseSeconds
    // each; a pause ends early when the status changes.
    void waitWhileLoading(int maxPauses, double pauseSeconds);

    Status status() const;      // the player's
    Status itemStatus() const;  // the item's (one item per player)
    std::optional<Error> itemError() const;
    // The text of an error raised after the media was ready, or none.
    std::optional<std::string> playerError() const;

    void play();
    void pause();
    void playImmediatelyAtRate(float rate);
    float rate() const;  // 0 while paused or stopped, else the playing rate

    void seek(Time to);  // flushing and accurate; returns at once
    Time currentTime() const;
    Time duration() const;  // indefinite for media without a known length

    void setMuted(bool muted);
    bool muted() const;
    void setVolume(float volume);
    float volume() const;

    TimeControl timeControlStatus() const;
    std::optional<std::string> reasonForWaitingToPlay() const;

    struct State;
    // Only create() can make the key, so only create() makes players.
    class Key {
        friend class Player;
        Key() = default;
    };
    Player(Key, std::unique_ptr<State> state);

private:
    std::unique_ptr<State> state_;
};

}  // namespace kestrane::media
