#include "mpris.h"

#include <gio/gio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>

#include "bus.h"
#include "folders.h"
#include "glib_ptr.h"
#include "log.h"
#include "main_loop_thread.h"
#include "no_destructor.h"

namespace kestrane::mpris {

namespace {

constexpr const char* kPath = "/org/mpris/MediaPlayer2";
constexpr const char* kRootInterface = "org.mpris.MediaPlayer2";
constexpr const char* kPlayerInterface = "org.mpris.MediaPlayer2.Player";
constexpr std::chrono::milliseconds kBusBudget{1000};
constexpr double kMinimumRate = 0.25, kMaximumRate = 4.0;
// Desktops redraw their controls on each change; more than this often is of no use to them.
constexpr std::chrono::milliseconds kRefreshInterval{50};

constexpr const char* kIntrospection = R"(<node>
  <interface name="org.mpris.MediaPlayer2">
    <method name="Raise"/>
    <method name="Quit"/>
    <property name="CanQuit" type="b" access="read"/>
    <property name="CanRaise" type="b" access="read"/>
    <property name="HasTrackList" type="b" access="read"/>
    <property name="Identity" type="s" access="read"/>
    <property name="DesktopEntry" type="s" access="read"/>
    <property name="SupportedUriSchemes" type="as" access="read"/>
    <property name="SupportedMimeTypes" type="as" access="read"/>
  </interface>
  <interface name="org.mpris.MediaPlayer2.Player">
    <method name="Next"/>
    <method name="Previous"/>
    <method name="Pause"/>
    <method name="PlayPause"/>
    <method name="Stop"/>
    <method name="Play"/>
    <method name="Seek"><arg name="Offset" type="x" direction="in"/></method>
    <method name="SetPosition"><arg name="TrackId" type="o" direction="in"/><arg name="Position" type="x" direction="in"/></method>
    <method name="OpenUri"><arg name="Uri" type="s" direction="in"/></method>
    <signal name="Seeked"><arg name="Position" type="x"/></signal>
    <property name="PlaybackStatus" type="s" access="read"/>
    <property name="Rate" type="d" access="readwrite"/>
    <property name="Metadata" type="a{sv}" access="read"/>
    <property name="Volume" type="d" access="readwrite"/>
    <property name="Position" type="x" access="read"/>
    <property name="MinimumRate" type="d" access="read"/>
    <property name="MaximumRate" type="d" access="read"/>
    <property name="CanGoNext" type="b" access="read"/>
    <property name="CanGoPrevious" type="b" access="read"/>
    <property name="CanPlay" type="b" access="read"/>
    <property name="CanPause" type="b" access="read"/>
    <property name="CanSeek" type="b" access="read"/>
    <property name="CanControl" type="b" access="read"/>
  </interface>
</node>)";

// Microseconds of a player's time; none for an invalid or indefinite one.
std::optional<std::int64_t> microseconds(const media::Time& t) {
    if (!t.valid() || t.indefinite() || t.timescale <= 0) return std::nullopt;
    return media::scaleTime(t.value, 1000000, t.timescale);
}

std::int64_t positionOf(const media::Player& player) {
    return microseconds(player.currentTime()).value_or(0);
}

GVariant* stringArray(const std::vector<std::string>& texts) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("as"));
    for (const std::string& text : texts) g_variant_builder_add(&builder, "s", dbus::busString(text).c_str());
    return g_variant_builder_end(&builder);
}

void reportUnpublished(const std::string& why) {
    static std::atomic<bool> reported{false};
    if (!reported.exchange(true)) logLine("Players are not shown on the desktop (MPRIS): " + why);
}

}  // namespace

std::string busNameOf(std::string_view name, pid_t pid) {
    std::string element;
    // Character by character: a letter outside ASCII is one _, not one per byte.
    const std::string valid = dbus::busString(name);
    for (const char* p = valid.c_str(); *p != '\0'; p = g_utf8_next_char(p)) {
        const unsigned char c = static_cast<unsigned char>(*p);
        element += g_ascii_isalnum(static_cast<gchar>(c)) || c == '_' ? static_cast<char>(c) : '_';
    }
    if (element.empty() || g_ascii_isdigit(element.front())) element.insert(0, "_");
    return "org.mpris.MediaPlayer2." + element + ".instance" + std::to_string(pid);
}

