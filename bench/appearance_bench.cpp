// Appearance asked from 8 threads at once, 25 times each (the colours and the look, as the
// Java side's painting asks them), against a portal of our own on a private session bus: one
// that answers at once (the reference), one that takes 150 ms, one that never answers. Each
// runs in a process of its own, as the library asks the portal once per process. Prints the
// slowest first call, the time per later call and the answers, and each case's time per later
// call against the reference's.
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "appearance.h"
#include "bench_row.h"
#include "fake_portal.h"
#include "session_bus.h"

namespace ap = kestrane::appearance;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kThreads = 8;
constexpr int kCallsPerThread = 25;

// Runs one case in this process; prints "<case> <microseconds per later call> <slowest first
// call, ms> <calls that read dark> <calls that had the portal's accent>".
int runCase(const std::string& name) {
    setenv("WAYLAND_DISPLAY", "wayland-bench", 1);
    unsetenv("GTK_THEME");
    setenv("XDG_DATA_DIRS", "/nonexistent", 1);  // no GNOME settings: the portal decides
    std::optional<kestrane::test::PrivateSessionBus> bus;
    bus.emplace();
    kestrane::test::PortalSettings settings{1u, std::array<double, 3>{0.9, 0.1, 0.2}, true, name == "silent"};
    if (name == "slow") settings.delay = std::chrono::milliseconds(150);
    auto portal = kestrane::test::startPortal(bus->address(), settings);

    std::atomic<long long> laterNs{0}, firstNs{0};
    std::atomic<int> dark{0}, accented{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kCallsPerThread; ++i) {
                const auto start = Clock::now();
                const ap::Rgba accent = ap::currentColor(ap::UIColor::kControlAccent);
                const bool isDark = ap::currentLook() == ap::Look::dark;
                const long long ns = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
                if (i == 0) {
                    long long seen = firstNs.load();
                    while (ns > seen && !firstNs.compare_exchange_weak(seen, ns)) {
                    }
                } else {
                    laterNs += ns;
                }
                dark += isDark;
                accented += accent.red > 0.89 && accent.red < 0.91;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    const int calls = kThreads * kCallsPerThread;
    std::printf("%s %.1f %.1f %d/%d %d/%d\n", name.c_str(), laterNs / 1000.0 / (calls - kThreads), firstNs / 1e6, dark.load(),
                calls, accented.load(), calls);
    std::fflush(stdout);
    bus.reset();  // its daemon ends with the case
    _exit(0);     // the portal may still hold a call: nothing else to tidy
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::strcmp(argv[1], "--case") == 0) return runCase(argv[2]);
    std::printf("%d threads x %d calls of currentColor(accent) + currentLook()\n", kThreads, kCallsPerThread);
    std::printf("%-8s %16s %14s %8s %14s %10s\n", "portal", "us/later call", "first call ms", "dark", "portal accent",
                "x prompt");
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return 1;
    double reference = 0;
    for (const char* name : {"prompt", "slow", "silent"}) {
        const std::string command = "'" + std::string(self) + "' --case " + name;
        FILE* pipe = popen(command.c_str(), "r");
        if (pipe == nullptr) return 1;
        char line[256] = {};
        const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
        pclose(pipe);
        if (!got) return 1;
        char which[32] = {}, darkCount[32] = {}, accentCount[32] = {};
        double perCall = 0, first = 0;
        if (std::sscanf(line, "%31s %lf %lf %31s %31s", which, &perCall, &first, darkCount, accentCount) != 5) return 1;
        if (reference == 0) reference = perCall;
        std::printf("%-8s %16.1f %14.1f %8s %14s %10.1f\n", which, perCall, first, darkCount, accentCount, perCall / reference);
        kestrane::bench::row(std::string("appearance, later call, ") + which + " portal", kestrane::bench::format("%.1f us", perCall),
                             kestrane::bench::format("prompt portal %.1f us", reference),
                             kestrane::bench::format("%.1f", perCall / reference), "-", std::nullopt);
    }
    return 0;
}
