// Bounded calls against a service of the test's own on a private dbus-daemon: every way a call
// can end, and a bus that is not there.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bus.h"
#include "child_program.h"
#include "fake_dbus_service.h"
#include "holders.h"
#include "main_loop_thread.h"
#include "session_bus.h"
#include "test_files.h"

using namespace kestrane::dbus;
using kestrane::Expected;
using kestrane::test::FakeDBusService;

namespace {

constexpr const char* kName = "org.kestrane.Test";
constexpr const char* kPath = "/org/kestrane/Test";
constexpr const char* kInterface = "org.kestrane.Test";

const char* kXml = R"(<node><interface name="org.kestrane.Test">
  <method name="Echo"><arg type="s" direction="in"/><arg type="s" direction="out"/></method>
  <method name="Fail"/>
  <method name="Hang"/>
</interface></node>)";

// Echo answers its argument, Fail an error of its own, Hang never.
std::unique_ptr<FakeDBusService> startService(const std::string& address) {
    return std::make_unique<FakeDBusService>(address, kName, kPath, kXml,
                                             [](const std::string& method, GVariant* parameters, GDBusMethodInvocation* invocation) {
                                                 if (method == "Echo") {
                                                     g_dbus_method_invocation_return_value(invocation, g_variant_ref(parameters));
                                                 } else if (method == "Fail") {
                                                     g_dbus_method_invocation_return_dbus_error(invocation, "org.kestrane.Error.Broken",
                                                                                                "it broke");
                                                 }
                                             });
}

struct Case {
    const char* what;
    const char* destination;
    const char* method;
    const char* replyType;             // null accepts any reply
    std::optional<BusError> expected;  // none: a reply
};

}  // namespace

TEST(Bus, CallsEndWithTheReplyOrTheirKindOfFailureWithinTheBudget) {
    kestrane::test::PrivateSessionBus bus;
    const auto service = startService(bus.address());
    const Case cases[] = {
        {"a reply", kName, "Echo", "(s)", std::nullopt},
        {"a reply of another type", kName, "Echo", "(u)", BusError::callFailed},
        {"an error reply", kName, "Fail", nullptr, BusError::callFailed},
        {"an unknown method", kName, "Nope", nullptr, BusError::unknownMethod},
        {"no such service", "org.kestrane.Nobody", "Echo", nullptr, BusError::noService},
        {"a service that never answers", kName, "Hang", nullptr, BusError::timedOut},
    };
    constexpr std::chrono::milliseconds kBudget{300};
    for (const Case& c : cases) {
        const auto start = Clock::now();
        Expected<Connection> connection = Connection::open(G_BUS_TYPE_SESSION, start + kBudget);
        ASSERT_TRUE(connection) << connection.error().message;
        GVariant* parameters = std::string(c.method) == "Echo" ? g_variant_new("(s)", "hello") : nullptr;
        const Call call{c.destination, kPath, kInterface, c.method, parameters,
                        c.replyType != nullptr ? G_VARIANT_TYPE(c.replyType) : nullptr};
        const Expected<VariantPtr> reply = connection->call(call, start + kBudget);
        EXPECT_LT(Clock::now() - start, kBudget + std::chrono::milliseconds(700)) << c.what;  // the bound, not its speed
        if (!c.expected) {
            ASSERT_TRUE(reply) << c.what << ": " << reply.error().message;
            const kestrane::glib::CharPtr printed(g_variant_print(reply->get(), FALSE));
            EXPECT_STREQ(printed.get(), "('hello',)");
            continue;
        }
        ASSERT_FALSE(reply) << c.what;
        EXPECT_TRUE(reply.error().is(*c.expected)) << c.what << ": " << reply.error().code << " " << reply.error().message;
    }
}