// Everything below runs on the worker's thread but the watcher's callbacks and the pending
// count.
struct Service::State : media::Watcher {
    struct Entry {
        std::weak_ptr<media::Player> player;
        const media::Player* id = nullptr;
        std::string url;
        std::uint64_t added = 0;   // order of adding, which also names the track
        std::uint64_t played = 0;  // order of the last start, 0 before any
        std::optional<TrackInfo> info;  // read when first shown
    };

    Identity identity;
    std::string busName;
    std::vector<Entry> entries;
    std::uint64_t sequence = 0;
    std::uint64_t shown = 0;  // the entry shown, by its order of adding; 0 for none
    std::optional<dbus::Connection> connection;
    guint registration[2] = {0, 0};
    bool ownsName = false;
    // What the desktop was last told, to signal only what changed.
    dbus::VariantPtr lastStatus, lastMetadata, lastVolume, lastRate;
    std::optional<std::vector<std::string>> mimeTypes;

    std::mutex mutex;
    std::condition_variable idle;
    std::uint64_t posted = 0, handled = 0;

    // Changes not yet shown, from any thread. However often players change (a loop setting
    // the volume), at most one refresh waits on the worker: it shows the state it finds.
    std::atomic<bool> refreshQueued{false};
    std::atomic<std::chrono::steady_clock::rep> lastRefresh{0};
    std::mutex changesMutex;
    std::map<const media::Player*, std::uint64_t> startedAt;  // by playSequence
    std::set<const media::Player*> seeked;
    std::uint64_t playSequence = 0;

    // Declared last: its thread ends before anything above goes.
    dbus::MainLoopThread worker;

    // Runs work on the worker after everything before it (and after delay), counted for flush().
    void post(std::function<void()> work, std::chrono::milliseconds delay = {}) {
        {
            std::lock_guard lock(mutex);
            ++posted;
        }
        auto counted = [this, work = std::move(work)] {
            work();
            std::lock_guard lock(mutex);
            ++handled;
            idle.notify_all();
        };
        if (delay.count() > 0) return worker.postAfter(delay, std::move(counted));
        worker.postLater(std::move(counted));
    }

