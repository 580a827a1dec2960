// Loads a music-library file with the catalogue and prints the load time (best of the given
// number of runs) and the peak resident memory the catalogue added, in machine-readable lines:
//   LOAD_SECONDS <s>   PEAK_ADDED_BYTES <n>   TRACKS <n>   PLAYLISTS <n>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "loader.h"

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
    std::printf("LOAD_SECONDS %.4f\nPEAK_ADDED_BYTES %ld\nTRACKS %zu\nPLAYLISTS %zu\n", best, peakAdded, tracks, playlists);
    return 0;
}
