// Notifications against a notification server of the test's own on a private session bus.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "fake_notifications.h"
#include "glib_ptr.h"
#include "image_data.h"
#include "main_loop_thread.h"
#include "notifications.h"
#include "session_bus.h"
#include "test_files.h"

using namespace kestrane::notifications;
using kestrane::test::NotificationServer;
using kestrane::test::pngOf;

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

// The worker runs what was posted to it, in order, even when it goes at once (its loop may
// not have started yet), and then ends.
TEST(MainLoopThread, RunsEveryPostedWorkInOrderAndEndsAtOnce) {
    for (int round = 0; round < 200; ++round) {
        std::vector<int> done;
        {
            MainLoopThread worker;
            for (int i = 0; i < 3; ++i) worker.post([&done, i] { done.push_back(i); });
        }
        ASSERT_EQ(done, (std::vector<int>{0, 1, 2})) << round;
    }
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

}  // namespace
