// One scan of a music folder, for bench/scan_bench.py: prints the wall time of the scan, the
// number of tracks and the process's peak resident memory.
// Usage: scan_folder <folder>   (the scan cache follows XDG_CACHE_HOME)
#include <sys/resource.h>

#include <chrono>
#include <cstdio>

#include "folder_scan.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const auto start = std::chrono::steady_clock::now();
    auto scanned = kestrane::musiclibrary::scanFolder(argv[1]);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!scanned) {
        std::fprintf(stderr, "%s\n", scanned.error().message.c_str());
        return 1;
    }
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("seconds=%.4f tracks=%zu peak_kb=%ld\n", seconds, scanned->get()->allItems.size(), usage.ru_maxrss);
    return 0;
}
