// The demo bundle started through its launcher on a private X server: with a display it is a
// window that lists the sample library, plays a track with a moving spectrum in the desktop's
// light or dark colours and announces it; with a display it cannot reach it lists the library
// on standard output instead. The window's self-check (KESTRANE_DEMO_SELFTEST_DIR) takes the
// screenshots; this test reads them with gdk-pixbuf and keeps them in the build tree.
#include <fcntl.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "child_program.h"
#include "fake_notifications.h"
#include "glib_ptr.h"
#include "session_bus.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace {

const char* envOr(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : fallback;
}

struct DemoRun {
    int status = -1;  // exit status, -1 when killed (out of time)
    std::string output, errors;  // standard output, standard error
};

// Runs the demo's launcher with the environment changed as given ("" unsets), its output kept
// in outputFile and outputFile.err, for at most `seconds`.
DemoRun runDemo(const std::map<std::string, std::string>& env, const fs::path& outputFile, unsigned seconds) {
    const fs::path errorFile = outputFile.string() + ".err";
    const std::string launcher = std::string(envOr("KESTRANE_DEMO_APP", "")) + "/Contents/MacOS/launcher";
    const pid_t child = fork();
    if (child == 0) {
        for (const auto& [name, value] : env) {
            if (value.empty()) unsetenv(name.c_str());
            else setenv(name.c_str(), value.c_str(), 1);
        }
        const int out = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int err = open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (out < 0 || err < 0 || dup2(out, STDOUT_FILENO) < 0 || dup2(err, STDERR_FILENO) < 0) _exit(126);
        alarm(seconds);
        execl(launcher.c_str(), launcher.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    DemoRun run;
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) run.status = WEXITSTATUS(status);
    run.output = kestrane::test::readFile(outputFile);
    run.errors = kestrane::test::readFile(errorFile);
    return run;
}

// The text after "prefix" up to the end of its line, or "" when no line holds it.
std::string after(const std::string& output, const std::string& prefix) {
    const std::size_t at = output.find(prefix);
    if (at == std::string::npos) return "";
    const std::size_t from = at + prefix.size();
    return output.substr(from, output.find('\n', from) - from);
}

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
};

// A PNG's pixels as 0xRRGGBB.
struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned> pixels;

    explicit Picture(const fs::path& file) {
        const kestrane::glib::ObjectPtr<GdkPixbuf> pixbuf(gdk_pixbuf_new_from_file(file.c_str(), nullptr));
        if (!pixbuf) return;
        width = gdk_pixbuf_get_width(pixbuf.get());
        height = gdk_pixbuf_get_height(pixbuf.get());
        const int stride = gdk_pixbuf_get_rowstride(pixbuf.get()), channels = gdk_pixbuf_get_n_channels(pixbuf.get());
        const guchar* data = gdk_pixbuf_read_pixels(pixbuf.get());
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const guchar* p = data + y * stride + x * channels;
                pixels.push_back(unsigned(p[0]) << 16 | unsigned(p[1]) << 8 | p[2]);
            }
        }
    }
    unsigned at(int x, int y) const { return pixels[std::size_t(y) * width + x]; }
    std::size_t distinctColours() const { return std::set<unsigned>(pixels.begin(), pixels.end()).size(); }
    // How many pixels of the rectangle differ from `colour`.
    std::size_t differing(const Rect& r, unsigned colour) const {
        std::size_t n = 0;
        for (int y = r.y; y < r.y + r.height && y < height; ++y) {
            for (int x = r.x; x < r.x + r.width && x < width; ++x) n += at(x, y) != colour;
        }
        return n;
    }
};

double luminance(unsigned rgb) {
    return 0.2126 * (rgb >> 16 & 0xff) + 0.7152 * (rgb >> 8 & 0xff) + 0.0722 * (rgb & 0xff);
}

class DemoWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        scratch_ = std::make_unique<kestrane::test::TempFolder>("demo-window-");
        music_ = scratch_->path() / "music";
        const std::string make = std::string(envOr("KESTRANE_MAKE_SAMPLE_MUSIC", "")) + " '" + music_.string() + "' >/dev/null";
        ASSERT_EQ(std::system(make.c_str()), 0) << make;
    }
    static void TearDownTestSuite() { scratch_.reset(); }

    // A sealed home and XDG folders, the sample library, and audio to fakesink.
    std::map<std::string, std::string> environment(const std::string& name) const {
        const fs::path home = scratch_->path() / name;
        for (const char* sub : {"home", "config", "cache", "data", "runtime"}) fs::create_directories(home / sub);
        fs::permissions(home / "runtime", fs::perms::owner_all);
        return {{"HOME", (home / "home").string()},
                {"XDG_CONFIG_HOME", (home / "config").string()},
                {"XDG_CACHE_HOME", (home / "cache").string()},
                {"XDG_DATA_HOME", (home / "data").string()},
                {"XDG_RUNTIME_DIR", (home / "runtime").string()},
                {"KESTRANE_MUSIC_LIBRARY", music_.string()},
                {"KESTRANE_AUDIO_SINK", "fakesink"},
                {"WAYLAND_DISPLAY", ""},
                {"GTK_THEME", ""}};
    }

    static std::unique_ptr<kestrane::test::TempFolder> scratch_;
    static fs::path music_;
};

std::unique_ptr<kestrane::test::TempFolder> DemoWindowTest::scratch_;
fs::path DemoWindowTest::music_;

