// The appearance preference against a portal of the test's own on a private session bus
// (one that has only the older Read, one with ReadOne, one that never answers), GNOME's
// setting from a schema compiled by the test, and GTK_THEME.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

#include "appearance.h"
#include "fake_portal.h"
#include "glib_ptr.h"
#include "session_bus.h"

namespace fs = std::filesystem;
using namespace kestrane::appearance;
using kestrane::test::PortalSettings;
using kestrane::test::startPortal;

namespace {

class AppearanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "appearanceXXXXXX").string();
        root_ = mkdtemp(pattern.data());
        // No system schemas: GNOME's setting is absent unless a case installs it.
        setenv("XDG_DATA_DIRS", (root_ / "none").c_str(), 1);
        setenv("XDG_DATA_HOME", (root_ / "none").c_str(), 1);
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

TEST_F(AppearanceTest, PortalAnswersThroughReadOneOrTheOlderRead) {
    for (bool readOne : {true, false}) {
        for (guint32 scheme : {1u, 0u, 2u}) {
            auto service = startPortal(address(), {scheme, std::array<double, 3>{0.2, 0.4, 0.8}, readOne});
            const DarkPreference p = darkPreference();
            EXPECT_EQ(p.source, Source::kPortal) << readOne << " " << scheme;
            EXPECT_EQ(p.dark, scheme == 1) << readOne << " " << scheme;
            const std::optional<Rgb> accent = accentColor();
            ASSERT_TRUE(accent.has_value());
            EXPECT_DOUBLE_EQ(accent->red, 0.2);
            EXPECT_DOUBLE_EQ(accent->green, 0.4);
            EXPECT_DOUBLE_EQ(accent->blue, 0.8);
            EXPECT_EQ(service->calls().front().method, "ReadOne");
        }
    }
    // An accent colour outside [0, 1] means the user chose none.
    auto service = startPortal(address(), {1u, std::array<double, 3>{-1, -1, -1}});
    EXPECT_FALSE(accentColor().has_value());
}

TEST_F(AppearanceTest, WithoutAPortalGtkThemeDecidesAndNothingMeansLight) {
    setenv("GTK_THEME", "Adwaita:dark", 1);
    EXPECT_EQ(darkPreference().source, Source::kGtkTheme);
    EXPECT_TRUE(darkPreference().dark);
    setenv("GTK_THEME", "Adwaita", 1);
    EXPECT_FALSE(darkPreference().dark);
    unsetenv("GTK_THEME");
    EXPECT_EQ(darkPreference().source, Source::kNone);
    EXPECT_FALSE(darkPreference().dark);
    EXPECT_FALSE(accentColor().has_value());
    // A portal without the setting does not count as an answer.
    auto service = startPortal(address(), PortalSettings{});
    setenv("GTK_THEME", "Adwaita:dark", 1);
    EXPECT_EQ(darkPreference().source, Source::kGtkTheme);
    // No session bus at all.
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
    EXPECT_TRUE(darkPreference().dark);
}

TEST_F(AppearanceTest, APortalThatNeverAnswersCostsNoMoreThanTheBudget) {
    auto service = startPortal(address(), {1u, std::nullopt, true, true});
    setenv("GTK_THEME", "Adwaita:dark", 1);
    const auto start = std::chrono::steady_clock::now();
    const DarkPreference p = darkPreference(std::chrono::milliseconds(200));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(p.source, Source::kGtkTheme);
    EXPECT_LT(took, std::chrono::milliseconds(1500));  // generous: the bound, not its speed
}

// GLib reads the installed schemas once per process, so GNOME's setting is read in a fresh
// process: this binary again, running only the case below.
TEST(AppearanceChild, ReadsGnomeSetting) {
    const char* value = std::getenv("KESTRANE_APPEARANCE_CHILD");
    if (value == nullptr) GTEST_SKIP() << "runs as a child of GnomeSettingWhenItsSchemaIsInstalled";
    const kestrane::glib::ObjectPtr<GSettings> settings(g_settings_new("org.gnome.desktop.interface"));
    g_settings_set_string(settings.get(), "color-scheme", value);
    const DarkPreference p = darkPreference();
    _exit(p.source == Source::kGSettings ? (p.dark ? 10 : 11) : 12);
}

TEST_F(AppearanceTest, GnomeSettingWhenItsSchemaIsInstalled) {
    const fs::path schemas = root_ / "schemas";
    fs::create_directories(schemas);
    std::ofstream(schemas / "org.gnome.desktop.interface.gschema.xml")
        << "<schemalist><schema id=\"org.gnome.desktop.interface\" path=\"/org/gnome/desktop/interface/\">"
           "<key name=\"color-scheme\" type=\"s\"><default>'default'</default></key></schema></schemalist>\n";
    ASSERT_EQ(std::system(("glib-compile-schemas " + schemas.string()).c_str()), 0);
    for (const char* value : {"prefer-dark", "prefer-light"}) {
        const pid_t child = fork();
        if (child == 0) {
            setenv("KESTRANE_APPEARANCE_CHILD", value, 1);
            setenv("GSETTINGS_SCHEMA_DIR", schemas.c_str(), 1);
            setenv("GSETTINGS_BACKEND", "memory", 1);
            setenv("GTK_THEME", "Adwaita:dark", 1);  // GNOME's setting comes first
            execl("/proc/self/exe", "appearance_tests", "--gtest_filter=AppearanceChild.*", static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), std::string(value) == "prefer-dark" ? 10 : 11) << value;
    }
}

}  // namespace

namespace {

const UIColor kAllColors[] = {UIColor::kControl,   UIColor::kControlBackground, UIColor::kFindHighlight, UIColor::kHighlight,
                              UIColor::kShadow,    UIColor::kSelectedControl,   UIColor::kControlAccent};

TEST_F(AppearanceTest, LookFollowsThePreferenceAndNeedsAGraphicalSession) {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    auto service = startPortal(address(), {1u});
    EXPECT_EQ(currentLook(), Look::unknown);
    setenv("WAYLAND_DISPLAY", "wayland-0", 1);
    EXPECT_EQ(currentLook(), Look::dark);
    service.reset();
    service = startPortal(address(), {2u});
    EXPECT_EQ(currentLook(), Look::light);
    unsetenv("WAYLAND_DISPLAY");
}

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
        auto service = startPortal(address(), {1u, std::array<double, 3>{0.9, 0.1, 0.2}});
        EXPECT_EQ(currentColor(UIColor::kControlBackground).red, paletteColor(UIColor::kControlBackground, true, {}).red);
        const Rgba accent = currentColor(UIColor::kControlAccent);
        EXPECT_DOUBLE_EQ(accent.red, 0.9);
        EXPECT_DOUBLE_EQ(accent.blue, 0.2);
        EXPECT_EQ(accent.alpha, 1.0);
    }
    auto service = startPortal(address(), {0u});
    EXPECT_EQ(currentColor(UIColor::kControlBackground).red, 1.0);
    EXPECT_DOUBLE_EQ(currentColor(UIColor::kControlAccent).blue, 0xe4 / 255.0);
}

}  // namespace
