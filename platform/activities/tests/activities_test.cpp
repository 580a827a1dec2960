// Activities against a portal stand-in on a private session bus and a logind stand-in on a
// private "system" bus: the locks taken per option, and their release.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <gio/gunixfdlist.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "activities.h"
#include "child_program.h"
#include "fake_dbus_service.h"
#include "glib_ptr.h"
#include "holders.h"
#include "session_bus.h"
#include "test_files.h"

using namespace kestrane::activities;
using kestrane::test::FakeDBusService;

namespace {

const char* kPortalXml = R"(<node>
  <interface name="org.freedesktop.portal.Inhibit">
    <method name="Inhibit"><arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="a{sv}" direction="in"/>
      <arg type="o" direction="out"/></method>
  </interface>
  <interface name="org.freedesktop.portal.Request"><method name="Close"/></interface>
</node>)";

const char* kLogindXml = R"(<node><interface name="org.freedesktop.login1.Manager">
  <method name="Inhibit"><arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="s" direction="in"/>
    <arg type="s" direction="in"/><arg type="h" direction="out"/></method>
</interface></node>)";

// The portal answers with its own object as the request, so that Close reaches it too.
std::unique_ptr<FakeDBusService> portal(const std::string& address) {
    return std::make_unique<FakeDBusService>(
        address, "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop", kPortalXml,
        [](const std::string& method, GVariant*, GDBusMethodInvocation* invocation) {
            if (method == "Inhibit") {
                g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", "/org/freedesktop/portal/desktop"));
            } else {
                g_dbus_method_invocation_return_value(invocation, nullptr);
            }
        });
}

// logind hands back the write end of a pipe and keeps the read end: the read end sees the
// end of the file once the activity has closed its descriptor.
struct Logind {
    std::shared_ptr<std::vector<kestrane::UniqueFd>> readEnds = std::make_shared<std::vector<kestrane::UniqueFd>>();
    std::shared_ptr<std::mutex> mutex = std::make_shared<std::mutex>();
    std::unique_ptr<FakeDBusService> service;

    explicit Logind(const std::string& address) {
        auto ends = readEnds;
        auto lock = mutex;
        service = std::make_unique<FakeDBusService>(
            address, "org.freedesktop.login1", "/org/freedesktop/login1", kLogindXml,
            [ends, lock](const std::string&, GVariant*, GDBusMethodInvocation* invocation) {
                int fds[2];
                if (pipe2(fds, O_CLOEXEC) != 0) return;
                kestrane::UniqueFd readEnd(fds[0]);
                const kestrane::UniqueFd writeEnd(fds[1]);
                const kestrane::glib::ObjectPtr<GUnixFDList> list(g_unix_fd_list_new());
                g_unix_fd_list_append(list.get(), writeEnd.get(), nullptr);  // a duplicate goes with the answer
                {
                    std::lock_guard<std::mutex> guard(*lock);
                    ends->push_back(std::move(readEnd));
                }
                g_dbus_method_invocation_return_value_with_unix_fd_list(invocation, g_variant_new("(h)", 0), list.get());
            });
    }
    // Whether every holder of the i-th descriptor has closed it (within a second).
    bool closed(std::size_t i) const {
        std::lock_guard<std::mutex> guard(*mutex);
        pollfd p{(*readEnds).at(i).get(), POLLIN, 0};
        return poll(&p, 1, 1000) == 1 && (p.revents & (POLLHUP | POLLIN)) != 0;
    }
};

std::string callsOf(const FakeDBusService& s) {
    std::string out;
    for (const auto& c : s.calls()) out += c.method + c.parameters + ";";
    return out;
}

}  // namespace

TEST(Activities, WhatIsHeldOffChoosesTheLocks) {
    struct Row {
        Inhibitions what;
        std::uint32_t portalFlags;
        const char* logindWhat;
    };
    const Row rows[] = {
        {{}, 0u, ""},
        {{.systemSleep = true}, 4u, "sleep"},
        {{.displaySleep = true}, 8u, "idle"},
        {{.logout = true}, 1u, "shutdown"},
        {{.systemSleep = true, .displaySleep = true, .logout = true}, 13u, "sleep:idle:shutdown"},
    };
    for (const Row& row : rows) {
        const Locks locks = locksFor(row.what);
        EXPECT_EQ(locks.portalFlags, row.portalFlags) << row.logindWhat;
        EXPECT_EQ(locks.logindWhat, row.logindWhat);
    }
}

