// The players on a private session bus, driven by playerctl as the desktop would, and watched
// by a connection of the test's own; tagged FLAC tones played to fakesink.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bus.h"
#include "child_program.h"
#include "glib_ptr.h"
#include "mpris.h"
#include "session_bus.h"
#include "test_files.h"
#include "test_media.h"

namespace mpris = kestrane::mpris;
namespace media = kestrane::media;
namespace fs = std::filesystem;
using kestrane::dbus::Clock;

namespace {

constexpr const char* kPath = "/org/mpris/MediaPlayer2";

bool eventually(const std::function<bool()>& condition) {
    const auto end = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

// What playerctl prints, without its last line feed.
std::string playerctl(std::vector<std::string> args) {
    args.insert(args.begin(), "playerctl");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    gchar* out = nullptr;
    g_spawn_sync(nullptr, argv.data(), nullptr, static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDERR_TO_DEV_NULL), nullptr,
                 nullptr, &out, nullptr, nullptr, nullptr);
    const kestrane::glib::CharPtr owned(out);
    std::string text = out != nullptr ? out : "";
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

double seconds(const media::Time& t) {
    return t.timescale > 0 ? static_cast<double>(t.value) / t.timescale : -1;
}

class MprisTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        bus = std::make_unique<kestrane::test::PrivateSessionBus>();
        folder = std::make_unique<kestrane::test::TempFolder>("mpris");
        setenv("XDG_CACHE_HOME", (folder->path() / "cache").c_str(), 1);
        // About four and a half seconds of tone, with every tag the desktop shows and a cover.
        for (const char* name : {"one.flac", "two.flac"}) {
            const fs::path file = folder->path() / name;
            ASSERT_TRUE(kestrane::test::encodeTone(file, "flacenc", "audiotestsrc num-buffers=200"));
            ASSERT_TRUE(kestrane::test::writeTags(file, {{"TITLE", std::string("Title of ") + name}, {"ARTIST", "The Artist"},
                                                         {"ALBUM", "The Album"}, {"ALBUMARTIST", "Various"}, {"TRACKNUMBER", "3/12"}}));
            ASSERT_TRUE(kestrane::test::attachPicture(file, kestrane::test::tinyPng()));
        }
    }
    static void TearDownTestSuite() {
        folder.reset();
        bus.reset();
    }

    static std::string urlOf(const char* name) { return "file://" + (folder->path() / name).string(); }

    std::shared_ptr<media::Player> open(const char* name) {
        auto opened = media::Player::open(urlOf(name), std::chrono::seconds(10));
        EXPECT_TRUE(opened) << (opened ? "" : opened.error().message);
        std::shared_ptr<media::Player> player = opened ? std::move(opened).value() : nullptr;
        if (player) service.add(player, urlOf(name));
        service.flush();
        return player;
    }

    static std::string busName() { return mpris::busNameOf("Kestrane Test", getpid()); }

    static inline std::unique_ptr<kestrane::test::PrivateSessionBus> bus;
    static inline std::unique_ptr<kestrane::test::TempFolder> folder;
    mpris::Service service{{"Kestrane Test", "com.kestrane.test"}};
};

}  // namespace

TEST(MprisNames, BusNamesKeepOnlyWhatABusNameMayHold) {
    const struct {
        const char* name;
        const char* element;
    } rows[] = {{"Kestrane Demo", "Kestrane_Demo"}, {"3D Player", "_3D_Player"}, {"Ünï-code.app", "_n__code_app"},
                {"", "_"}, {"a_b9", "a_b9"}};
    for (const auto& row : rows) {
        EXPECT_EQ(mpris::busNameOf(row.name, 42), std::string("org.mpris.MediaPlayer2.") + row.element + ".instance42") << row.name;
    }
}

