// Notifications against a notification server of the test's own on a private session bus.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "child_program.h"
#include "fake_notifications.h"
#include "glib_ptr.h"
#include "image_data.h"
#include "notifications.h"
#include "session_bus.h"
#include "test_files.h"

using namespace kestrane::notifications;
using kestrane::test::NotificationServer;
using kestrane::test::pngOf;

// The width and height of the last notification's picture; 0 x 0 without one.
std::pair<int, int> imageSize(const NotificationServer& server) {
    const auto image = server.hint("image-data");
    if (image == nullptr) return {0, 0};
    return {g_variant_get_int32(kestrane::glib::VariantPtr(g_variant_get_child_value(image.get(), 0)).get()),
            g_variant_get_int32(kestrane::glib::VariantPtr(g_variant_get_child_value(image.get(), 1)).get())};
}

std::size_t lines(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

namespace {

class NotificationsTest : public ::testing::Test {
protected:
    std::unique_ptr<kestrane::test::PrivateSessionBus> bus = std::make_unique<kestrane::test::PrivateSessionBus>();
};

TEST_F(NotificationsTest, NotifyCarriesEveryFieldAndTheNullOnes) {
    NotificationServer server(bus->address(), true);
    Center center({"Kestrane Demo", "kestrane-demo"});
    center.deliver({"Title", "Body text", "message-new-instant", {}});
    center.flush();
    ASSERT_NE(server.last(), nullptr);
    EXPECT_EQ(server.field(0), "'Kestrane Demo'");
    EXPECT_EQ(server.field(1), "0");
    EXPECT_EQ(server.field(2), "'kestrane-demo'");
    EXPECT_EQ(server.field(3), "'Title'");
    EXPECT_EQ(server.field(4), "'Body text'");
    EXPECT_EQ(server.field(5), "['default', '']");
    EXPECT_EQ(server.field(7), "-1");
    const auto sound = server.hint("sound-name");
    ASSERT_NE(sound, nullptr);
    EXPECT_STREQ(g_variant_get_string(sound.get(), nullptr), "message-new-instant");
    EXPECT_EQ(server.hint("suppress-sound"), nullptr);
    EXPECT_EQ(server.hint("urgency"), nullptr);  // never critical

    center.deliver({std::nullopt, std::nullopt, std::nullopt, {}});
    center.flush();
    EXPECT_EQ(server.field(3), "''");
    EXPECT_EQ(server.field(4), "''");
    const auto silent = server.hint("suppress-sound");
    ASSERT_NE(silent, nullptr);
    EXPECT_TRUE(g_variant_get_boolean(silent.get()));
    EXPECT_EQ(server.hint("image-data"), nullptr);
}

TEST_F(NotificationsTest, ImageDataFromAPictureAndNoneFromJunk) {
    NotificationServer server(bus->address(), true);
    Center center({"app", ""});
    center.deliver({"t", "b", std::nullopt, pngOf(5, 3)});
    center.flush();
    const auto image = server.hint("image-data");
    ASSERT_NE(image, nullptr);
    gint32 width = 0, height = 0, stride = 0, bits = 0, channels = 0;
    gboolean alpha = FALSE;
    GVariant* rawPixels = nullptr;
    g_variant_get(image.get(), "(iiibii@ay)", &width, &height, &stride, &alpha, &bits, &channels, &rawPixels);
    const kestrane::glib::VariantPtr pixels(rawPixels);
    EXPECT_EQ(width, 5);
    EXPECT_EQ(height, 3);
    EXPECT_TRUE(alpha);
    EXPECT_EQ(bits, 8);
    EXPECT_EQ(channels, 4);
    gsize n = 0;
    const guint8* data = static_cast<const guint8*>(g_variant_get_fixed_array(pixels.get(), &n, 1));
    ASSERT_GE(n, static_cast<gsize>(stride * 2 + 5 * 4));
    const guint8* p = data + 2 * stride + 4 * 4;  // x = 4, y = 2
    EXPECT_EQ(p[0], 160);
    EXPECT_EQ(p[1], 120);
    EXPECT_EQ(p[2], 200);
    EXPECT_EQ(p[3], 255);
    EXPECT_EQ(server.field(2), "''");  // no icon name

    center.deliver({"t", "b", std::nullopt, {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'}});
    center.flush();
    EXPECT_EQ(server.field(3), "'t'");
    EXPECT_EQ(server.hint("image-data"), nullptr);
}

TEST_F(NotificationsTest, AClickRemovesTheNotificationAndCapabilitiesAreAskedOnce) {
    NotificationServer server(bus->address(), true);
    Center center({"app", ""});
    center.deliver({"one", "", std::nullopt, {}});
    center.deliver({"two", "", std::nullopt, {}});
    center.flush();
    server.service().emitSignal("org.freedesktop.Notifications", "ActionInvoked", g_variant_new("(us)", 2u, "default"));
    ASSERT_TRUE(server.service().waitForCalls("CloseNotification", 1));
    std::size_t capabilities = 0;
    std::string closed;
    for (const auto& call : server.service().calls()) {
        capabilities += call.method == "GetCapabilities";
        if (call.method == "CloseNotification") closed = call.parameters;
    }
    EXPECT_EQ(capabilities, 1u);
    EXPECT_EQ(closed, "(2,)");
    // Another action, or a notification that is not ours, closes nothing.
    server.service().emitSignal("org.freedesktop.Notifications", "ActionInvoked", g_variant_new("(us)", 1u, "other"));
    server.service().emitSignal("org.freedesktop.Notifications", "ActionInvoked", g_variant_new("(us)", 77u, "default"));
    center.flush();
    EXPECT_FALSE(server.service().waitForCalls("CloseNotification", 2, 300));
}

TEST_F(NotificationsTest, AServerWithoutActionsIsLoggedOnce) {
    NotificationServer server(bus->address(), false);
    Center center({"app", ""});
    const std::string log = kestrane::test::captureStderr([&] {
        center.deliver({"a", "", std::nullopt, {}});
        center.deliver({"b", "", std::nullopt, {}});
        center.flush();
    });
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    EXPECT_NE(log.find("\"actions\""), std::string::npos);
    EXPECT_EQ(server.field(3), "'b'");  // still delivered
}

TEST_F(NotificationsTest, WithoutABusOrAServerDeliveryIsDroppedQuickly) {
    {
        Center center({"app", ""});  // a bus with no server on it
        const std::string log = kestrane::test::captureStderr([&] {
            center.deliver({"a", "", std::nullopt, {}});
            center.deliver({"b", "", std::nullopt, {}});
            center.flush();
        });
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
        EXPECT_NE(log.find("no notification server"), std::string::npos) << log;
    }
    bus.reset();
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
    Center center({"app", ""});
    const auto start = std::chrono::steady_clock::now();
    const std::string log = kestrane::test::captureStderr([&] {
        center.deliver({"a", "", std::nullopt, {}});
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));  // deliver never waits
        center.flush();
    });
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_NE(log.find("Notifications are not shown: the bus at unix:path=/nonexistent/bus cannot be reached"), std::string::npos) << log;
}

TEST(NotificationImages, BytesThatAreNoPictureDecodeToNothing) {
    const std::vector<std::vector<std::uint8_t>> junk = {
        {}, {0x89, 'P', 'N', 'G'}, {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'}};
    for (const auto& bytes : junk) EXPECT_FALSE(decodeImage(bytes).hasValue()) << bytes.size();
    const std::vector<std::uint8_t> png = pngOf(2, 2);
    EXPECT_FALSE(decodeImage(std::span(png).first(png.size() / 2)).hasValue());  // cut short
}

// flush() waits for every Notify handed over before it, from any number of threads at once:
// the count of unanswered calls is kept under the lock that flush() reads it under.
TEST_F(NotificationsTest, FlushWaitsForDeliveriesFromManyThreads) {
    NotificationServer server(bus->address(), true);
    Center center({"app", ""});
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&center, t] {
            for (int i = 0; i < 10; ++i) {
                center.deliver({"n" + std::to_string(t * 10 + i), "", std::nullopt, {}});
                if (i % 3 == 0) center.flush();
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    center.flush();
    EXPECT_TRUE(server.service().waitForCalls("Notify", 40, 0));
}

// Pictures larger than a notification shows arrive scaled to fit 512 x 512, keeping their
// shape; small ones arrive as they are.
TEST_F(NotificationsTest, LargePicturesArriveScaledDown) {
    NotificationServer server(bus->address(), true);
    Center center({"app", ""});
    const struct {
        int width, height, shownWidth, shownHeight;
    } cases[] = {{40, 20, 40, 20}, {600, 300, 512, 256}, {300, 2000, 77, 512}, {3000, 1, 512, 1}};
    for (const auto& c : cases) {
        center.deliver({"t", "b", std::nullopt, kestrane::test::plainPng(c.width, c.height)});
        center.flush();
        EXPECT_EQ(imageSize(server), std::make_pair(c.shownWidth, c.shownHeight)) << c.width << "x" << c.height;
    }
}

// Texts that are not UTF-8 (a bundle name, a title) reach the server repaired, and GLib has
// nothing to complain about.
TEST_F(NotificationsTest, TextsThatAreNotUtf8AreRepaired) {
    NotificationServer server(bus->address(), true);
    Center center({"Kes\xfftrane", "icon\xfe"});
    const std::string log = kestrane::test::captureStderr([&] {
        center.deliver({"t\xed\xa0\x80", "b\xc3", "s\xff", {}});
        center.flush();
    });
    EXPECT_EQ(log, "");
    EXPECT_EQ(server.field(0), "'Kes\uFFFDtrane'");
    EXPECT_EQ(server.field(2), "'icon\uFFFD'");
    EXPECT_EQ(server.field(3), "'t\uFFFD\uFFFD\uFFFD'");
    EXPECT_EQ(server.field(4), "'b\uFFFD'");
}

// A burst whose deliveries all fail, because the server quits or the bus dies in the middle of
// it, logs each cause once and how often it repeated, not a line per notification. The
// process keeps SIGPIPE at its default here: writes to the dead bus must not raise it.
TEST_F(NotificationsTest, AFailingBurstLogsEachCauseOnceWithACount) {
    constexpr int kBurst = 2000;
    for (const bool killTheBus : {false, true}) {
        bus = std::make_unique<kestrane::test::PrivateSessionBus>();
        auto server = std::make_unique<NotificationServer>(bus->address(), true);
        Center center({"app", ""});
        const std::string log = kestrane::test::captureStderr([&] {
            for (int i = 0; i < kBurst; ++i) center.deliver({"n" + std::to_string(i), "", std::nullopt, {}});
            server->service().waitForCalls("Notify", 300);
            if (killTheBus) bus.reset();
            else server.reset();
            center.flush();
        });
        EXPECT_LE(lines(log), 4u) << log;
        EXPECT_NE(log.find("A notification was not shown: "), std::string::npos) << log;
        EXPECT_NE(log.find(" more times)"), std::string::npos) << log;
    }
}

// Hostile pictures, in a child process with a memory limit and a timeout so that a regression
// fails here instead of taking the runner down: a PNG of a few hundred bytes whose header
// claims 30000 x 30000 (its size in bytes overflows) or 10000 x 10000 pixels, and a real
// 5000 x 5000 one (100 MB decoded, over the bus's limit for an array). Each text arrives, so
// does the next notification, and the peak memory grows by less than 300 MB.
TEST(HostilePictures, CostLittleAndLoseNoText) {
    const kestrane::test::TempFolder folder("pictures");
    const auto bomb = kestrane::test::headerBombPng(30000, 30000), mediumBomb = kestrane::test::headerBombPng(10000, 10000),
               large = kestrane::test::plainPng(5000, 5000);
    kestrane::test::writeFile(folder.path() / "bomb.png", std::string(bomb.begin(), bomb.end()));
    kestrane::test::writeFile(folder.path() / "medium-bomb.png", std::string(mediumBomb.begin(), mediumBomb.end()));
    kestrane::test::writeFile(folder.path() / "large.png", std::string(large.begin(), large.end()));
    const kestrane::test::ChildRun run = kestrane::test::runTestInChild(
        "HostilePicturesChild.*", "KESTRANE_TEST_PICTURES", folder.path().string(), {.addressSpaceMiB = 2048, .timeoutSeconds = 120});
    EXPECT_FALSE(run.timedOut) << run.output;
    EXPECT_EQ(run.signal, 0) << run.output;
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("[  PASSED  ] 1 test"), std::string::npos) << run.output;
}

long peakMemoryKiB() {
    const std::string status = kestrane::test::readFile("/proc/self/status");
    const std::size_t at = status.find("VmHWM:");
    return at == std::string::npos ? -1 : std::stol(status.substr(at + 6));
}

TEST(HostilePicturesChild, Deliveries) {
    const char* folder = std::getenv("KESTRANE_TEST_PICTURES");
    if (folder == nullptr) GTEST_SKIP() << "run by HostilePictures in a child process";
    kestrane::test::PrivateSessionBus bus;
    NotificationServer server(bus.address(), true);
    Center center({"app", ""});
    const struct {
        const char* file;
        int shownWidth;
        std::size_t logLines;
    } cases[] = {{"bomb.png", 0, 1}, {"medium-bomb.png", 0, 1}, {"large.png", 512, 0}, {nullptr, 0, 0}};
    const long start = peakMemoryKiB();
    for (const auto& c : cases) {
        const std::string name = c.file != nullptr ? c.file : "no picture";
        const std::string bytes = c.file != nullptr ? kestrane::test::readFile(std::string(folder) + "/" + c.file) : "";
        const std::string log = kestrane::test::captureStderr([&] {
            center.deliver({name, "text", std::nullopt, std::vector<std::uint8_t>(bytes.begin(), bytes.end())});
            center.flush();
        });
        EXPECT_EQ(server.field(3), "'" + name + "'");
        EXPECT_EQ(server.field(4), "'text'") << name;
        EXPECT_EQ(imageSize(server).first, c.shownWidth) << name;
        EXPECT_EQ(lines(log), c.logLines) << name << ": " << log;
    }
    // AddressSanitizer keeps freed memory in quarantine and adds its own, so the bound holds
    // for the process as built, not under it.
    if (!kestrane::test::kSanitized) {
        EXPECT_LT(peakMemoryKiB() - start, 300 * 1024);
    }
}

}  // namespace
