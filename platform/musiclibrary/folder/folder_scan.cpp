#include "folder_scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <set>
#include <thread>
#include <unordered_map>

#include "artwork.h"
#include "audio_tags.h"
#include "holders.h"
#include "loader.h"
#include "log.h"
#include "playlist_files.h"
#include "scan_cache.h"
#include "url.h"
#include "values.h"

namespace kestrane::musiclibrary {

namespace {

// The cache's mark of a file that no reader accepted: not a track, and not read again until
// it changes.
constexpr const char* kSkippedKey = "\x01skipped";

struct AudioFile {
    std::string path;
    std::int64_t size;
    std::int64_t modified;  // nanoseconds since the epoch
};

struct Found {
    std::vector<AudioFile> audio;
    std::vector<std::string> playlists;
    std::set<std::string> coverFolders;  // folders with a cover picture beside their tracks
};

// Every audio and playlist file below folder. Links to folders are followed, each folder at
// most once (by device and inode), so that a link loop ends.
void walk(const std::string& folder, std::set<std::pair<dev_t, ino_t>>& seen, Found& found) {
    struct stat st {};
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || !seen.insert({st.st_dev, st.st_ino}).second) return;
    // Each entry is looked up relative to its folder: no walk of the whole path per file.
    UniqueFd dirFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dirFd) return;
    std::vector<std::string> names;
    {
        const DirPtr dir(fdopendir(::dup(dirFd.get())));
        if (!dir) return;
        while (const dirent* entry = readdir(dir.get())) {
            if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);  // hidden, "." and ".."
        }
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string path = folder + "/" + name;
        if (fstatat(dirFd.get(), name.c_str(), &st, 0) != 0) continue;
        if (S_ISDIR(st.st_mode)) walk(path, seen, found);
        else if (S_ISREG(st.st_mode) && isAudioFileName(name)) {
            found.audio.push_back({path, st.st_size, static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec});
        }
        else if (S_ISREG(st.st_mode) && isPlaylistFileName(name)) found.playlists.push_back(path);
        else if (S_ISREG(st.st_mode) && artwork::folderCoverRank(name)) found.coverFolders.insert(folder);
    }
}

std::string hexId(std::uint64_t id) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(id));
    return text;
}

double nowSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Feeds a library's structure to a sink, as the reader of a library file would.
class Events {
public:
    explicit Events(PlistSink& sink) : sink_(sink) {}
    bool ok() const { return ok_; }
    void beginDict() { ok_ = ok_ && sink_.beginDict(); }
    void endDict() { ok_ = ok_ && sink_.endDict(); }
    void beginArray() { ok_ = ok_ && sink_.beginArray(); }
    void endArray() { ok_ = ok_ && sink_.endArray(); }
    void key(std::string_view k) { ok_ = ok_ && sink_.key(k); }
    void value(std::string_view k, ValueKind kind, std::string_view text) {
        key(k);
        ok_ = ok_ && sink_.value(kind, text);
    }

private:
    PlistSink& sink_;
    bool ok_ = true;
};

struct Track {
    std::string path;
    const CachedFile* file;
};

struct ScannedPlaylist {
    std::string name;
    std::uint64_t persistentId;
    std::vector<std::int64_t> trackIds;
};

// The files of this scan, each with what the last scan knew of it, and which of them must be
// read (new, or changed since).
struct Inventory {
    std::unordered_map<std::string, CachedFile> files;
    std::vector<std::string> toRead;
    bool changed = false;  // anything to store in the cache
};

Inventory takeInventory(const Found& found, std::unordered_map<std::string, CachedFile> known) {
    Inventory inventory;
    inventory.files.reserve(found.audio.size());
    inventory.changed = known.size() != found.audio.size();
    for (const AudioFile& audio : found.audio) {
        CachedFile file;
        file.size = audio.size;
        file.modified = audio.modified;
        const auto old = known.find(audio.path);
        if (old != known.end()) {
            file.trackId = old->second.trackId;
            file.persistentId = old->second.persistentId;
            file.dateAdded = old->second.dateAdded;
            if (old->second.size == file.size && old->second.modified == file.modified) file.values = std::move(old->second.values);
        }
        if (file.values.empty()) inventory.toRead.push_back(audio.path);
        inventory.changed |= old == known.end() || file.values.empty();
        inventory.files.emplace(audio.path, std::move(file));
    }
    return inventory;
}