// The types come from the installed decoders: the base and good plugin sets read WAV and FLAC;
// the names are shared-MIME-info's, not GStreamer's.
TEST(MprisNames, SupportedTypesAreTheDesktopsNamesOfWhatGStreamerDecodes) {
    const std::vector<std::string> types = mpris::supportedMimeTypes();
    for (const char* expected : {"audio/x-wav", "audio/flac"}) {
        EXPECT_NE(std::find(types.begin(), types.end(), expected), types.end()) << expected;
    }
    EXPECT_EQ(std::find(types.begin(), types.end(), "audio/x-flac"), types.end());
    std::vector<std::string> sorted = types;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());
}

TEST_F(MprisTest, PlayerctlSeesTheTrackAndDrivesThePlayer) {
    const std::shared_ptr<media::Player> player = open("one.flac");
    ASSERT_TRUE(player);
    EXPECT_EQ(playerctl({"-l"}), busName().substr(std::string("org.mpris.MediaPlayer2.").size()));
    // The bundle's identifier names the desktop entry.
    gchar* out = nullptr;
    const std::string introspect = "gdbus call --session --dest " + busName() +
                                   " --object-path /org/mpris/MediaPlayer2 --method org.freedesktop.DBus.Properties.Get"
                                   " org.mpris.MediaPlayer2 DesktopEntry";
    g_spawn_command_line_sync(introspect.c_str(), &out, nullptr, nullptr, nullptr);
    const kestrane::glib::CharPtr entry(out);
    EXPECT_STREQ(entry.get(), "(<'com.kestrane.test'>,)\n");

    const std::string metadata = playerctl({"metadata", "--format", "{{title}}|{{artist}}|{{album}}|{{mpris:length}}|{{mpris:artUrl}}"});
    const std::int64_t length = player->duration().value * 1000000 / player->duration().timescale;
    const std::string cover = "file://" + (folder->path() / "cache/kestrane/covers/").string();
    EXPECT_EQ(metadata.substr(0, metadata.rfind('|') + 1), "Title of one.flac|The Artist|The Album|" + std::to_string(length) + "|");
    ASSERT_EQ(metadata.substr(metadata.rfind('|') + 1, cover.size()), cover) << metadata;
    EXPECT_EQ(kestrane::test::readFile(metadata.substr(metadata.rfind('|') + 1 + 7)), kestrane::test::tinyPng());
    EXPECT_EQ(playerctl({"metadata", "--format", "{{xesam:albumArtist}} {{xesam:trackNumber}} {{xesam:url}}"}),
              "Various 3 " + urlOf("one.flac"));

    // Each command of the desktop, and what the player (and so the Java side) sees after it.
    const struct {
        std::vector<std::string> command;
        std::function<bool()> seen;
        const char* status;
    } steps[] = {
        {{"status"}, [] { return true; }, "Stopped"},
        {{"play-pause"}, [&] { return player->rate() > 0; }, "Playing"},
        {{"play-pause"}, [&] { return player->rate() == 0; }, "Paused"},
        {{"position", "1"}, [&] { return std::abs(seconds(player->currentTime()) - 1.0) < 0.05; }, "Paused"},
        {{"position", "0.5+"}, [&] { return std::abs(seconds(player->currentTime()) - 1.5) < 0.05; }, "Paused"},
        {{"position", "9-"}, [&] { return seconds(player->currentTime()) == 0; }, "Stopped"},
        {{"position", "1"}, [&] { return std::abs(seconds(player->currentTime()) - 1.0) < 0.05; }, "Paused"},
        {{"volume", "0.5"}, [&] { return player->volume() == 0.5f; }, "Paused"},
        {{"play"}, [&] { return player->rate() > 0; }, "Playing"},
        {{"pause"}, [&] { return player->rate() == 0; }, "Paused"},
        {{"play"}, [&] { return player->rate() > 0; }, "Playing"},
        {{"stop"}, [&] { return player->rate() == 0 && seconds(player->currentTime()) == 0; }, "Stopped"},
    };
    for (const auto& step : steps) {
        playerctl(step.command);
        EXPECT_TRUE(eventually(step.seen)) << step.command[0];
        EXPECT_EQ(playerctl({"status"}), step.status) << step.command[0];
    }
    EXPECT_EQ(playerctl({"volume"}), "0.500000");
    EXPECT_EQ(playerctl({"position"}), "0.000000");

}

