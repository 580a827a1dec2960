// Scans of a music folder, for bench/scan_bench.py: prints the wall time of the first scan, the
// number of tracks and the process's peak resident memory. With --follow N the same scanner
// (which watches the folder) scans again with nothing changed, then after N files have been
// touched, and prints those times too.
// With --rounds R the touch and rescan are repeated R times and the median is printed: a
// quieter figure for the rescan on a busy machine, and a long enough run to profile it.
// Usage: scan_folder [--follow N [--rounds R]] <folder>   (the scan cache follows XDG_CACHE_HOME)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "folder_scan.h"
#include "media_item.h"
#include "url.h"

namespace ml = kestrane::musiclibrary;

namespace {

double timed(ml::FolderScanner& scanner, std::size_t& tracks) {
    const auto start = std::chrono::steady_clock::now();
    auto scanned = scanner.scan();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!scanned) {
        std::fprintf(stderr, "%s\n", scanned.error().message.c_str());
        std::exit(1);
    }
    tracks = scanned->get()->allItems.size();
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    long follow = -1, rounds = 1;
    int arg = 1;
    if (argc >= 4 && std::strcmp(argv[1], "--follow") == 0) {
        follow = std::atol(argv[2]);
        arg = 3;
    }
    if (follow >= 0 && argc == 6 && std::strcmp(argv[3], "--rounds") == 0) {
        rounds = std::max(1l, std::atol(argv[4]));
        arg = 5;
    }
    if (arg != argc - 1) return 2;
    ml::FolderScanner scanner(argv[arg], follow >= 0);
    std::size_t tracks = 0;
    const double first = timed(scanner, tracks);
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("seconds=%.4f tracks=%zu peak_kb=%ld", first, tracks, usage.ru_maxrss);
    if (follow >= 0) {
        std::size_t same = 0, after = 0;
        const double rescan = timed(scanner, same);
        // Touch follow tracks, spread over the folder: a newer modification time, as a tag
        // editor leaves.
        std::vector<std::string> paths;
        {
            auto scanned = scanner.scan();
            const auto& items = scanned->get()->allItems;
            const std::size_t step = std::max<std::size_t>(1, items.size() / static_cast<std::size_t>(std::max(1l, follow)));
            for (std::size_t i = 0; i < items.size() && static_cast<long>(paths.size()) < follow; i += step) {
                const std::string location(static_cast<ml::MediaItem*>(items.at(i))->location().value_or(""));
                paths.push_back(kestrane::url::localPathOfFileUrl(location).value_or(""));
            }
        }
        const long touched = static_cast<long>(paths.size());
        std::vector<double> times;
        for (long round = 0; round < rounds; ++round) {
            for (long i = 0; i < touched; ++i) {
                const timespec stamps[2] = {{0, UTIME_OMIT}, {time(nullptr) + 10 + round * touched + i, 0}};
                utimensat(AT_FDCWD, paths[static_cast<std::size_t>(i)].c_str(), stamps, 0);
            }
            times.push_back(timed(scanner, after));
        }
        std::sort(times.begin(), times.end());
        const double changed = times[times.size() / 2];
        getrusage(RUSAGE_SELF, &usage);
        std::printf(" rescan_seconds=%.4f changed_seconds=%.4f changed=%ld tracks_after=%zu peak_after_kb=%ld", rescan, changed, touched,
                    after, usage.ru_maxrss);
    }
    std::printf("\n");
    return 0;
}
