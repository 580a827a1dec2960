// The appearance preference against a portal of the test's own on a private session bus
// (answering at once, late or never, announcing changes), GNOME's settings from a schema
// compiled by the test (memory backend), and GTK_THEME.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "appearance.h"
#include "fake_portal.h"
#include "glib_ptr.h"
#include "session_bus.h"

namespace fs = std::filesystem;
using namespace kestrane::appearance;
using kestrane::test::PortalSettings;
using kestrane::test::startPortal;
using std::chrono::milliseconds;

namespace {

class AppearanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "appearanceXXXXXX").string();
        root_ = mkdtemp(pattern.data());
        setenv("HOME", root_.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
        // No system schemas: GNOME's settings are absent unless a case installs them.
        setenv("XDG_DATA_DIRS", (root_ / "none").c_str(), 1);
        setenv("XDG_DATA_HOME", (root_ / "none").c_str(), 1);
        setenv("GSETTINGS_BACKEND", "memory", 1);
        unsetenv("GSETTINGS_SCHEMA_DIR");
        unsetenv("GTK_THEME");
        bus_ = std::make_unique<kestrane::test::PrivateSessionBus>();
    }
    void TearDown() override {
        bus_.reset();
        fs::remove_all(root_);
    }
    const std::string& address() const { return bus_->address(); }

    fs::path root_;
    std::unique_ptr<kestrane::test::PrivateSessionBus> bus_;
};

// Polls until the watch's values satisfy done (five seconds at most): signals and late
// answers arrive on the watch's own threads.
template <class Done>
PortalValues eventually(PortalWatch& watch, Done done) {
    PortalValues values = watch.values();
    for (int i = 0; i < 500 && !done(values); ++i) {
        std::this_thread::sleep_for(milliseconds(10));
        values = watch.values();
    }
    return values;
}

TEST_F(AppearanceTest, ThePortalsSettingsInOneCall) {
    for (guint32 scheme : {1u, 2u}) {
        auto portal = startPortal(address(), {scheme, std::array<double, 3>{0.2, 0.4, 0.8}});
        const DarkPreference once = darkPreference();  // a launch's single reading
        EXPECT_EQ(once.source, Source::kPortal);
        EXPECT_EQ(once.dark, scheme == 1);
        PortalWatch watch;
        const PortalValues values = watch.values();
        EXPECT_EQ(values.colorScheme, scheme);
        ASSERT_TRUE(values.accent.has_value());
        EXPECT_DOUBLE_EQ(values.accent->red, 0.2);
        EXPECT_DOUBLE_EQ(values.accent->blue, 0.8);
        for (const auto& call : portal->calls()) EXPECT_EQ(call.method, "ReadAll");
    }
    // An accent colour outside [0, 1] means the user chose none.
    auto portal = startPortal(address(), {1u, std::array<double, 3>{-1, -1, -1}});
    PortalWatch watch;
    EXPECT_FALSE(watch.values().accent.has_value());
}

// Many callers, one question: a slow portal's answer is shared by all, a silent portal costs
// one wait, and an answer that comes after the wait still arrives.
TEST_F(AppearanceTest, ThePortalIsAskedOncePerWatchWhateverItsPace) {
    struct Case {
        const char* name;
        milliseconds delay;
        bool hang;
        milliseconds firstWait;
        bool answerInFirstWait;
    };
    const Case cases[] = {
        {"prompt", milliseconds(0), false, milliseconds(2000), true},
        {"slow", milliseconds(150), false, milliseconds(2000), true},
        {"later than the wait", milliseconds(300), false, milliseconds(20), false},
        {"silent", milliseconds(0), true, milliseconds(20), false},
    };
    for (const Case& c : cases) {
        PortalSettings settings{1u, std::array<double, 3>{0.9, 0.1, 0.2}, true, c.hang};
        settings.delay = c.delay;
        auto portal = startPortal(address(), settings);
        PortalWatch watch(c.firstWait);
        std::vector<std::optional<std::uint32_t>> schemes(8);
        std::vector<std::thread> threads;
        for (auto& scheme : schemes) threads.emplace_back([&] { scheme = watch.values().colorScheme; });
        for (auto& t : threads) t.join();
        for (const auto& scheme : schemes) EXPECT_EQ(scheme.has_value(), c.answerInFirstWait) << c.name;
        if (!c.hang) {
            const PortalValues values = eventually(watch, [](const PortalValues& v) { return v.accent.has_value(); });
            EXPECT_EQ(values.colorScheme, 1u) << c.name;
            EXPECT_TRUE(values.accent.has_value()) << c.name;  // both settings from the one answer
        }
        EXPECT_TRUE(portal->waitForCalls("ReadAll", 1)) << c.name;
        EXPECT_EQ(portal->calls().size(), 1u) << c.name;
    }
}