TEST_F(MprisTest, TheMostRecentlyPlayedIsShownAndTheNameGoesWithTheLastPlayer) {
    std::shared_ptr<media::Player> one = open("one.flac");
    std::shared_ptr<media::Player> two = open("two.flac");
    ASSERT_TRUE(one && two);
    const auto shownUrl = [] { return playerctl({"metadata", "xesam:url"}); };
    EXPECT_EQ(shownUrl(), urlOf("two.flac"));  // none has played: the one opened last
    one->play();
    EXPECT_TRUE(eventually([&] { return shownUrl() == urlOf("one.flac"); }));
    EXPECT_EQ(playerctl({"status"}), "Playing");
    one.reset();
    EXPECT_TRUE(eventually([&] { return shownUrl() == urlOf("two.flac"); }));
    two.reset();
    EXPECT_TRUE(eventually([] { return playerctl({"-l"}).empty(); }));
    // Both files carry the same picture: one cover file, written once.
    const auto covers = std::distance(fs::directory_iterator(folder->path() / "cache/kestrane/covers"), fs::directory_iterator());
    EXPECT_EQ(covers, 1);
}

// One signal per change: a player that plays for a second and a half sends its new status once,
// not its position over and over.
TEST_F(MprisTest, EachChangeIsSignalledOnce) {
    const std::shared_ptr<media::Player> player = open("one.flac");
    ASSERT_TRUE(player);
    auto watcher = kestrane::dbus::Connection::open(G_BUS_TYPE_SESSION, Clock::now() + std::chrono::seconds(2));
    ASSERT_TRUE(watcher);
    std::mutex mutex;
    std::vector<std::string> seen;  // the properties each PropertiesChanged names, or "Seeked"
    const auto record = [&](GDBusMessage* message) {
        std::string what = g_dbus_message_get_member(message);
        if (what == "PropertiesChanged") {
            GVariant* body = g_dbus_message_get_body(message);  // transfer none
            const kestrane::glib::VariantPtr changed(g_variant_get_child_value(body, 1));
            what.clear();
            for (gsize i = 0; i < g_variant_n_children(changed.get()); ++i) {
                const gchar* key = nullptr;
                g_variant_get_child(changed.get(), i, "{&sv}", &key, nullptr);
                what += std::string(what.empty() ? "" : " ") + key;
            }
        }
        std::lock_guard lock(mutex);
        seen.push_back(what);
    };
    const std::string owner = busName();
    auto properties = watcher->watchSignals({owner.c_str(), kPath, "org.freedesktop.DBus.Properties", "PropertiesChanged"}, record,
                                            Clock::now() + std::chrono::seconds(2));
    auto seeks = watcher->watchSignals({owner.c_str(), kPath, "org.mpris.MediaPlayer2.Player", "Seeked"}, record,
                                       Clock::now() + std::chrono::seconds(2));
    ASSERT_TRUE(properties && seeks);

    const struct {
        std::function<void()> change;
        const char* signalled;
    } changes[] = {
        {[&] { player->play(); }, "PlaybackStatus"},
        {[] { std::this_thread::sleep_for(std::chrono::milliseconds(1500)); }, nullptr},
        {[&] { player->setVolume(0.25f); }, "Volume"},
        {[&] { player->seek({1, 1, media::Time::kValid}); }, "Seeked"},
        {[&] { player->pause(); }, "PlaybackStatus"},
    };
    std::vector<std::string> expected;
    for (const auto& row : changes) {
        row.change();
        if (row.signalled != nullptr) expected.push_back(row.signalled);
        service.flush();
        // The signal passes the bus before playerctl's answer does.
        playerctl({"status"});
        std::lock_guard lock(mutex);
        EXPECT_EQ(seen, expected);
    }

    // A caller that changes the volume in a loop: the desktop hears of it a few times (once a
    // refresh interval), not a thousand, and ends with the last volume.
    {
        std::lock_guard lock(mutex);
        seen.clear();
    }
    for (int i = 1; i <= 1000; ++i) player->setVolume(static_cast<float>(i) / 1000);
    service.flush();
    playerctl({"status"});
    std::lock_guard lock(mutex);
    EXPECT_GE(seen.size(), 1u);
    EXPECT_LT(seen.size(), 100u);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "Volume"), static_cast<std::ptrdiff_t>(seen.size()));
    EXPECT_EQ(playerctl({"volume"}), "1.000000");
}