TEST(Bus, NoBusAtAllIsNoBus) {
    const kestrane::test::TempFolder runtime("busruntime");
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);  // without a bus socket
    const struct {
        const char* what;
        const char* address;  // DBUS_SESSION_BUS_ADDRESS; null: unset
    } cases[] = {{"no address", nullptr}, {"an address with nothing behind it", "unix:path=/nonexistent/bus"}};
    for (const auto& c : cases) {
        if (c.address != nullptr) setenv("DBUS_SESSION_BUS_ADDRESS", c.address, 1);
        else unsetenv("DBUS_SESSION_BUS_ADDRESS");
        EXPECT_EQ(busAddress(G_BUS_TYPE_SESSION).has_value(), c.address != nullptr) << c.what;
        const Expected<Connection> connection = Connection::open(G_BUS_TYPE_SESSION, Clock::now() + std::chrono::milliseconds(300));
        ASSERT_FALSE(connection) << c.what;
        EXPECT_TRUE(connection.error().is(BusError::noBus)) << c.what << ": " << connection.error().message;
    }
    unsetenv("XDG_RUNTIME_DIR");
}

// GDBus ignores SIGPIPE for the whole process when it starts; children would inherit that.
// The calls above have run by now: the disposition must be the one the test started with.
TEST(Bus, TheProcessKeepsItsSigpipeDisposition) {
    kestrane::test::PrivateSessionBus bus;
    ASSERT_TRUE(Connection::open(G_BUS_TYPE_SESSION, Clock::now() + std::chrono::seconds(1)));
    struct sigaction now {};
    sigaction(SIGPIPE, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
}

TEST(Bus, StringsAreRepairedForTheBus) {
    const struct {
        std::string text, onTheBus;
    } cases[] = {
        {"plain", "plain"},
        {"Kes\xfftrane", "Kes\uFFFDtrane"},
        {std::string("a\0b", 3), "a"},           // a bus string ends at U+0000
        {"\xed\xa0\x80 lone", "\uFFFD\uFFFD\uFFFD lone"},  // a UTF-16 surrogate written as UTF-8
        {"\xc3", "\uFFFD"},                      // cut short
    };
    for (const auto& c : cases) EXPECT_EQ(busString(c.text), c.onTheBus) << c.onTheBus;
}

// A process out of descriptors gets errors, not GLib's abort for a wakeup it cannot make.
TEST(Bus, NoDescriptorsLeftIsAnErrorNotACrash) {
    // The sanitizers' own checks need descriptors (a pipe to probe memory) and misreport without.
    if (kestrane::test::kSanitized) GTEST_SKIP() << "not under the sanitizers";
    kestrane::test::PrivateSessionBus bus;
    const auto service = startService(bus.address());
    Expected<Connection> connection = Connection::open(G_BUS_TYPE_SESSION, Clock::now() + std::chrono::seconds(1));
    ASSERT_TRUE(connection);
    rlimit saved{};
    getrlimit(RLIMIT_NOFILE, &saved);
    std::vector<kestrane::UniqueFd> taken;
    const rlimit few{64, saved.rlim_max};
    setrlimit(RLIMIT_NOFILE, &few);
    for (kestrane::UniqueFd fd(dup(0)); fd; fd = kestrane::UniqueFd(dup(0))) taken.push_back(std::move(fd));
    const Call echo{kName, kPath, kInterface, "Echo", g_variant_new("(s)", "hello"), nullptr};
    std::thread([&] {  // a new thread, whose first call would need a main context
        EXPECT_FALSE(connection->call(echo, Clock::now() + std::chrono::seconds(1)));
        EXPECT_FALSE(Connection::open(G_BUS_TYPE_SESSION, Clock::now() + std::chrono::seconds(1)));
    }).join();
    taken.clear();
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_TRUE(connection->call({kName, kPath, kInterface, "Echo", g_variant_new("(s)", "again"), nullptr},
                                 Clock::now() + std::chrono::seconds(1)));
}

// The worker runs what was posted to it, in order, even when it goes at once (its loop may
// not have started yet), and then ends.
TEST(MainLoopThread, RunsEveryPostedWorkInOrderAndEndsAtOnce) {
    for (int round = 0; round < 200; ++round) {
        std::vector<int> done;
        {
            MainLoopThread worker;
            for (int i = 0; i < 3; ++i) worker.post([&done, i] { done.push_back(i); });
            // Posted from the thread itself: later, not inside the work that posts it.
            worker.post([&done, &worker] {
                worker.postLater([&done] { done.push_back(4); });
                done.push_back(3);
            });
        }
        ASSERT_EQ(done, (std::vector<int>{0, 1, 2, 3, 4})) << round;
    }
}
