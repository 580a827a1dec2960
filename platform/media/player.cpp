#include "player.h"

#include <gio/gio.h>
#include <gst/gst.h>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "audio_stream.h"
#include "bus.h"
#include "glib_ptr.h"
#include "gst_ptr.h"
#include "url.h"

namespace kestrane::media {

namespace {

constexpr std::int32_t kNanosecondTimescale = 1000000000;
constexpr const char* kStopMessage = "kestrane-player-stop";

bool initialised() {
    static const bool ok = [] {
        // GStreamer's own SIGSEGV handler, installed while it loads a plugin, would end a JVM
        // whose safepoints and null checks use that signal on purpose.
        gst_segtrap_set_enabled(FALSE);
        // GNOME's proxy resolver aborts the process when its settings schema is missing; a
        // network URL must never get there. Without the schema, GIO's plain resolver is used.
        GSettingsSchemaSource* schemas = g_settings_schema_source_get_default();  // transfer none
        const glib::Owned<GSettingsSchema, g_settings_schema_unref> proxy(
            schemas != nullptr ? g_settings_schema_source_lookup(schemas, "org.gnome.system.proxy", TRUE) : nullptr);
        if (!proxy) g_setenv("GIO_USE_PROXY_RESOLVER", "dummy", FALSE);
        // Network sources may start GDBus (proxies, network state), which would leave SIGPIPE
        // ignored for the whole process.
        dbus::setUpGDBusKeepingSignals();
        return gst_init_check(nullptr, nullptr, nullptr) != FALSE;
    }();
    return ok;
}

// Whether the text is a URI whose scheme an installed GStreamer element reads.
bool playable(const std::string& url) {
    if (gst_uri_is_valid(url.c_str()) == FALSE) return false;
    const glib::CharPtr protocol(gst_uri_get_protocol(url.c_str()));
    return protocol && gst_uri_protocol_is_supported(GST_URI_SRC, protocol.get()) != FALSE;
}

// Which failure of open() a GStreamer error is: a local file that is not there, or any
// other failure of the media. localPath: the file that a file URL names, none for a network URL.
PlayerError errorKind(const GError* error, const std::optional<std::string>& localPath) {
    if (error->domain != GST_RESOURCE_ERROR) return PlayerError::mediaFailed;
    // "Not found" is a missing file only for a local file; for a network URL it is an unknown
    // host or page, a plain input/output failure.
    if (error->code == GST_RESOURCE_ERROR_NOT_FOUND && localPath) return PlayerError::fileNotFound;
    if ((error->code == GST_RESOURCE_ERROR_OPEN_READ || error->code == GST_RESOURCE_ERROR_OPEN_READ_WRITE) && localPath &&
        g_file_test(localPath->c_str(), G_FILE_TEST_EXISTS) == FALSE) {
        return PlayerError::fileNotFound;
    }
    return PlayerError::mediaFailed;
}

// The audio output: a volume element of our own ahead of the sink. (playbin's soft-volume
// flag would do the same, but keeps its volume element and pads alive after each pipeline.)
struct AudioOutput {
    GstPtr<GstElement> bin;
    GstElement* volume = nullptr;  // owned by the bin
};

// None when an element is not installed.
std::optional<AudioOutput> makeAudioOutput() {
    const char* name = std::getenv("KESTRANE_AUDIO_SINK");
    const GstPtr<GstElement> sink = adoptFloating(gst_element_factory_make(name != nullptr && *name != '\0' ? name : "autoaudiosink", nullptr));
    const GstPtr<GstElement> gain = adoptFloating(gst_element_factory_make("volume", nullptr));
    const GstPtr<GstElement> convert = adoptFloating(gst_element_factory_make("audioconvert", nullptr));
    if (!sink || !gain || !convert) return std::nullopt;
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(sink.get()), "sync") != nullptr) {
        g_object_set(sink.get(), "sync", TRUE, nullptr);  // time passes as in real playback
    }
    AudioOutput output{adoptFloating(gst_bin_new("kestrane-audio-output")), gain.get()};
    // The bin takes a reference of its own to each element; ours go with the holders.
    gst_bin_add_many(GST_BIN(output.bin.get()), convert.get(), gain.get(), sink.get(), nullptr);
    gst_element_link_many(convert.get(), gain.get(), sink.get(), nullptr);
    const GstPtr<GstPad> input(gst_element_get_static_pad(convert.get(), "sink"));
    gst_element_add_pad(output.bin.get(), gst_ghost_pad_new("sink", input.get()));
    return output;
}

}  // namespace

