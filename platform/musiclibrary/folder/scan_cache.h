// What the last scan of a music folder found, kept in a SQLite database in the user's cache
// folder ($XDG_CACHE_HOME/kestrane/, one database per folder) so that a rescan reads only
// the files that changed and every file keeps its IDs. Nothing is written into the music
// folder. A missing, corrupt or outdated database is rebuilt (one log line), keeping the IDs of
// every file it can still read; it never makes the library unreadable. A database that cannot
// be written is still read, so that known files keep their IDs.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "audio_tags.h"
#include "holders.h"

namespace kestrane::musiclibrary {

class MediaItem;

struct CachedFile {
    std::int64_t size = 0;
    std::int64_t modified = 0;  // nanoseconds since the epoch
    std::int64_t trackId = 0;   // 0: none yet
    std::uint64_t persistentId = 0;
    double dateAdded = 0;  // seconds since the epoch
    TrackValues values;
    // Not kept in the cache: the track that a scanner's last snapshot made of the file (null:
    // none, or the file changed since), and whether it showed its folder's cover. A rescan
    // hands such a track on whole instead of building it again.
    const MediaItem* shownAs = nullptr;
    bool shownWithCover = false;
};

using CachedFiles = std::unordered_map<std::string, CachedFile>;

class ScanCache {
public:
    // The database of folder (an absolute path in normal form), made or rebuilt as needed;
    // none when it can neither be made nor read (the scan then goes on without a cache and the
    // IDs last only this run).
    static std::unique_ptr<ScanCache> open(const std::string& folder);
    // Where the database of folder lives.
    static std::string pathFor(const std::string& folder);
    ~ScanCache();

    // Every file of the last complete scan, by path. Rows with a value of the wrong kind, or
    // IDs out of range or taken by another row, are left out (one log line for all of them);
    // a row whose IDs are sound but whose values are not keeps its IDs and no values.
    CachedFiles files();
    // The stored files among paths (the same checks as files()).
    CachedFiles filesAt(const std::vector<std::string>& paths);

    // count track IDs that no file of this folder has had, from the one returned on; none when
    // the database cannot give them (why: lastError()).
    std::optional<std::int64_t> reserveTrackIds(std::int64_t count);
    // The persistent ID that goes with a track ID (distinct for distinct track IDs).
    std::uint64_t persistentIdOf(std::int64_t trackId) const;

    // Writes the files named in changed (taken from files) and removes those in removed, as one
    // transaction: a crash before it ends leaves the previous scan.
    bool store(const CachedFiles& files, const std::vector<std::string>& changed, const std::vector<std::string>& removed);

    // Whether the database can take new IDs and scans; false for one that could only be read.
    bool writable() const { return writable_; }
    // SQLite's words for the last failure to write.
    const std::string& lastError() const { return lastError_; }

    struct Db;
    ScanCache(std::unique_ptr<Db> db, std::uint64_t salt, bool writable);

private:
    CachedFiles select(const char* sql, const std::vector<std::string>* paths);

    std::unique_ptr<Db> db_;
    std::uint64_t salt_ = 0;
    bool writable_ = true;
    std::string lastError_;
};

// Holds the scan lock of a folder's cache while it lives, so that two processes scanning the
// same folder take turns: the second finds the IDs the first gave. Waits at most timeoutMs for
// another holder; without a lock file (a read-only cache folder) it holds nothing.
class ScanLock {
public:
    ScanLock(const std::string& folder, int timeoutMs = 120000);

private:
    UniqueFd fd_;
};

// A hash of text that stays the same across runs and builds (FNV-1a, 64 bits).
std::uint64_t stableHash(std::string_view text);

// The persistent ID of a track ID under a folder's salt.
std::uint64_t persistentIdFor(std::int64_t trackId, std::uint64_t salt);

// The values of a track in the cache's stored form, and back.
std::string encodeValues(const TrackValues& values);
std::optional<TrackValues> decodeValues(std::string_view bytes);

}  // namespace kestrane::musiclibrary