// What a desktop reads of the application and its player, and the methods that have nothing
// to do; outside a bundle there is no desktop entry.
TEST_F(MprisTest, PropertiesAndIdleMethodsAnswerAsTheInterfaceAsks) {
    mpris::Service bare({"Kestrane Test", std::nullopt});
    auto opened = media::Player::open(urlOf("one.flac"), std::chrono::seconds(10));
    ASSERT_TRUE(opened);
    const std::shared_ptr<media::Player> player = std::move(opened).value();
    bare.add(player, urlOf("one.flac"));
    bare.flush();
    auto connection = kestrane::dbus::Connection::open(G_BUS_TYPE_SESSION, Clock::now() + std::chrono::seconds(2));
    ASSERT_TRUE(connection);
    const std::string owner = busName();
    const auto call = [&](const char* interface, const char* method, GVariant* parameters) {
        return connection->call({owner.c_str(), kPath, interface, method, parameters}, Clock::now() + std::chrono::seconds(2));
    };
    const auto all = [&](const char* interface) {
        auto reply = call("org.freedesktop.DBus.Properties", "GetAll", g_variant_new("(s)", interface));
        EXPECT_TRUE(reply) << (reply ? "" : reply.error().message);
        if (!reply) return std::string();
        const kestrane::glib::CharPtr text(g_variant_print(reply->get(), FALSE));
        return std::string(text.get());
    };
    const std::string root = all("org.mpris.MediaPlayer2");
    for (const char* expected : {"'CanQuit': <false>", "'CanRaise': <false>", "'HasTrackList': <false>", "'Identity': <'Kestrane Test'>",
                                 "'SupportedUriSchemes': <['file', 'http', 'https']>", "'audio/flac'"}) {
        EXPECT_NE(root.find(expected), std::string::npos) << expected << " in " << root;
    }
    EXPECT_EQ(root.find("DesktopEntry"), std::string::npos) << root;
    const std::string controls = all("org.mpris.MediaPlayer2.Player");
    for (const char* expected : {"'CanPlay': <true>", "'CanPause': <true>", "'CanSeek': <true>", "'CanControl': <true>",
                                 "'CanGoNext': <false>", "'CanGoPrevious': <false>", "'Rate': <1.0>", "'Position': <int64 0>",
                                 "'PlaybackStatus': <'Stopped'>", "'Volume': <1.0>"}) {
        EXPECT_NE(controls.find(expected), std::string::npos) << expected << " in " << controls;
    }
    // Nothing to do for these, and nothing changes; opening another URL is the application's.
    for (const char* method : {"Raise", "Quit"}) EXPECT_TRUE(call("org.mpris.MediaPlayer2", method, nullptr)) << method;
    for (const char* method : {"Next", "Previous"}) EXPECT_TRUE(call("org.mpris.MediaPlayer2.Player", method, nullptr)) << method;
    EXPECT_FALSE(call("org.mpris.MediaPlayer2.Player", "OpenUri", g_variant_new("(s)", "file:///x.flac")));
    // A position for another track, or outside this one, is ignored; a rate applies while playing.
    for (const char* track : {"/org/kestrane/Track/999999", "/org/kestrane/Track/1"}) {
        EXPECT_TRUE(call("org.mpris.MediaPlayer2.Player", "SetPosition", g_variant_new("(ox)", track, gint64{-1})));
        EXPECT_TRUE(call("org.mpris.MediaPlayer2.Player", "SetPosition", g_variant_new("(ox)", track, gint64{3600000000})));
    }
    EXPECT_EQ(seconds(player->currentTime()), 0);
    // Volumes from the bus: below 0 is silence, no number changes nothing, too loud is the loudest.
    const auto setVolume = [&](double volume) {
        return call("org.freedesktop.DBus.Properties", "Set",
                    g_variant_new("(ssv)", "org.mpris.MediaPlayer2.Player", "Volume", g_variant_new_double(volume)));
    };
    const std::pair<double, float> volumes[] = {{0.5, 0.5f}, {-1, 0.0f}, {std::nan(""), 0.0f}, {INFINITY, 10.0f}};
    for (const auto& [sent, seen] : volumes) {
        EXPECT_TRUE(setVolume(sent)) << sent;
        EXPECT_EQ(player->volume(), seen) << sent;
    }
    player->play();
    EXPECT_TRUE(call("org.freedesktop.DBus.Properties", "Set",
                     g_variant_new("(ssv)", "org.mpris.MediaPlayer2.Player", "Rate", g_variant_new_double(2.0))));
    EXPECT_EQ(player->rate(), 2.0f);
    EXPECT_TRUE(call("org.mpris.MediaPlayer2.Player", "Seek", g_variant_new("(x)", G_MAXINT64)));
    EXPECT_TRUE(eventually([&] { return player->rate() == 0; }));  // at the end, paused there
}