struct Player::State {
    std::optional<std::string> localPath;  // the file that a file URL names
    // A local file's length measured from its headers: known as soon as open returns, where a
    // parser's duration query may answer only once playback has run for a while (MP3 without
    // a Xing header), or answer a guess from the first frame's bit rate.
    std::optional<gint64> measuredDuration;
    GstPtr<GstElement> pipeline;
    GstElement* volume = nullptr;  // owned by the pipeline's audio output
    GstPtr<GstBus> bus;
    std::thread busThread;

    // Guards the fields below; never held across a GStreamer call.
    mutable std::mutex mutex;
    std::condition_variable changed;
    Status status = Status::unknown;
    std::optional<Error> error;  // why loading failed
    std::optional<std::string> playerError;
    GstState current = GST_STATE_NULL;
    bool wantPlaying = false;
    float requestedRate = 1.0f;
    bool atEnd = false;
    bool buffering = false;
    bool seeking = false;
    gint64 lastPosition = 0;
    std::shared_ptr<Watcher> watcher;

    const Player* self = nullptr;  // the player made of this state, once open has made it

    // Tells the watcher, if any, of a change; the lock is not held while it runs.
    void notify(Change change) {
        std::shared_ptr<Watcher> w;
        const Player* player = nullptr;
        {
            std::lock_guard lock(mutex);
            w = watcher;
            player = self;
        }
        if (w && player != nullptr) w->playerChanged(player, change);
    }

    ~State() {
        if (busThread.joinable()) {
            gst_bus_post(bus.get(), gst_message_new_application(nullptr, gst_structure_new_empty(kStopMessage)));
            busThread.join();
        }
        if (pipeline) gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    }

    // Keeps statuses and errors current for every query, on a thread of the player's own.
    void runBus() {
        const auto types = static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_STATE_CHANGED |
                                                       GST_MESSAGE_EOS | GST_MESSAGE_BUFFERING | GST_MESSAGE_APPLICATION);
        for (;;) {
            const MessagePtr message(gst_bus_timed_pop_filtered(bus.get(), GST_CLOCK_TIME_NONE, types));
            if (message && handle(message.get())) return;
        }
    }

    bool handle(GstMessage* message) {
        switch (GST_MESSAGE_TYPE(message)) {
            case GST_MESSAGE_APPLICATION:
                return gst_structure_has_name(gst_message_get_structure(message), kStopMessage) != FALSE;
            case GST_MESSAGE_ERROR: {
                GError* parsed = nullptr;
                gst_message_parse_error(message, &parsed, nullptr);
                const glib::ErrorPtr err(parsed);
                const std::string reason = err ? glib::text(err->message) : "";
                const PlayerError kind = err ? errorKind(err.get(), localPath) : PlayerError::mediaFailed;
                {
                    std::lock_guard lock(mutex);
                    if (status == Status::readyToPlay) {
                        if (!playerError) playerError = reason;
                    } else if (!error) {
                        error = Error(kind, reason);
                    }
                    status = Status::failed;
                    wantPlaying = false;
                }
                changed.notify_all();
                notify(Change::paused);
                return false;
            }
            case GST_MESSAGE_ASYNC_DONE: {
                std::lock_guard lock(mutex);
                if (status == Status::unknown) status = Status::readyToPlay;
                seeking = false;
                changed.notify_all();
                return false;
            }
            case GST_MESSAGE_STATE_CHANGED: {
                if (GST_MESSAGE_SRC(message) != GST_OBJECT(pipeline.get())) return false;
                GstState oldState, newState;
                gst_message_parse_state_changed(message, &oldState, &newState, nullptr);
                std::lock_guard lock(mutex);
                current = newState;
                changed.notify_all();
                return false;
            }
            case GST_MESSAGE_EOS: {
                {
                    std::lock_guard lock(mutex);
                    atEnd = true;
                    wantPlaying = false;
                }
                // The action at the end of the item: pause there.
                gst_element_set_state(pipeline.get(), GST_STATE_PAUSED);
                changed.notify_all();
                notify(Change::paused);
                return false;
            }
            case GST_MESSAGE_BUFFERING: {
                gint percent = 100;
                gst_message_parse_buffering(message, &percent);
                bool resume = false, hold = false;
                {
                    std::lock_guard lock(mutex);
                    const bool was = buffering;
                    buffering = percent < 100;
                    hold = buffering && !was && wantPlaying;
                    resume = !buffering && was && wantPlaying;
                }
                if (hold) gst_element_set_state(pipeline.get(), GST_STATE_PAUSED);
                if (resume) gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
                changed.notify_all();
                return false;
            }
            default: return false;
        }
    }

    gint64 position() {
        gint64 pos = 0;
        if (gst_element_query_position(pipeline.get(), GST_FORMAT_TIME, &pos) && pos >= 0) {
            std::lock_guard lock(mutex);
            lastPosition = pos;
            return pos;
        }
        std::lock_guard lock(mutex);
        return lastPosition;
    }

    void seekTo(double rate, gint64 nanoseconds) {
        {
            std::lock_guard lock(mutex);
            seeking = true;
            atEnd = false;
            lastPosition = nanoseconds;
        }
        const auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
        const bool ok = rate >= 0 ? gst_element_seek(pipeline.get(), rate, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET, nanoseconds,
                                                     GST_SEEK_TYPE_NONE, GST_CLOCK_TIME_NONE)
                                  : gst_element_seek(pipeline.get(), rate, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET, 0,
                                                     GST_SEEK_TYPE_SET, nanoseconds);
        if (!ok) {
            std::lock_guard lock(mutex);
            seeking = false;
        }
    }
};

