// What the last scan of a music folder found, kept in a SQLite database in the user's cache
// folder ($XDG_CACHE_HOME/kestrane/, one database per folder) so that a rescan reads only
// the files that changed and every file keeps its IDs. Nothing is written into the music
// folder. A missing, corrupt or outdated database is rebuilt (one log line); it never makes
// the library unreadable.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "audio_tags.h"

namespace kestrane::musiclibrary {

struct CachedFile {
    std::int64_t size = 0;
    std::int64_t modified = 0;  // nanoseconds since the epoch
    std::int64_t trackId = 0;
    std::uint64_t persistentId = 0;
    double dateAdded = 0;  // seconds since the epoch
    TrackValues values;
};

class ScanCache {
public:
    // The database of folder (made, or rebuilt, as needed); none when even a new one cannot
    // be made (the scan then goes on without a cache and the IDs last only this load).
    static std::unique_ptr<ScanCache> open(const std::string& folder);
    // Where the database of folder lives.
    static std::string pathFor(const std::string& folder);
    ~ScanCache();

    // Every file of the last complete scan, by path.
    std::unordered_map<std::string, CachedFile> files();

    // count track IDs that no file of this folder has had, from the one returned on; none when
    // the database cannot give them.
    std::optional<std::int64_t> reserveTrackIds(std::int64_t count);
    // The persistent ID that goes with a track ID (distinct for distinct track IDs).
    std::uint64_t persistentIdOf(std::int64_t trackId) const;

    // Replaces the stored scan with files, as one transaction: a crash before it ends leaves
    // the previous scan.
    bool store(const std::unordered_map<std::string, CachedFile>& files);

    struct Db;
    explicit ScanCache(std::unique_ptr<Db> db);

private:
    std::unique_ptr<Db> db_;
    std::uint64_t salt_ = 0;
};

// A hash of text that stays the same across runs and builds (FNV-1a, 64 bits).
std::uint64_t stableHash(std::string_view text);

// The persistent ID of a track ID under a folder's salt.
std::uint64_t persistentIdFor(std::int64_t trackId, std::uint64_t salt);

// The values of a track in the cache's stored form, and back.
std::string encodeValues(const TrackValues& values);
std::optional<TrackValues> decodeValues(std::string_view bytes);

}  // namespace kestrane::musiclibrary