    void playerChanged(const media::Player* player, media::Change change) noexcept override {
        if (change == media::Change::closed) return post([this] { closed(); });
        if (change == media::Change::started || change == media::Change::seeked) {
            std::lock_guard lock(changesMutex);
            if (change == media::Change::started) startedAt[player] = ++playSequence;
            if (change == media::Change::seeked) seeked.insert(player);
        }
        if (refreshQueued.exchange(true)) return;
        // The desktop hears of a player at most once a refresh interval, however fast it changes.
        const auto due = std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(lastRefresh.load())) + kRefreshInterval;
        post(
            [this] {
                lastRefresh = std::chrono::steady_clock::now().time_since_epoch().count();
                refreshQueued = false;
                refresh();
            },
            std::chrono::ceil<std::chrono::milliseconds>(due - std::chrono::steady_clock::now()));
    }

    void added(const std::shared_ptr<media::Player>& player, const std::string& url) {
        entries.push_back({player, player.get(), url, ++sequence, 0, std::nullopt});
        if (!publish()) return;
        show();
    }

    void closed() {
        std::erase_if(entries, [](const Entry& e) { return e.player.expired(); });
        {
            // Forget the changes of players that are gone: another may be made at the same address.
            std::lock_guard lock(changesMutex);
            std::erase_if(startedAt, [this](const auto& started) { return find(started.first) == nullptr; });
            std::erase_if(seeked, [this](const media::Player* p) { return find(p) == nullptr; });
        }
        if (entries.empty()) return unpublish();
        show();
    }

    // Takes the changes in: which player started last, and a seek of the one shown.
    void refresh() {
        std::set<const media::Player*> seeks;
        {
            std::lock_guard lock(changesMutex);
            for (Entry& e : entries) {
                if (const auto started = startedAt.find(e.id); started != startedAt.end()) e.played = started->second;
            }
            seeks.swap(seeked);
        }
        show();
        const std::shared_ptr<media::Player> p = shownPlayer();
        if (p && ownsName && seeks.contains(p.get())) {
            emit(kPlayerInterface, "Seeked", g_variant_new("(x)", static_cast<gint64>(positionOf(*p))));
        }
    }

    Entry* find(const media::Player* player) {
        for (Entry& e : entries) {
            if (e.id == player && !e.player.expired()) return &e;
        }
        return nullptr;
    }

    // The player to show: the one played last, else the one added last; 0 for none.
    std::uint64_t choose() const {
        const auto order = [](const Entry& a, const Entry& b) { return std::tie(a.played, a.added) < std::tie(b.played, b.added); };
        const auto best = std::max_element(entries.begin(), entries.end(), order);
        return best != entries.end() ? best->added : 0;
    }

    Entry* shownEntry() {
        for (Entry& e : entries) {
            if (e.added == shown) return &e;
        }
        return nullptr;
    }

    // Owns the name and serves the object, unless it does already; false (logged once per
    // process) without a bus or the name.
    bool publish() {
        const bool open = connection && !g_dbus_connection_is_closed(connection->get());
        if (ownsName && open) return true;
        unpublish();
        const auto deadline = dbus::Clock::now() + kBusBudget;
        if (!open) {
            connection.reset();
            Expected<dbus::Connection> opened = dbus::Connection::open(G_BUS_TYPE_SESSION, deadline);
            if (!opened) return reportUnpublished(opened.error().message), false;
            connection.emplace(std::move(*opened));
        }
        if (!registerObject()) return reportUnpublished("the object cannot be served"), unpublish(), false;
        dbus::Call request{"org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
                           g_variant_new("(su)", busName.c_str(), 4u /* do not queue */), G_VARIANT_TYPE("(u)")};
        Expected<dbus::VariantPtr> reply = connection->call(request, deadline);
        guint32 answer = 0;
        if (reply) g_variant_get(reply->get(), "(u)", &answer);
        if (answer != 1 /* primary owner */) {
            reportUnpublished("the name " + busName + " cannot be had" + (reply ? "" : ": " + reply.error().message));
            unpublish();
            return false;
        }
        ownsName = true;
        return true;
    }

    bool registerObject() {
        GError* raw = nullptr;
        const glib::Owned<GDBusNodeInfo, g_dbus_node_info_unref> node(g_dbus_node_info_new_for_xml(kIntrospection, &raw));
        const glib::ErrorPtr error(raw);
        if (!node) return false;
        static const GDBusInterfaceVTable vtable = {
            [](GDBusConnection*, const gchar*, const gchar*, const gchar* interface, const gchar* method, GVariant* parameters,
               GDBusMethodInvocation* invocation, gpointer self) {
                static_cast<State*>(self)->call(interface, method, parameters, invocation);
            },
            [](GDBusConnection*, const gchar*, const gchar*, const gchar* interface, const gchar* property, GError** error,
               gpointer self) -> GVariant* {
                State* state = static_cast<State*>(self);
                // Outside a bundle the application has no desktop entry: the property is absent
                // (left out of GetAll) rather than an empty name.
                if (std::string_view(property) == "DesktopEntry" && !state->identity.desktopEntry) {
                    g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS, "No desktop entry");
                    return nullptr;
                }
                return state->property(interface, property);
            },
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* property, GVariant* value, GError** error,
               gpointer self) -> gboolean { return static_cast<State*>(self)->set(property, value, error); },
            {}};
        for (int i = 0; i < 2; ++i) {
            registration[i] = g_dbus_connection_register_object(connection->get(), kPath, node->interfaces[i], &vtable, this,
                                                                nullptr, nullptr);
            if (registration[i] == 0) return false;
        }
        return true;
    }

    // Gives the name back and stops serving the object; the connection stays for the next
    // player.
    void unpublish() {
        if (connection) {
            for (guint& id : registration) {
                if (id != 0) g_dbus_connection_unregister_object(connection->get(), id);
                id = 0;
            }
            if (ownsName) {
                g_dbus_connection_call(connection->get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                       "ReleaseName", g_variant_new("(s)", busName.c_str()), nullptr, G_DBUS_CALL_FLAGS_NONE, -1,
                                       nullptr, nullptr, nullptr);
            }
        }
        ownsName = false;
        shown = 0;
        lastStatus.reset(), lastMetadata.reset(), lastVolume.reset(), lastRate.reset();
    }

    // Shows the player to show, and tells the desktop what changed since it was last told.
    void show() {
        if (!ownsName) return;
        shown = choose();
        GVariantBuilder changes;
        g_variant_builder_init(&changes, G_VARIANT_TYPE("a{sv}"));
        bool any = false;
        const std::pair<const char*, dbus::VariantPtr*> signalled[] = {
            {"PlaybackStatus", &lastStatus}, {"Metadata", &lastMetadata}, {"Volume", &lastVolume}, {"Rate", &lastRate}};
        for (auto [name, last] : signalled) {
            dbus::VariantPtr now(g_variant_ref_sink(property(kPlayerInterface, name)));
            if (*last && g_variant_equal(last->get(), now.get())) continue;
            g_variant_builder_add(&changes, "{sv}", name, now.get());
            *last = std::move(now);
            any = true;
        }
        if (!any) return g_variant_builder_clear(&changes);
        const gchar* const invalidated[] = {nullptr};
        emit("org.freedesktop.DBus.Properties", "PropertiesChanged",
             g_variant_new("(sa{sv}^as)", kPlayerInterface, &changes, invalidated));
    }

    void emit(const char* interface, const char* signal, GVariant* parameters) {
        g_dbus_connection_emit_signal(connection->get(), nullptr, kPath, interface, signal, parameters, nullptr);
    }

    std::shared_ptr<media::Player> shownPlayer() {
        const Entry* entry = shownEntry();
        return entry != nullptr ? entry->player.lock() : nullptr;
    }

    static std::string trackIdOf(const Entry& entry) { return "/org/kestrane/Track/" + std::to_string(entry.added); }

    const char* statusOf(const media::Player& p) const {
        if (p.rate() > 0) return "Playing";
        // At the start, at the end or failed, nothing is under way: stopped; anywhere else paused.
        const std::int64_t position = positionOf(p);
        const std::optional<std::int64_t> length = microseconds(p.duration());
        if (p.status() == media::Status::failed || position == 0 || (length && position >= *length)) return "Stopped";
        return "Paused";
    }

    GVariant* metadata(const media::Player& p, Entry& entry) {
        GVariantBuilder builder;
        g_variant_builder_init(&builder, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&builder, "{sv}", "mpris:trackid", g_variant_new_object_path(trackIdOf(entry).c_str()));
        if (const std::optional<std::int64_t> length = microseconds(p.duration())) {
            g_variant_builder_add(&builder, "{sv}", "mpris:length", g_variant_new_int64(*length));
        }
        g_variant_builder_add(&builder, "{sv}", "xesam:url", g_variant_new_string(dbus::busString(entry.url).c_str()));
        if (!entry.info) entry.info = trackInfoOf(entry.url, coverFolder());
        const TrackInfo& info = *entry.info;
        const auto text = [&](const char* key, const std::optional<std::string>& value) {
            if (value) g_variant_builder_add(&builder, "{sv}", key, g_variant_new_string(dbus::busString(*value).c_str()));
        };
        text("xesam:title", info.title);
        text("xesam:album", info.album);
        if (!info.artists.empty()) g_variant_builder_add(&builder, "{sv}", "xesam:artist", stringArray(info.artists));
        if (!info.albumArtists.empty()) g_variant_builder_add(&builder, "{sv}", "xesam:albumArtist", stringArray(info.albumArtists));
        if (info.trackNumber) g_variant_builder_add(&builder, "{sv}", "xesam:trackNumber", g_variant_new_int32(*info.trackNumber));
        text("mpris:artUrl", info.artUrl);
        return g_variant_builder_end(&builder);
    }

    std::string coverFolder() const {
        const std::optional<std::string> caches = folders::folderPath(folders::Folder::caches, folders::Domain::user);
        return caches ? *caches + "/kestrane/covers" : "";
    }

    // A property's value (floating), for reads and for the changes signalled.
    GVariant* property(const std::string& interface, const std::string& name) {
        if (interface == kRootInterface) {
            if (name == "Identity") return g_variant_new_string(dbus::busString(identity.name).c_str());
            if (name == "DesktopEntry") return g_variant_new_string(dbus::busString(identity.desktopEntry.value_or("")).c_str());
            if (name == "SupportedUriSchemes") return stringArray({"file", "http", "https"});
            if (name == "SupportedMimeTypes") {
                if (!mimeTypes) mimeTypes = supportedMimeTypes();
                return stringArray(*mimeTypes);
            }
            return g_variant_new_boolean(FALSE);  // CanQuit, CanRaise, HasTrackList
        }
        const std::shared_ptr<media::Player> p = shownPlayer();
        if (name == "PlaybackStatus") return g_variant_new_string(p ? statusOf(*p) : "Stopped");
        if (name == "Rate") return g_variant_new_double(p && p->rate() > 0 ? p->rate() : 1.0);
        if (name == "Volume") return g_variant_new_double(p ? p->volume() : 0.0);
        if (name == "Position") return g_variant_new_int64(p ? positionOf(*p) : 0);
        if (name == "Metadata") {
            if (p) return metadata(*p, *shownEntry());
            return g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0);
        }
        if (name == "MinimumRate") return g_variant_new_double(kMinimumRate);
        if (name == "MaximumRate") return g_variant_new_double(kMaximumRate);
        // The Java application owns the queue: no next or previous track here.
        if (name == "CanGoNext" || name == "CanGoPrevious") return g_variant_new_boolean(FALSE);
        return g_variant_new_boolean(TRUE);  // CanPlay, CanPause, CanSeek, CanControl
    }

    bool set(const std::string& name, GVariant* value, GError** error) {
        const std::shared_ptr<media::Player> p = shownPlayer();
        const double number = g_variant_get_double(value);
        if (p && name == "Volume") {
            p->setVolume(static_cast<float>(std::max(number, 0.0)));  // below 0 is silence
            return true;
        }
        if (p && name == "Rate") {
            // A rate applies to a player that plays; outside the range nothing changes.
            if (number >= kMinimumRate && number <= kMaximumRate && p->rate() > 0) p->playImmediatelyAtRate(static_cast<float>(number));
            return true;
        }
        g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_FAILED, "No player to change");
        return false;
    }

    void call(const std::string& interface, const std::string& method, GVariant* parameters, GDBusMethodInvocation* invocation) {
        const std::shared_ptr<media::Player> p = shownPlayer();
        if (interface == kPlayerInterface && p) {
            if (method == "Play") p->play();
            if (method == "Pause") p->pause();
            if (method == "PlayPause") p->rate() > 0 ? p->pause() : p->play();
            if (method == "Stop") {
                p->pause();
                p->seek({0, 1, media::Time::kValid});
            }
            if (method == "Seek") {
                gint64 offset = 0;
                g_variant_get(parameters, "(x)", &offset);
                // Past either end goes to that end: the player pauses there, which is as far as
                // this player can go without a next track.
                std::int64_t to = 0;
                if (__builtin_add_overflow(positionOf(*p), offset, &to)) to = offset > 0 ? INT64_MAX : 0;
                const std::optional<std::int64_t> length = microseconds(p->duration());
                to = std::clamp<std::int64_t>(to, 0, length.value_or(INT64_MAX / 1000));
                p->seek({to, 1000000, media::Time::kValid});
            }
            if (method == "SetPosition") {
                const gchar* track = nullptr;
                gint64 to = 0;
                g_variant_get(parameters, "(&ox)", &track, &to);
                const std::optional<std::int64_t> length = microseconds(p->duration());
                // Only for the track shown, and only inside it, as the interface asks.
                const Entry* entry = shownEntry();
                const bool current = entry != nullptr && track == trackIdOf(*entry);
                if (current && to >= 0 && (!length || to <= *length)) p->seek({to, 1000000, media::Time::kValid});
            }
            if (method == "OpenUri") {
                return g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_NOT_SUPPORTED,
                                                             "The application chooses what its players play");
            }
        }
        // Raise, Quit, Next and Previous: nothing this player can do, as its properties say.
        g_dbus_method_invocation_return_value(invocation, nullptr);
    }
};

Service::Service(Identity identity) : state_(std::make_shared<State>()) {
    state_->identity = std::move(identity);
    state_->busName = busNameOf(state_->identity.name, getpid());
}

Service::~Service() {
    // The players that outlive the service stop telling it of their changes.
    State* state = state_.get();
    state->post([state] {
        for (const State::Entry& e : state->entries) {
            if (std::shared_ptr<media::Player> p = e.player.lock()) p->watch(nullptr);
        }
        state->unpublish();
    });
    flush();
}

Service& Service::shared(const Identity& identity) {
    // Never destroyed: players may close while the process exits.
    static NoDestructor<Service> service(identity);
    return service.get();
}

void Service::add(const std::shared_ptr<media::Player>& player, const std::string& url) {
    player->watch(state_);
    State* state = state_.get();
    state->post([state, player = std::weak_ptr<media::Player>(player), url] {
        if (std::shared_ptr<media::Player> p = player.lock()) state->added(p, url);
    });
}

void Service::flush() {
    State* state = state_.get();
    std::unique_lock lock(state->mutex);
    const std::uint64_t target = state->posted;
    state->idle.wait_for(lock, std::chrono::seconds(5), [&] { return state->handled >= target; });
}

}  // namespace kestrane::mpris