Player::Player(Key, std::unique_ptr<State> state) : state_(std::move(state)) {
    std::lock_guard lock(state_->mutex);
    state_->self = this;
}

Player::~Player() {
    state_->notify(Change::closed);
}

void Player::watch(std::shared_ptr<Watcher> watcher) {
    std::lock_guard lock(state_->mutex);
    state_->watcher = std::move(watcher);
}

Expected<std::unique_ptr<Player>> Player::open(const std::string& text, std::chrono::milliseconds timeout) {
    // A file URL is handed on in the one form GStreamer's file source reads (no host: it
    // refuses this machine's own name); another machine's file is nothing any element reads.
    std::string uri = text;
    std::optional<std::string> localPath;
    if (url::hasFileScheme(text)) {
        Expected<std::string> path = url::parseFileUrl(text);
        if (!path) return Error(PlayerError::notPlayable, path.error().message);
        localPath = std::move(path).value();
        uri = url::fileUrlOf(*localPath);
    }
    if (!initialised() || !playable(uri)) return Error(PlayerError::notPlayable, "The URL names nothing GStreamer can read.");

    auto state = std::make_unique<State>();
    if (localPath) {
        if (const Expected<audiofile::StreamInfo> info = audiofile::measureFile(*localPath); info && info->sampleRate > 0 && info->samples > 0) {
            state->measuredDuration = scaleTime(info->samples, kNanosecondTimescale, info->sampleRate);
        }
    }
    state->localPath = std::move(localPath);
    state->pipeline = adoptFloating(gst_element_factory_make("playbin", nullptr));
    if (!state->pipeline) return Error(PlayerError::notPlayable, "GStreamer's playbin is not installed.");
    // Audio only: a video track is never shown.
    constexpr guint kPlayAudio = 1u << 1;
    g_object_set(state->pipeline.get(), "uri", uri.c_str(), "flags", kPlayAudio, nullptr);
    std::optional<AudioOutput> output = makeAudioOutput();
    if (!output) return Error(PlayerError::notPlayable, "GStreamer's audio output elements are not installed.");
    state->volume = output->volume;
    g_object_set(state->pipeline.get(), "audio-sink", output->bin.get(), nullptr);
    state->bus.reset(gst_element_get_bus(state->pipeline.get()));
    State* s = state.get();
    state->busThread = std::thread([s] { s->runBus(); });

    // Preroll in the background; the status moves from unknown on its own.
    if (gst_element_set_state(state->pipeline.get(), GST_STATE_PAUSED) == GST_STATE_CHANGE_NO_PREROLL) {
        std::lock_guard lock(state->mutex);
        state->status = Status::readyToPlay;  // a live source: nothing to preroll
    }

    // Wait for the media: the status changes on the bus thread, which wakes us at once.
    std::unique_lock lock(state->mutex);
    state->changed.wait_for(lock, timeout, [s] { return s->status != Status::unknown; });
    if (state->status == Status::readyToPlay) {
        lock.unlock();
        return std::make_unique<Player>(Key(), std::move(state));
    }
    Error failure = state->error.value_or(Error(PlayerError::loadTimedOut, "The media did not load in time."));
    lock.unlock();
    return failure;  // the unready pipeline goes with its state here
}

Status Player::status() const {
    std::lock_guard lock(state_->mutex);
    return state_->status;
}

std::optional<std::string> Player::playerError() const {
    std::lock_guard lock(state_->mutex);
    return state_->playerError;
}