// Reads the new and changed files, one thread per core; a file that no reader accepts is marked
// skipped, with one log line.
void readFiles(Inventory& inventory) {
    const std::vector<std::string>& toRead = inventory.toRead;
    std::vector<Expected<TrackValues>> read(toRead.size(), Expected<TrackValues>(TrackValues{}));
    std::atomic<std::size_t> next{0};
    const unsigned threads = std::max(1u, std::min<unsigned>(std::thread::hardware_concurrency(), static_cast<unsigned>(toRead.size())));
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            for (std::size_t i = next++; i < toRead.size(); i = next++) read[i] = readAudioFile(toRead[i]);
        });
    }
    for (std::thread& w : workers) w.join();
    for (std::size_t i = 0; i < toRead.size(); ++i) {
        CachedFile& file = inventory.files[toRead[i]];
        if (read[i]) {
            file.values = std::move(read[i]).value();
        } else {
            logLine(toRead[i] + ": skipped: " + read[i].error().message);
            file.values = {{kSkippedKey, ValueKind::string, read[i].error().message}};
        }
    }
}

// IDs for the files never seen before: a new file never takes an ID that an earlier one had.
// False when the cache could not give new IDs: the files then take IDs above every ID this scan
// knows, which last this load only, and the cache is not to be updated with them.
bool assignIds(const std::string& folder, std::unordered_map<std::string, CachedFile>& files, ScanCache* cache) {
    std::int64_t fresh = 0, highest = 0;
    for (const auto& [path, file] : files) {
        fresh += file.trackId == 0;
        highest = std::max(highest, file.trackId);
    }
    if (fresh == 0) return true;
    std::optional<std::int64_t> nextId = cache != nullptr ? cache->reserveTrackIds(fresh) : std::optional<std::int64_t>(1);
    const bool reserved = nextId.has_value();
    if (!reserved) {
        logLine("The scan cache of " + folder + " cannot give new track IDs; the new files' IDs last this load only.");
        nextId = highest + 1;
    }
    const double added = nowSeconds();
    for (auto& [path, file] : files) {
        if (file.trackId != 0) continue;
        file.trackId = (*nextId)++;
        file.persistentId = cache != nullptr ? cache->persistentIdOf(file.trackId) : persistentIdFor(file.trackId, 0x4b657374);
        file.dateAdded = added;
    }
    return reserved;
}

// The tracks (files not skipped), in the order of their paths.
std::vector<Track> tracksOf(const std::unordered_map<std::string, CachedFile>& files) {
    std::vector<Track> tracks;
    for (const auto& [path, file] : files) {
        if (!file.values.empty() && file.values.front().key == kSkippedKey) continue;
        tracks.push_back({path, &file});
    }
    std::sort(tracks.begin(), tracks.end(), [](const Track& a, const Track& b) { return a.path < b.path; });
    return tracks;
}

// The track a playlist entry's path names: by its path as written, else, for entries that
// reach a track through a link, by real paths (made only when an entry needs them).
class TrackPaths {
public:
    explicit TrackPaths(const std::vector<Track>& tracks) : tracks_(tracks) {
        for (const Track& t : tracks) byPath_.emplace(std::filesystem::path(t.path).lexically_normal().string(), t.file->trackId);
    }

    std::optional<std::int64_t> idOf(const std::string& path) {
        if (const auto it = byPath_.find(path); it != byPath_.end()) return it->second;
        if (byRealPath_.empty()) {
            for (const Track& t : tracks_) {
                if (const auto real = realPath(t.path)) byRealPath_.emplace(*real, t.file->trackId);
            }
        }
        const auto real = realPath(path);
        if (!real) return std::nullopt;
        const auto it = byRealPath_.find(*real);
        if (it == byRealPath_.end()) return std::nullopt;
        return it->second;
    }

private:
    const std::vector<Track>& tracks_;
    std::unordered_map<std::string, std::int64_t> byPath_, byRealPath_;
};

// The playlist files, their entries resolved against the tracks; one log line per file that
// cannot be read, or whose entries name files that are not tracks.
std::vector<ScannedPlaylist> readPlaylists(const std::vector<std::string>& paths, TrackPaths& tracks) {
    std::vector<ScannedPlaylist> playlists;
    for (const std::string& path : paths) {
        Expected<std::vector<std::string>> entries = readPlaylistFile(path);
        if (!entries) {
            logLine(path + ": skipped: " + entries.error().message);
            continue;
        }
        const std::string dir = path.substr(0, path.find_last_of('/'));
        std::string name = path.substr(path.find_last_of('/') + 1);
        name = name.substr(0, name.find_last_of('.'));
        ScannedPlaylist playlist{name, persistentIdFor(static_cast<std::int64_t>(stableHash(path)), 0x706c61796c697374), {}};
        std::size_t missing = 0;
        for (const std::string& entry : *entries) {
            const std::optional<std::string> target = entryPath(entry, dir);
            const std::optional<std::int64_t> id = target ? tracks.idOf(*target) : std::nullopt;
            if (id) playlist.trackIds.push_back(*id);
            else ++missing;
        }
        if (missing > 0) logFormat("%s: %zu of %zu entries name no track of the music folder; they are left out.", path.c_str(), missing, entries->size());
        playlists.push_back(std::move(playlist));
    }
    return playlists;
}

