// Loads a music-library file with the catalogue and prints the load time (best of the given
// number of runs), the time of the property-list reader alone (events to a sink that only
// counts them) and the peak resident memory the catalogue added, in machine-readable lines:
//   LOAD_SECONDS <s>   SCAN_SECONDS <s>   PEAK_ADDED_BYTES <n>   TRACKS <n>   PLAYLISTS <n>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "holders.h"
#include "loader.h"
#include "plist_reader.h"

namespace ml = kestrane::musiclibrary;

namespace {

long statusKilobytes(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::string(field).size());
    }
    return 0;
}

// Counts events, so that the reader's work is all that is timed.
class CountingSink final : public ml::PlistSink {
public:
    std::size_t events = 0;
    bool beginDict() override { return ++events, true; }
    bool endDict() override { return ++events, true; }
    bool beginArray() override { return ++events, true; }
    bool endArray() override { return ++events, true; }
    bool key(std::string_view) override { return ++events, true; }
    bool value(ml::ValueKind, std::string_view) override { return ++events, true; }
};

double scanSeconds(const char* path) {
    const kestrane::UniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC));
    if (!fd) return -1;
    CountingSink sink;
    const auto start = std::chrono::steady_clock::now();
    const auto scanned = ml::scanPlist(ml::ByteSource([&fd](char* buffer, std::size_t capacity) {
                                           return static_cast<std::ptrdiff_t>(::read(fd.get(), buffer, capacity));
                                       }),
                                       sink);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return scanned ? seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: library_load FILE [RUNS]\n");
        return 2;
    }
    const int runs = argc > 2 ? std::atoi(argv[2]) : 1;
    const long baseline = statusKilobytes("VmRSS:");
    double best = 1e9;
    std::size_t tracks = 0, playlists = 0;
    long peakAdded = 0;
    for (int r = 0; r < runs; ++r) {
        const auto start = std::chrono::steady_clock::now();
        const auto loaded = ml::loadSnapshot(argv[1]);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!loaded) {
            std::fprintf(stderr, "%s\n", loaded.error().message.c_str());
            return 1;
        }
        best = std::min(best, seconds);
        tracks = loaded->get()->allItems.size();
        playlists = loaded->get()->allPlaylists.size();
        if (r == 0) peakAdded = (statusKilobytes("VmHWM:") - baseline) * 1024;
    }
    double scan = 1e9;
    for (int r = 0; r < runs; ++r) scan = std::min(scan, scanSeconds(argv[1]));
    std::printf("LOAD_SECONDS %.4f\nSCAN_SECONDS %.4f\nPEAK_ADDED_BYTES %ld\nTRACKS %zu\nPLAYLISTS %zu\n", best, scan, peakAdded, tracks, playlists);
    return 0;
}