void Player::play() {
    float rate;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->atEnd) return;  // paused at the end of the item: nothing left to play
        state_->wantPlaying = true;
        rate = state_->requestedRate;
        state_->requestedRate = 1.0f;
    }
    if (rate != 1.0f) state_->seekTo(1.0, state_->position());
    gst_element_set_state(state_->pipeline.get(), GST_STATE_PLAYING);
    state_->notify(Change::started);
}

void Player::pause() {
    {
        std::lock_guard lock(state_->mutex);
        state_->wantPlaying = false;
    }
    gst_element_set_state(state_->pipeline.get(), GST_STATE_PAUSED);
    state_->notify(Change::paused);
}

void Player::playImmediatelyAtRate(float rate) {
    if (!std::isfinite(rate)) return;  // no rate to play at: nothing changes
    if (rate == 0.0f) return pause();
    float previous;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->atEnd && rate > 0) return;
        previous = state_->requestedRate;
        state_->requestedRate = rate;
        state_->wantPlaying = true;
    }
    if (rate != previous) state_->seekTo(rate, state_->position());
    gst_element_set_state(state_->pipeline.get(), GST_STATE_PLAYING);
    state_->notify(Change::started);
}

float Player::rate() const {
    std::lock_guard lock(state_->mutex);
    return state_->wantPlaying ? state_->requestedRate : 0.0f;
}

void Player::seek(Time to) {
    if (!to.valid() || to.timescale <= 0) return;
    gint64 ns = scaleTime(to.value, kNanosecondTimescale, to.timescale);
    // A time past the end goes to the end, one before the start to the start.
    gint64 end = 0;
    if (to.value > 0 && gst_element_query_duration(state_->pipeline.get(), GST_FORMAT_TIME, &end) && end >= 0 &&
        (ns > end || ns < 0)) {
        ns = end;
    }
    float rate;
    {
        std::lock_guard lock(state_->mutex);
        rate = state_->requestedRate;
    }
    state_->seekTo(rate, std::max<gint64>(ns, 0));
    state_->notify(Change::seeked);
}

Time Player::currentTime() const {
    bool atEnd;
    {
        std::lock_guard lock(state_->mutex);
        atEnd = state_->atEnd;
    }
    if (atEnd) {
        // Paused at the end: the end itself, where the position query may fall a little short.
        gint64 d = 0;
        if (gst_element_query_duration(state_->pipeline.get(), GST_FORMAT_TIME, &d) && d >= 0) return {d, kNanosecondTimescale, Time::kValid};
    }
    return {state_->position(), kNanosecondTimescale, Time::kValid};
}

Time Player::duration() const {
    if (state_->measuredDuration) return {*state_->measuredDuration, kNanosecondTimescale, Time::kValid};
    gint64 d = 0;
    if (gst_element_query_duration(state_->pipeline.get(), GST_FORMAT_TIME, &d) && d >= 0) return {d, kNanosecondTimescale, Time::kValid};
    if (status() == Status::readyToPlay) return {0, 1, Time::kValid | Time::kIndefinite};
    return {};
}

void Player::setMuted(bool muted) {
    g_object_set(state_->volume, "mute", muted ? TRUE : FALSE, nullptr);
}

bool Player::muted() const {
    gboolean muted = FALSE;
    g_object_get(state_->volume, "mute", &muted, nullptr);
    return muted != FALSE;
}

void Player::setVolume(float volume) {
    if (std::isnan(volume)) return;  // no volume at all: nothing changes
    // The volume element takes 0 .. 10 and refuses anything else with a warning.
    g_object_set(state_->volume, "volume", std::clamp(static_cast<double>(volume), 0.0, 10.0), nullptr);
    state_->notify(Change::volume);
}

float Player::volume() const {
    gdouble volume = 0;
    g_object_get(state_->volume, "volume", &volume, nullptr);
    return static_cast<float>(volume);
}

TimeControl Player::timeControlStatus() const {
    std::lock_guard lock(state_->mutex);
    if (!state_->wantPlaying) return TimeControl::paused;
    if (state_->current == GST_STATE_PLAYING && !state_->buffering && !state_->seeking) return TimeControl::playing;
    return TimeControl::waitingToPlay;
}

std::optional<WaitingReason> Player::reasonForWaitingToPlay() const {
    if (timeControlStatus() != TimeControl::waitingToPlay) return std::nullopt;
    std::lock_guard lock(state_->mutex);
    if (state_->status == Status::failed) return WaitingReason::noItemToPlay;
    if (state_->buffering) return WaitingReason::minimizingStalls;
    return WaitingReason::evaluatingBufferingRate;
}

}  // namespace kestrane::media
