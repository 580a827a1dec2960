// The reference for the change-tracking exports: the same four results computed by plain C++
// loops over the catalogue's lists, written here without the catalogue's change-tracking code.
// Prints "PLAIN_NS <what> <ns>" (best of several passes) and "LOAD_SECONDS <s>".
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "loader.h"
#include "snapshot.h"

namespace ml = kestrane::musiclibrary;
using Clock = std::chrono::steady_clock;

namespace {

template <class F>
double best(F pass) {
    double best = 1e18;
    std::uint64_t sink = 0;
    for (int round = 0; round < 40; ++round) {
        const auto start = Clock::now();
        sink += pass();
        const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
        if (round >= 5) best = std::min(best, ns);
    }
    if (sink == 42) std::puts("");
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: change_tracking_plain FILE\n");
        return 2;
    }
    const auto start = Clock::now();
    const auto loaded = ml::loadSnapshot(argv[1]);
    if (!loaded) {
        std::fprintf(stderr, "%s\n", loaded.error().message.c_str());
        return 1;
    }
    std::printf("LOAD_SECONDS %.3f\n", std::chrono::duration<double>(Clock::now() - start).count());
    const ml::Snapshot& s = *loaded->get();

    std::printf("PLAIN_NS lastItemModification %.0f\n", best([&] {
        double newest = -1e300;
        for (const ml::MediaItem& item : s.items) {
            for (const ml::Date d : {item.lastPlayedDate(), item.skipDate(), item.addedDate(), item.modifiedDate()}) {
                if (d) newest = std::max(newest, *d);
            }
        }
        return static_cast<std::uint64_t>(newest);
    }));
    std::printf("PLAIN_NS mediaItemsChangedSince %.0f\n", best([&] {
        std::vector<const ml::MediaItem*> changed;
        for (const ml::MediaItem& item : s.items) {
            const ml::Date added = item.addedDate(), modified = item.modifiedDate();
            const double at = added ? std::max(*added, modified.value_or(*added)) * 1000.0 : 0.0;
            if (at > -9.2e18) changed.push_back(&item);
        }
        return changed.size();
    }));
    std::printf("PLAIN_NS mediaItemIds %.0f\n", best([&] {
        std::vector<std::int64_t> ids;
        ids.reserve(s.items.size());
        for (const ml::MediaItem& item : s.items) {
            const std::uint64_t v = item.persistentId();
            ids.push_back(v == 0 ? 0 : static_cast<std::int64_t>(v ^ (std::uint64_t{1} << 63)));
        }
        return ids.size();
    }));
    std::printf("PLAIN_NS playlistHash %.0f\n", best([&] {
        std::uint32_t hash = 0;
        for (const ml::Playlist& playlist : s.playlists) {
            const ml::Array* items = playlist.isVisible() ? playlist.items() : nullptr;
            if (items == nullptr) continue;
            for (std::size_t p = 0; p < items->size(); ++p) {
                const std::uint64_t v = static_cast<const ml::MediaItem*>(items->at(p))->persistentId();
                if (v != 0) hash ^= (static_cast<std::uint32_t>(v) + static_cast<std::uint32_t>(p)) ^ static_cast<std::uint32_t>(v >> 32);
            }
        }
        return hash;
    }));
    return 0;
}