// One track as the keys of an exported library file. A track without a picture of its own
// counts its folder's cover, which its artwork then is.
void emitTrack(Events& e, const Track& t, const std::set<std::string>& coverFolders) {
    const CachedFile& f = *t.file;
    e.key(std::to_string(f.trackId));
    e.beginDict();
    e.value("Track ID", ValueKind::integer, std::to_string(f.trackId));
    for (const TrackValue& v : f.values) {
        const bool folderCover = v.key == "Artwork Count" && v.text == "0" && coverFolders.count(t.path.substr(0, t.path.find_last_of('/'))) != 0;
        e.value(v.key, v.kind, folderCover ? "1" : v.text);
    }
    e.value("Size", ValueKind::integer, std::to_string(f.size));
    e.value("Date Modified", ValueKind::date, formatIsoDate(static_cast<double>(f.modified / 1000000000)));
    e.value("Date Added", ValueKind::date, formatIsoDate(std::floor(f.dateAdded)));
    e.value("Persistent ID", ValueKind::string, hexId(f.persistentId));
    e.value("Track Type", ValueKind::string, "File");
    e.value("Location", ValueKind::string, url::fileUrlOf(t.path));
    e.endDict();
}

// One playlist as an exported library file writes it.
void emitPlaylist(Events& e, const std::string& name, std::uint64_t id, bool master, const std::vector<std::int64_t>& ids) {
    e.beginDict();
    e.value("Name", ValueKind::string, name);
    if (master) {
        e.value("Master", ValueKind::boolean, "true");
        e.value("Visible", ValueKind::boolean, "false");
    }
    e.value("Playlist ID", ValueKind::integer, std::to_string(id & 0x7fffffff));
    e.value("Playlist Persistent ID", ValueKind::string, hexId(id));
    e.value("All Items", ValueKind::boolean, "true");
    e.key("Playlist Items");
    e.beginArray();
    for (std::int64_t trackId : ids) {
        e.beginDict();
        e.value("Track ID", ValueKind::integer, std::to_string(trackId));
        e.endDict();
    }
    e.endArray();
    e.endDict();
}

// The whole library as the events of an exported library file: the settings, every track, the
// master playlist "Library" of all tracks, then the playlist files.
bool emitLibrary(PlistSink& sink, const std::string& folder, const std::vector<Track>& tracks,
                 const std::vector<ScannedPlaylist>& playlists, const std::set<std::string>& coverFolders) {
    Events e(sink);
    e.beginDict();
    e.value("Major Version", ValueKind::integer, "1");
    e.value("Minor Version", ValueKind::integer, "1");
    e.value("Application Version", ValueKind::string, "Kestrane folder scan");
    e.value("Music Folder", ValueKind::string, url::fileUrlOf(folder) + "/");
    e.key("Tracks");
    e.beginDict();
    for (const Track& t : tracks) emitTrack(e, t, coverFolders);
    e.endDict();
    e.key("Playlists");
    e.beginArray();
    std::vector<std::int64_t> all;
    for (const Track& t : tracks) all.push_back(t.file->trackId);
    emitPlaylist(e, "Library", persistentIdFor(0, 0x6d6173746572), true, all);
    for (const ScannedPlaylist& p : playlists) emitPlaylist(e, p.name, p.persistentId, false, p.trackIds);
    e.endArray();
    e.endDict();
    return e.ok();
}

}  // namespace

Expected<SnapshotRef> scanFolder(const std::string& folderPath) {
    const std::string folder = folderPath.size() > 1 && folderPath.back() == '/' ? folderPath.substr(0, folderPath.size() - 1) : folderPath;
    struct stat st {};
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return Error(LibraryError::unreadable, "The music folder '" + folder + "' does not exist.");
    }
    Found found;
    std::set<std::pair<dev_t, ino_t>> seen;
    walk(folder, seen, found);

    // What the last scan knew: files whose size and time are unchanged are not read again.
    const std::unique_ptr<ScanCache> cache = ScanCache::open(folder);
    Inventory inventory = takeInventory(found, cache ? cache->files() : std::unordered_map<std::string, CachedFile>{});
    readFiles(inventory);
    const bool idsReserved = assignIds(folder, inventory.files, cache.get());
    if (cache && idsReserved && inventory.changed && !cache->store(inventory.files)) {
        logLine("The scan cache of " + folder + " could not be updated; the next scan reads every file again.");
    }

    const std::vector<Track> tracks = tracksOf(inventory.files);
    TrackPaths paths(tracks);
    const std::vector<ScannedPlaylist> playlists = readPlaylists(found.playlists, paths);
    return buildSnapshot("The music folder '" + folder + "'", folder,
                         [&](PlistSink& sink) { return emitLibrary(sink, folder, tracks, playlists, found.coverFolders); });
}

}  // namespace kestrane::musiclibrary