TEST_F(AppearanceTest, ChangesAnnouncedByThePortalReachTheNextCalls) {
    auto portal = startPortal(address(), {1u, std::array<double, 3>{0.9, 0.1, 0.2}});
    setenv("WAYLAND_DISPLAY", "wayland-0", 1);
    PortalWatch watch;
    EXPECT_EQ(currentLook(watch), Look::dark);
    portal->changeColorScheme(2);
    portal->changeAccentColor({0.5, 0.5, 0.5});
    eventually(watch, [](const PortalValues& v) { return v.accent && v.accent->red == 0.5; });
    EXPECT_EQ(currentLook(watch), Look::light);
    EXPECT_EQ(currentColor(UIColor::kControlAccent, watch).green, 0.5);
    EXPECT_EQ(currentColor(UIColor::kControlBackground, watch).red, 1.0);  // the light palette
    EXPECT_EQ(portal->calls().size(), 1u);  // the changes came by signal, not by asking again
    // Without a graphical session there is no look to tell.
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("DISPLAY");
    EXPECT_EQ(currentLook(watch), Look::unknown);
}

TEST_F(AppearanceTest, ALaunchsReadingIsBoundedAndFallsBackWithoutAPortal) {
    setenv("GTK_THEME", "Adwaita:dark", 1);
    {
        auto portal = startPortal(address(), {1u, std::nullopt, true, true});  // never answers
        const auto start = std::chrono::steady_clock::now();
        const DarkPreference p = darkPreference(milliseconds(200));
        EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(1500));  // generous: the bound, not its speed
        EXPECT_EQ(p.source, Source::kGtkTheme);
    }
    // A portal without the setting, and no session bus at all.
    auto portal = startPortal(address(), PortalSettings{});
    EXPECT_EQ(darkPreference().source, Source::kGtkTheme);
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
    EXPECT_TRUE(darkPreference().dark);
    PortalWatch watch;
    EXPECT_FALSE(watch.values().colorScheme.has_value());
}

// GLib reads the installed schemas once per process, so each row runs in a fresh process:
// this binary again, running only the case below, its answer in its exit status.
TEST(AppearanceChild, DecidesFromTheSources) {
    const char* portal = std::getenv("KESTRANE_APPEARANCE_PORTAL");
    if (portal == nullptr) GTEST_SKIP() << "runs as a child of NoPreferencePassesOnToTheNextSource";
    if (const char* scheme = std::getenv("KESTRANE_APPEARANCE_GNOME_SCHEME")) {
        const kestrane::glib::ObjectPtr<GSettings> settings(g_settings_new("org.gnome.desktop.interface"));
        g_settings_set_string(settings.get(), "color-scheme", scheme);
        g_settings_set_string(settings.get(), "gtk-theme", std::getenv("KESTRANE_APPEARANCE_GNOME_THEME"));
    }
    PortalValues values;
    if (*portal != '\0') values.colorScheme = static_cast<std::uint32_t>(std::atoi(portal));
    const DarkPreference p = darkPreference(values);
    _exit((p.dark ? 10 : 0) + static_cast<int>(p.source));
}