// Without a bus, or with the name taken by someone else, the players play as before and the
// process says so once: each case in a child process, which logs for the first time.
TEST(MprisUnpublished, PlayersWorkAndOneLineIsLogged) {
    for (const char* why : {"no bus", "name taken"}) {
        const kestrane::test::ChildRun run =
            kestrane::test::runTestInChild("MprisUnpublishedChild.*", "KESTRANE_TEST_MPRIS", why, {.timeoutSeconds = 60});
        EXPECT_EQ(run.exitCode, 0) << why << ": " << run.output;
        EXPECT_NE(run.output.find("[  PASSED  ] 1 test"), std::string::npos) << why << ": " << run.output;
    }
}

TEST(MprisUnpublishedChild, TwoPlayers) {
    const char* why = std::getenv("KESTRANE_TEST_MPRIS");
    if (why == nullptr) GTEST_SKIP() << "run by MprisUnpublished in a child process";
    const kestrane::test::TempFolder folder("mprisalone");
    const fs::path file = folder.path() / "tone.flac";
    ASSERT_TRUE(kestrane::test::encodeTone(file, "flacenc"));
    std::optional<kestrane::test::PrivateSessionBus> bus;
    std::optional<kestrane::dbus::Connection> squatter;
    if (std::string(why) == "no bus") {
        setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
    } else {
        bus.emplace();
        squatter.emplace(std::move(kestrane::dbus::Connection::open(G_BUS_TYPE_SESSION, Clock::now() + std::chrono::seconds(2)).value()));
        const std::string name = mpris::busNameOf("Alone", getpid());
        ASSERT_TRUE(squatter->call({"org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
                                    g_variant_new("(su)", name.c_str(), 4u)},
                                   Clock::now() + std::chrono::seconds(2)));
    }
    const std::string log = kestrane::test::captureStderr([&] {
        mpris::Service service({"Alone", std::nullopt});
        for (int i = 0; i < 2; ++i) {
            auto opened = media::Player::open("file://" + file.string(), std::chrono::seconds(10));
            ASSERT_TRUE(opened);
            const std::shared_ptr<media::Player> player = std::move(opened).value();
            service.add(player, "file://" + file.string());
            player->play();
            service.flush();
            EXPECT_GT(player->rate(), 0);
        }
    });
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    EXPECT_NE(log.find("not shown on the desktop"), std::string::npos) << log;
}