TEST_F(DemoWindowTest, WithoutAReachableDisplayItListsTheLibrary) {
    // A display that is named but not there (a stale DISPLAY) must not stop the demo.
    std::map<std::string, std::string> env = environment("console");
    env["DISPLAY"] = ":4999";
    env["DBUS_SESSION_BUS_ADDRESS"] = "disabled:";
    const DemoRun run = runDemo(env, scratch_->path() / "console.txt", 60);
    EXPECT_EQ(run.status, 0) << run.output << run.errors;
    EXPECT_EQ(run.output.rfind("launcher      ", 0), 0u) << run.output;
    EXPECT_NE(run.output.find("catalogbridge music library: 12 media items"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("selftest"), std::string::npos) << run.output;
}

struct WindowCase {
    const char* name;
    const char* gtkTheme;  // "" for the light default of a desktop that states no preference
    bool dark;
    int row;            // the track played: how its samples are decoded differs by format
    const char* cover;  // what the self-check says of the played track's cover
};

TEST_F(DemoWindowTest, WindowShowsTheLibraryAndASpectrumWhilePlaying) {
    const WindowCase cases[] = {
        // "B": FLAC, decoded through GStreamer; its cover is embedded (a 300x300 PNG).
        {"light", "", false, 1, "300x300 picture"},
        // "A": WAV, read by Java itself; it has no picture.
        {"dark", "Adwaita:dark", true, 0, "none"},
    };
    const fs::path shots = envOr("KESTRANE_DEMO_SCREENSHOTS", (scratch_->path() / "shots").c_str());
    const kestrane::test::XServer x("1280x800x24");
    ASSERT_FALSE(x.display().empty()) << "Xvfb did not start";
    for (const WindowCase& c : cases) {
        SCOPED_TRACE(c.name);
        kestrane::test::PrivateSessionBus bus;
        kestrane::test::NotificationServer notifications(bus.address(), true);
        const fs::path folder = shots / c.name;
        fs::remove_all(folder);
        fs::create_directories(folder);
        std::map<std::string, std::string> env = environment(c.name);
        env["DISPLAY"] = x.display();
        env["DBUS_SESSION_BUS_ADDRESS"] = bus.address();
        env["GTK_THEME"] = c.gtkTheme;
        env["KESTRANE_DEMO_SELFTEST_DIR"] = folder.string();
        env["KESTRANE_DEMO_SELFTEST_ROW"] = std::to_string(c.row);
        const DemoRun run = runDemo(env, folder / "output.txt", 90);
        ASSERT_EQ(run.status, 0) << run.output << run.errors;

        EXPECT_EQ(after(run.output, "selftest table "), "12 rows 5 columns") << run.output;
        EXPECT_EQ(after(run.output, "selftest look and feel: "), "GTK look and feel") << run.output;
        EXPECT_EQ(after(run.output, "selftest appearance: ").rfind(c.dark ? "dark" : "light", 0), 0u) << run.output;
        EXPECT_EQ(after(run.output, "selftest cover: "), c.cover) << run.output;
        const std::string title = after(run.output, "selftest playing: ");
        ASSERT_TRUE(notifications.service().waitForCalls("Notify", 1)) << run.output;
        EXPECT_EQ(notifications.field(3), "'" + title + "'");

        int width = 0, height = 0;
        Rect spectrum;
        std::sscanf(after(run.output, "selftest window size ").c_str(), "%dx%d", &width, &height);
        std::sscanf(after(run.output, "selftest spectrum at ").c_str(), "%d %d size %d %d", &spectrum.x, &spectrum.y,
                    &spectrum.width, &spectrum.height);
        ASSERT_GE(width, 640) << run.output;
        ASSERT_GE(height, 480) << run.output;
        ASSERT_GT(spectrum.width * spectrum.height, 0) << run.output;

        const Picture idle(folder / "window-idle.png"), playing(folder / "window-playing.png");
        std::printf("[ screenshot ] %s\n", (folder / "window-playing.png").c_str());
        ASSERT_EQ(idle.width, width);
        ASSERT_EQ(idle.height, height);
        ASSERT_EQ(playing.width, width);
        ASSERT_EQ(playing.height, height);
        // A window with a table, a tree and controls, not an empty frame.
        EXPECT_GT(idle.distinctColours(), 8u);
        // Each of the twelve rows of the table has text; below the last, the table is empty.
        Rect table;
        int rowHeight = 0;
        std::sscanf(after(run.output, "selftest table rows at ").c_str(), "%d %d size %d %d, %d high", &table.x, &table.y,
                    &table.width, &table.height, &rowHeight);
        ASSERT_GT(rowHeight, 0) << run.output;
        ASSERT_GE(table.height, 13 * rowHeight) << run.output;
        const unsigned empty = idle.at(table.x + table.width / 2, table.y + 13 * rowHeight);
        for (int row = 0; row < 12; ++row) {
            EXPECT_GT(idle.differing({table.x, table.y + row * rowHeight, table.width, rowHeight}, empty), 40u) << "row " << row;
        }
        EXPECT_EQ(idle.differing({table.x, table.y + 12 * rowHeight + 1, table.width, rowHeight - 1}, empty), 0u);
        // Before playing the spectrum is its background alone, in the desktop's light or dark.
        const unsigned background = idle.at(spectrum.x + 1, spectrum.y + 1);
        EXPECT_EQ(idle.differing(spectrum, background), 0u);
        EXPECT_EQ(luminance(background) < 128, c.dark) << std::hex << background;
        // While playing it draws bars: a share of its pixels, though not all of it.
        const std::size_t area = std::size_t(spectrum.width) * spectrum.height, bars = playing.differing(spectrum, background);
        EXPECT_GT(bars, area / 200) << bars << " of " << area;
        EXPECT_LT(bars, area / 2) << bars << " of " << area;
    }
}

}  // namespace