TEST_F(AppearanceTest, NoPreferencePassesOnToTheNextSource) {
    const fs::path schemas = root_ / "schemas";
    fs::create_directories(schemas);
    std::ofstream(schemas / "org.gnome.desktop.interface.gschema.xml")
        << "<schemalist><schema id=\"org.gnome.desktop.interface\" path=\"/org/gnome/desktop/interface/\">"
           "<key name=\"color-scheme\" type=\"s\"><default>'default'</default></key>"
           "<key name=\"gtk-theme\" type=\"s\"><default>'Adwaita'</default></key></schema></schemalist>\n";
    ASSERT_EQ(std::system(("glib-compile-schemas " + schemas.string()).c_str()), 0);
    struct Row {
        const char* portal;       // "" none
        const char* gnomeScheme;  // null: GNOME's schema not installed
        const char* gnomeTheme;
        const char* gtkTheme;     // null: unset
        bool dark;
        Source source;
    };
    const Row rows[] = {
        {"1", "prefer-light", "Adwaita", nullptr, true, Source::kPortal},
        {"2", "prefer-dark", "Adwaita-dark", "Adwaita:dark", false, Source::kPortal},
        {"0", "prefer-dark", "Adwaita", nullptr, true, Source::kGSettings},
        {"0", "prefer-light", "Adwaita", "Adwaita:dark", false, Source::kGSettings},
        {"0", "default", "Adwaita", "Adwaita:dark", true, Source::kGtkTheme},
        {"", "default", "Adwaita-dark", "Adwaita", false, Source::kGtkTheme},
        {"0", "default", "Adwaita-dark", nullptr, true, Source::kGSettings},
        {"0", "default", "Arc-Dark", nullptr, true, Source::kGSettings},
        {"0", "default", "Adwaita", nullptr, false, Source::kNone},
        {"", nullptr, nullptr, "Arc-Dark", true, Source::kGtkTheme},
        {"", nullptr, nullptr, nullptr, false, Source::kNone},
    };
    for (const Row& row : rows) {
        const pid_t child = fork();
        if (child == 0) {
            setenv("KESTRANE_APPEARANCE_PORTAL", row.portal, 1);
            if (row.gnomeScheme != nullptr) {
                setenv("GSETTINGS_SCHEMA_DIR", schemas.c_str(), 1);
                setenv("KESTRANE_APPEARANCE_GNOME_SCHEME", row.gnomeScheme, 1);
                setenv("KESTRANE_APPEARANCE_GNOME_THEME", row.gnomeTheme, 1);
            }
            if (row.gtkTheme != nullptr) setenv("GTK_THEME", row.gtkTheme, 1);
            execl("/proc/self/exe", "appearance_tests", "--gtest_filter=AppearanceChild.*", static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), (row.dark ? 10 : 0) + static_cast<int>(row.source))
            << "portal " << row.portal << ", GNOME " << (row.gnomeScheme ? row.gnomeScheme : "-") << "/"
            << (row.gnomeTheme ? row.gnomeTheme : "-") << ", GTK_THEME " << (row.gtkTheme ? row.gtkTheme : "-");
    }
}

const UIColor kAllColors[] = {UIColor::kControl,   UIColor::kControlBackground, UIColor::kFindHighlight, UIColor::kHighlight,
                              UIColor::kShadow,    UIColor::kSelectedControl,   UIColor::kControlAccent};

TEST_F(AppearanceTest, PalettesAndTheDesktopsAccent) {
    int differing = 0;
    for (UIColor c : kAllColors) {
        for (bool dark : {false, true}) {
            const Rgba v = paletteColor(c, dark, std::nullopt);
            for (double x : {v.red, v.green, v.blue, v.alpha}) {
                EXPECT_GE(x, 0.0);
                EXPECT_LE(x, 1.0);
            }
            if (c != UIColor::kShadow) {
                EXPECT_EQ(v.alpha, 1.0);  // opaque colours
            }
        }
        const Rgba light = paletteColor(c, false, std::nullopt), dark = paletteColor(c, true, std::nullopt);
        differing += light.red != dark.red || light.green != dark.green || light.blue != dark.blue || light.alpha != dark.alpha;
    }
    EXPECT_GE(differing, 5);
    // The palette follows the preference, and the desktop's accent replaces the palette's.
    {
        auto portal = startPortal(address(), {1u, std::array<double, 3>{0.9, 0.1, 0.2}});
        PortalWatch watch;
        EXPECT_EQ(currentColor(UIColor::kControlBackground, watch).red, paletteColor(UIColor::kControlBackground, true, {}).red);
        const Rgba accent = currentColor(UIColor::kControlAccent, watch);
        EXPECT_DOUBLE_EQ(accent.red, 0.9);
        EXPECT_DOUBLE_EQ(accent.blue, 0.2);
        EXPECT_EQ(accent.alpha, 1.0);
    }
    auto portal = startPortal(address(), {2u});
    PortalWatch watch;
    EXPECT_EQ(currentColor(UIColor::kControlBackground, watch).red, 1.0);
    EXPECT_DOUBLE_EQ(currentColor(UIColor::kControlAccent, watch).blue, 0xe4 / 255.0);
}

}  // namespace