TEST(Activities, ThePortalWhereTheDesktopOffersIt) {
    kestrane::test::PrivateSessionBus session;
    auto service = portal(session.address());
    auto a = begin({.systemSleep = true, .displaySleep = true}, "playing", "app");
    auto b = begin({.logout = true}, "saving", "app");
    EXPECT_EQ(a->holder(), Holder::kPortal);
    EXPECT_EQ(callsOf(*service), "Inhibit('', 12, {'reason': <'playing'>});Inhibit('', 1, {'reason': <'saving'>});");
    b.reset();  // ending one leaves the other in force
    EXPECT_EQ(callsOf(*service).substr(callsOf(*service).rfind(';', callsOf(*service).size() - 2) + 1), "Close();");
    std::thread([&a] { a.reset(); }).join();  // ended on another thread
    EXPECT_EQ(service->calls().size(), 4u);
    // Nothing to hold off asks nothing.
    EXPECT_EQ(begin({}, "nothing", "app")->holder(), Holder::kNone);
    EXPECT_EQ(service->calls().size(), 4u);
}

TEST(Activities, LogindOnTheSystemBusWhenNoPortalAnswers) {
    kestrane::test::PrivateSessionBus session;  // no portal on it
    kestrane::test::PrivateSessionBus system("DBUS_SYSTEM_BUS_ADDRESS");
    Logind logind(system.address());
    auto a = begin({.systemSleep = true, .logout = true}, "playing", "Kestrane");
    auto b = begin({.displaySleep = true}, "watching", "Kestrane");
    ASSERT_EQ(a->holder(), Holder::kLogind);
    EXPECT_EQ(callsOf(*logind.service), "Inhibit('sleep:shutdown', 'Kestrane', 'playing', 'block');"
                                        "Inhibit('idle', 'Kestrane', 'watching', 'block');");
    EXPECT_FALSE(logind.closed(0));
    a.reset();
    EXPECT_TRUE(logind.closed(0));
    EXPECT_FALSE(logind.closed(1));
    b.reset();
    EXPECT_TRUE(logind.closed(1));
    unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

TEST(Activities, NeitherServiceRecordsTheActivityAndSaysSoOnce) {
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/session", 1);
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/system", 1);
    const std::string log = kestrane::test::captureStderr([] {
        EXPECT_EQ(begin({.systemSleep = true}, "a", "app")->holder(), Holder::kNone);
        EXPECT_EQ(begin({.systemSleep = true}, "b", "app")->reason(), "b");
    });
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    EXPECT_NE(log.find("Activities take no locks"), std::string::npos);
    unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

// 2,000 activities held at once by a process allowed 1,024 descriptors, in a child process so
// that running out fails this test instead of the runner. Through the portal they share one
// connection and all hold their locks; through logind each lock is a descriptor, so those
// past the limit hold none, and nothing crashes.
TEST(Activities, ThousandsHeldUnderADescriptorLimit) {
    for (const char* service : {"portal", "logind"}) {
        const kestrane::test::ChildRun run = kestrane::test::runTestInChild("ActivitiesChild.*", "KESTRANE_TEST_ACTIVITIES", service,
                                                                            {.descriptors = 1024, .timeoutSeconds = 120});
        EXPECT_FALSE(run.timedOut) << service << ": " << run.output;
        EXPECT_EQ(run.signal, 0) << service << ": " << run.output;
        EXPECT_EQ(run.exitCode, 0) << service << ": " << run.output;
        EXPECT_NE(run.output.find("[  PASSED  ] 1 test"), std::string::npos) << service << ": " << run.output;
    }
}

TEST(ActivitiesChild, HoldMany) {
    const char* service = std::getenv("KESTRANE_TEST_ACTIVITIES");
    if (service == nullptr) GTEST_SKIP() << "run by ThousandsHeldUnderADescriptorLimit in a child process";
    constexpr std::size_t kHeld = 2000;
    const bool throughPortal = std::string(service) == "portal";
    kestrane::test::PrivateSessionBus session;
    kestrane::test::PrivateSessionBus system("DBUS_SYSTEM_BUS_ADDRESS");
    auto portalService = throughPortal ? portal(session.address()) : nullptr;
    auto logind = throughPortal ? nullptr : std::make_unique<Logind>(system.address());
    std::vector<std::unique_ptr<Activity>> held;
    std::size_t locked = 0;
    for (std::size_t i = 0; i < kHeld; ++i) {
        held.push_back(begin({.systemSleep = true}, "a" + std::to_string(i), "app"));
        locked += held.back()->holder() != Holder::kNone;
    }
    // Through logind, each lock held is a descriptor, until they run out.
    EXPECT_GT(locked, throughPortal ? kHeld - 1 : 300u);
    held.clear();
    if (portalService) {
        EXPECT_TRUE(portalService->waitForCalls("Close", kHeld));
    }
}
