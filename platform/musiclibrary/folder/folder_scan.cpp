#include "folder_scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "artwork.h"
#include "audio_tags.h"
#include "holders.h"
#include "loader.h"
#include "log.h"
#include "playlist_files.h"
#include "scan_cache.h"
#include "url.h"
#include "utf.h"
#include "values.h"

namespace kestrane::musiclibrary {

std::atomic<std::size_t> foldersListed{0};

namespace {

// The cache's mark of a file that no reader accepted: not a track, and not read again until
// it changes.
constexpr const char* kSkippedKey = "\x01skipped";

// What a watch reports: entries made, removed, moved, written or touched, and the folder itself
// going.
constexpr std::uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE | IN_MODIFY |
                                     IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

struct AudioFile {
    std::string path;
    std::int64_t size;      // -1: not looked at yet (its reader's open tells)
    std::int64_t modified;  // nanoseconds since the epoch
};

// Whether a walk must look at a file (size and time) to tell whether it changed: true for those
// a scan knew before. The others are read anyway, and their reader's open gives size and time,
// so that a first scan costs one system call per file fewer; the function may start reading
// them at once.
using Known = std::function<bool(const std::string&)>;

struct Found {
    std::vector<AudioFile> audio;
    std::vector<std::string> playlists;
};

std::int64_t modifiedOf(const struct stat& st) {
    return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// Text as valid UTF-8: a file name from an older system (Latin-1, say) keeps its readable part
// and shows U+FFFD for each byte that is not UTF-8, rather than giving Java no text at all.
std::string validText(std::string_view text) {
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) return std::string(text);
    return text::utf8FromUtf16(text::utf16FromUtf8(text));
}

// The same without a copy for ASCII text (nearly every value): a converted text is kept in
// spare.
std::string_view validView(std::string_view text, std::string& spare) {
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) return text;
    spare = text::utf8FromUtf16(text::utf16FromUtf8(text));
    return spare;
}

bool onNetworkFileSystem(const std::string& folder) {
    struct statfs fs {};
    if (statfs(folder.c_str(), &fs) != 0) return false;
    // NFS, SMB, CIFS, SMB2, 9P, AFS, Ceph, Coda: changes made by other machines raise no events.
    for (const unsigned long magic : {0x6969ul, 0x517Bul, 0xFF534D42ul, 0xFE534D42ul, 0x01021997ul, 0x5346414Ful, 0x00C36400ul, 0x73757245ul}) {
        if (static_cast<unsigned long>(fs.f_type) == magic) return true;
    }
    return false;
}

}  // namespace

// What a scanner knows of its folder between scans: the tree's folders (each once, by device
// and inode, so that a link loop ends) with their watches, every audio and playlist file, and
// the last snapshot.
struct FolderScanner::State {
    struct Dir {
        dev_t device;
        ino_t inode;
        int watch = -1;
    };

    std::mutex mutex;
    bool watch = true;
    std::string folder;  // canonical, of the last scan
    UniqueFd inotify;    // none: every scan walks
    bool watchLogged = false;
    bool provisionalLogged = false;
    std::map<std::string, Dir> dirs;
    std::unordered_map<int, std::string> dirOfWatch;
    std::set<std::pair<dev_t, ino_t>> seen;
    CachedFiles files;  // every audio file, a track or skipped
    std::set<std::string> playlists;
    std::unordered_map<std::string, Expected<std::vector<std::string>>> playlistEntries;
    // Cover pictures beside tracks (by path), and how many each folder holds: a track without a
    // picture of its own shows its folder's.
    std::set<std::string> covers;
    std::unordered_map<std::string, int> coversInFolder;
    SnapshotRef last;
    // The files in the order of their paths, as the last scan listed them.
    std::vector<CachedFiles::value_type*> order;

    // Notes that path is, or is no longer, a cover picture.
    void noteCover(const std::string& path, bool present) {
        const std::string dir = path.substr(0, path.find_last_of('/'));
        if (present ? !covers.insert(path).second : covers.erase(path) == 0) return;
        if ((coversInFolder[dir] += present ? 1 : -1) == 0) coversInFolder.erase(dir);
    }
    bool hasCover(const std::string& track) const {
        return coversInFolder.count(track.substr(0, track.find_last_of('/'))) != 0;
    }

    void stopWatching(const std::string& why) {
        if (!watchLogged) logLine("The music folder " + folder + " cannot be watched (" + why + "); each reload walks it again.");
        watchLogged = true;
        inotify.reset();
        dirOfWatch.clear();
        for (auto& [path, dir] : dirs) dir.watch = -1;
    }

    // Every audio and playlist file below dir into found; each folder watched before it is
    // listed, so that nothing made meanwhile goes unseen. With known, audio files it does not
    // know go to found unseen (size -1).
    void walk(const std::string& dir, Found& found, const Known& known = {}) {
        struct stat st {};
        if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || !seen.insert({st.st_dev, st.st_ino}).second) return;
        Dir& entry = dirs[dir];
        entry = {st.st_dev, st.st_ino, -1};
        if (inotify) {
            entry.watch = inotify_add_watch(inotify.get(), dir.c_str(), kWatchMask);
            if (entry.watch >= 0) dirOfWatch[entry.watch] = dir;
            else stopWatching(errno == ENOSPC ? "the limit of watches is reached" : std::strerror(errno));
        }
        // Each entry is looked up relative to its folder: no walk of the whole path per file.
        UniqueFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!dirFd) {
            logLine(dir + ": skipped: cannot be listed: " + std::strerror(errno));
            return;
        }
        ++foldersListed;
        std::vector<std::pair<std::string, unsigned char>> names;
        {
            const DirPtr listing(fdopendir(::dup(dirFd.get())));
            if (!listing) return;
            while (const dirent* e = readdir(listing.get())) {
                if (e->d_name[0] != '.') names.emplace_back(e->d_name, e->d_type);  // hidden, "." and ".."
            }
        }
        std::sort(names.begin(), names.end());
        const std::string prefix = dir == "/" ? dir : dir + "/";
        for (const auto& [name, type] : names) {
            const bool audio = isAudioFileName(name), playlist = !audio && isPlaylistFileName(name);
            const bool cover = !audio && !playlist && artwork::folderCoverRank(name).has_value();
            // A regular file of no kind the scan reads (notes, say) needs no stat, nor does a cover.
            if (type == DT_REG && !audio && !playlist) {
                if (cover) noteCover(prefix + name, true);
                continue;
            }
            if (type == DT_REG && audio && known && !known(prefix + name)) {
                found.audio.push_back({prefix + name, -1, -1});
                continue;
            }
            if (fstatat(dirFd.get(), name.c_str(), &st, 0) != 0) continue;
            if (S_ISDIR(st.st_mode)) walk(prefix + name, found, known);
            else if (S_ISREG(st.st_mode) && audio) found.audio.push_back({prefix + name, st.st_size, modifiedOf(st)});
            else if (S_ISREG(st.st_mode) && playlist) found.playlists.push_back(prefix + name);
            else if (S_ISREG(st.st_mode) && cover) noteCover(prefix + name, true);
        }
    }

    // Forgets dir and everything below it; the paths of the audio files that were there go to
    // removed.
    void forget(const std::string& dir, std::vector<std::string>& removed) {
        const std::string below = dir + "/";
        auto drop = [this](std::map<std::string, Dir>::iterator it) {
            if (it->second.watch >= 0 && inotify) {
                inotify_rm_watch(inotify.get(), it->second.watch);
                dirOfWatch.erase(it->second.watch);
            }
            seen.erase({it->second.device, it->second.inode});
            return dirs.erase(it);
        };
        if (const auto it = dirs.find(dir); it != dirs.end()) drop(it);
        for (auto it = dirs.lower_bound(below); it != dirs.end() && it->first.compare(0, below.size(), below) == 0;) it = drop(it);
        for (auto it = files.begin(); it != files.end();) {
            if (it->first.compare(0, below.size(), below) == 0) {
                removed.push_back(it->first);
                it = files.erase(it);
            } else {
                ++it;
            }
        }
        for (auto it = playlists.lower_bound(below); it != playlists.end() && it->compare(0, below.size(), below) == 0;) {
            playlistEntries.erase(*it);
            it = playlists.erase(it);
        }
        for (auto it = covers.lower_bound(below); it != covers.end() && it->compare(0, below.size(), below) == 0;) {
            coversInFolder.erase(it->substr(0, it->find_last_of('/')));
            it = covers.erase(it);
        }
    }
};

namespace {

std::string hexId(std::uint64_t id) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(id));
    return text;
}

// Feeds a library's structure to a sink, as the reader of a library file would.
class Events {
public:
    explicit Events(CatalogueSink& sink) : sink_(sink) {}
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
    void copyTrack(std::string_view k, const MediaItem& item) { ok_ = ok_ && sink_.copyTrack(k, item); }

private:
    CatalogueSink& sink_;
    bool ok_ = true;
};


struct Track {
    const std::string* path;  // the key of file in the scanner's files
    CachedFile* file;
    bool cover = false;  // shows its folder's cover when it has no picture of its own
};

struct ScannedPlaylist {
    std::string name;
    std::uint64_t persistentId;
    std::vector<std::int64_t> trackIds;
};

// What a scan changes: the files to read (new, or changed since), those whose IDs are to be
// looked up in the cache (new to this scanner), and the rows to write and remove.
struct Work {
    std::vector<std::string> toRead;
    std::vector<std::string> changed;
    std::vector<std::string> removed;
};

// Brings files up to found: a file whose size and time are unchanged keeps what was read of
// it; a changed one keeps its IDs and is read again; a new one is to be read.
void takeInventory(const Found& found, CachedFiles& files, Work& work) {
    for (const AudioFile& audio : found.audio) {
        const auto [it, fresh] = files.try_emplace(audio.path);
        CachedFile& file = it->second;
        if (!fresh && audio.size >= 0 && file.size == audio.size && file.modified == audio.modified && !file.values.empty()) continue;
        file.size = audio.size;
        file.modified = audio.modified;
        file.values.clear();
        file.shownAs = nullptr;
        work.toRead.push_back(audio.path);
        work.changed.push_back(audio.path);
    }
}

// Audio files read on one thread per core, from the moment they are queued: a first scan reads
// while it walks.
class FileReaders {
public:
    struct Read {
        Expected<TrackValues> values = TrackValues{};
        FileStamp stamp;
    };

    FileReaders() {
        for (unsigned t = 0; t < std::max(1u, std::thread::hardware_concurrency()); ++t) workers_.emplace_back([this] { work(); });
    }
    ~FileReaders() { finish(); }
    FileReaders(const FileReaders&) = delete;
    FileReaders& operator=(const FileReaders&) = delete;

    void add(const std::string& path) {
        {
            const std::lock_guard guard(mutex_);
            paths_.push_back(path);
            read_.emplace_back();
        }
        ready_.notify_one();
    }
    // Waits for every queued file; the paths and what was read of each, in the order queued.
    std::pair<std::deque<std::string>, std::deque<Read>> finish() {
        {
            const std::lock_guard guard(mutex_);
            finishing_ = true;
        }
        ready_.notify_all();
        for (std::thread& w : workers_) w.join();
        workers_.clear();
        return {std::move(paths_), std::move(read_)};
    }

private:
    void work() {
        for (;;) {
            const std::string* path = nullptr;
            Read* read = nullptr;
            {
                std::unique_lock lock(mutex_);
                ready_.wait(lock, [this] { return next_ < paths_.size() || finishing_; });
                if (next_ == paths_.size()) return;
                // A deque's elements stay where they are while more are queued.
                path = &paths_[next_];
                read = &read_[next_];
                ++next_;
            }
            read->values = readAudioFile(*path, &read->stamp);
        }
    }

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::string> paths_;
    std::deque<Read> read_;
    std::size_t next_ = 0;
    bool finishing_ = false;
    std::vector<std::thread> workers_;
};

// Reads the files to read, but those the walk queued already (which it did not look at: size
// -1); a file that no reader accepts is marked skipped, with one log line. A file the walk did
// not look at takes the size and time its reader found.
void readFiles(const std::vector<std::string>& toRead, CachedFiles& files, FileReaders& readers) {
    for (const std::string& path : toRead) {
        if (files.at(path).size >= 0) readers.add(path);
    }
    auto [paths, done] = readers.finish();
    for (std::size_t i = 0; i < paths.size(); ++i) {
        CachedFile& file = files[paths[i]];
        if (file.size < 0) {
            FileStamp stamp = done[i].stamp;
            struct stat st {};
            // Not opened (gone, unreadable): as stat finds it, or nothing, so that the next
            // walk, which looks at known files, sees it change.
            if (stamp.size < 0) stamp = stat(paths[i].c_str(), &st) == 0 ? FileStamp{st.st_size, modifiedOf(st)} : FileStamp{0, 0};
            file.size = stamp.size;
            file.modified = stamp.modified;
        }
        Expected<TrackValues>& read = done[i].values;
        const std::string& path = paths[i];
        if (read) {
            file.values = std::move(read).value();
            // A file name that is not UTF-8 gives the tag reader no title to fall back to; the
            // name shows with U+FFFD for the bytes it cannot decode.
            if (std::none_of(file.values.begin(), file.values.end(), [](const TrackValue& v) { return v.key == "Name"; })) {
                std::string name = path.substr(path.find_last_of('/') + 1);
                if (const std::size_t dot = name.find_last_of('.'); dot != 0 && dot != std::string::npos) name.resize(dot);
                file.values.insert(file.values.begin(), {"Name", ValueKind::string, validText(name)});
            }
        } else {
            logLine(validText(path) + ": skipped: " + read.error().message);
            file.values = {{kSkippedKey, ValueKind::string, read.error().message}};
        }
    }
}

// IDs for the files that have none, in the order of their paths: a new file never takes an ID
// that an earlier one had. False when the cache could not give them: the files then take IDs
// above every ID this scan knows, which last this run only.
bool assignIds(CachedFiles& files, ScanCache* cache) {
    std::vector<std::string> fresh;
    std::int64_t highest = 0;
    for (const auto& [path, file] : files) {
        if (file.trackId == 0) fresh.push_back(path);
        highest = std::max(highest, file.trackId);
    }
    const double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    for (auto& [path, file] : files) {
        if (file.dateAdded < 0) file.dateAdded = now;  // a rebuilt cache's row that had lost it
    }
    if (fresh.empty()) return true;
    std::sort(fresh.begin(), fresh.end());
    std::unordered_set<std::uint64_t> taken;
    for (const auto& [path, file] : files) {
        if (file.trackId != 0) taken.insert(file.persistentId);
    }
    std::optional<std::int64_t> nextId = cache != nullptr ? cache->reserveTrackIds(static_cast<std::int64_t>(fresh.size())) : std::nullopt;
    const bool reserved = nextId.has_value();
    if (!reserved) nextId = highest + 1;
    for (const std::string& path : fresh) {
        CachedFile& file = files[path];
        file.shownAs = nullptr;
        file.trackId = (*nextId)++;
        // Persistent IDs kept from a cache whose salt was lost may meet a new one: never twice.
        const std::uint64_t base = cache != nullptr ? cache->persistentIdOf(file.trackId) : persistentIdFor(file.trackId, 0x4b657374);
        file.persistentId = base;
        for (std::int64_t round = 1; file.persistentId == 0 || !taken.insert(file.persistentId).second; ++round) {
            file.persistentId = persistentIdFor(round, base);
        }
        file.dateAdded = now;
    }
    return reserved;
}

// The tracks (files not skipped), in the order of their paths. The files in that order are
// kept in order, sorted again only when resort says that files came or went.
std::vector<Track> tracksOf(CachedFiles& files, std::vector<CachedFiles::value_type*>& order, bool resort) {
    if (resort || order.size() != files.size()) {
        order.clear();
        order.reserve(files.size());
        for (auto& entry : files) order.push_back(&entry);
        std::sort(order.begin(), order.end(), [](const auto* a, const auto* b) { return a->first < b->first; });
    }
    std::vector<Track> tracks;
    tracks.reserve(order.size());
    for (auto* entry : order) {
        CachedFile& file = entry->second;
        if (!file.values.empty() && file.values.front().key == kSkippedKey) continue;
        tracks.push_back({&entry->first, &file});
    }
    return tracks;
}

// The track a playlist entry's path names: by its path as written, else by its folder's real
// path (for entries that reach a track through a link), each folder resolved once, so that an
// entry naming no track costs no more than one naming one.
class TrackPaths {
public:
    explicit TrackPaths(const std::vector<Track>& tracks) : tracks_(tracks) {}

    std::optional<std::int64_t> idOf(const std::string& path) {
        // Indexed at the first entry: a folder without playlists pays nothing for it.
        if (byPath_.empty()) {
            byPath_.reserve(tracks_.size());
            for (const Track& t : tracks_) byPath_.emplace(*t.path, t.file->trackId);
        }
        if (const auto it = byPath_.find(path); it != byPath_.end()) return it->second;
        if (!resolved_) {
            resolved_ = true;
            for (const Track& t : tracks_) {
                if (const auto real = realOf(*t.path)) byRealPath_.emplace(*real, t.file->trackId);
            }
        }
        const auto real = realOf(path);
        if (!real) return std::nullopt;
        const auto it = byRealPath_.find(*real);
        if (it == byRealPath_.end()) return std::nullopt;
        return it->second;
    }

private:
    // path with its folder's real path.
    std::optional<std::string> realOf(const std::string& path) {
        const std::size_t slash = path.find_last_of('/');
        if (slash == std::string::npos) return std::nullopt;
        const std::string dir = path.substr(0, slash);
        auto it = realDirs_.find(dir);
        if (it == realDirs_.end()) it = realDirs_.emplace(dir, realPath(dir.empty() ? "/" : dir)).first;
        if (!it->second) return std::nullopt;
        return *it->second + path.substr(slash);
    }

    const std::vector<Track>& tracks_;
    bool resolved_ = false;
    std::unordered_map<std::string, std::int64_t> byPath_, byRealPath_;
    std::unordered_map<std::string, std::optional<std::string>> realDirs_;
};

// A playlist entry's track: the entry's bytes as written, else (an entry that is not UTF-8)
// read as Latin-1.
std::optional<std::int64_t> entryTrack(const std::string& entry, const std::string& dir, TrackPaths& tracks) {
    if (const auto target = entryPath(entry, dir)) {
        if (const auto id = tracks.idOf(*target)) return id;
    }
    if (const auto latin1 = latin1Variant(entry)) {
        if (const auto target = entryPath(*latin1, dir)) return tracks.idOf(*target);
    }
    return std::nullopt;
}

// The playlist files, their entries (read once per change of the file, into entries) resolved
// against the tracks; one log line per file that cannot be read, or whose entries name files
// that are not tracks.
std::vector<ScannedPlaylist> readPlaylists(const std::set<std::string>& paths,
                                           std::unordered_map<std::string, Expected<std::vector<std::string>>>& entries,
                                           TrackPaths& tracks) {
    std::vector<ScannedPlaylist> playlists;
    for (const std::string& path : paths) {
        auto read = entries.find(path);
        if (read == entries.end()) read = entries.emplace(path, readPlaylistFile(path)).first;
        const Expected<std::vector<std::string>>& list = read->second;
        if (!list) {
            logLine(validText(path) + ": skipped: " + list.error().message);
            continue;
        }
        const std::string dir = path.substr(0, path.find_last_of('/'));
        std::string name = path.substr(path.find_last_of('/') + 1);
        name = name.substr(0, name.find_last_of('.'));
        ScannedPlaylist playlist{validText(name), persistentIdFor(static_cast<std::int64_t>(stableHash(path)), 0x706c61796c697374), {}};
        std::size_t missing = 0;
        for (const std::string& entry : *list) {
            if (const std::optional<std::int64_t> id = entryTrack(entry, dir, tracks)) playlist.trackIds.push_back(*id);
            else ++missing;
        }
        if (missing > 0) {
            logFormat("%s: %zu of %zu entries name no track of the music folder; they are left out.", validText(path).c_str(), missing, list->size());
        }
        playlists.push_back(std::move(playlist));
    }
    return playlists;
}

// One track as the keys of an exported library file. A track without a picture of its own
// counts its folder's cover, which its artwork then is. A track that the last snapshot made of
// the same file, with the same IDs and cover, is handed on whole when reuse allows.
void emitTrack(Events& e, const Track& t, bool reuse) {
    const CachedFile& f = *t.file;
    const bool folderCover = t.cover;
    if (reuse && f.shownAs != nullptr && f.shownWithCover == folderCover && f.shownAs->persistentId() == f.persistentId) {
        e.copyTrack(std::to_string(f.trackId), *f.shownAs);
        return;
    }
    e.key(std::to_string(f.trackId));
    e.beginDict();
    e.value("Track ID", ValueKind::integer, std::to_string(f.trackId));
    std::string key, text;
    for (const TrackValue& v : f.values) {
        const bool counted = folderCover && v.key == "Artwork Count" && v.text == "0";
        e.value(validView(v.key, key), v.kind, counted ? "1" : validView(v.text, text));
    }
    e.value("Size", ValueKind::integer, std::to_string(f.size));
    e.value("Date Modified", ValueKind::date, formatIsoDate(static_cast<double>(f.modified / 1000000000)));
    e.value("Date Added", ValueKind::date, formatIsoDate(std::floor(f.dateAdded)));
    e.value("Persistent ID", ValueKind::string, hexId(f.persistentId));
    e.value("Track Type", ValueKind::string, "File");
    e.value("Location", ValueKind::string, url::fileUrlOf(*t.path));
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
bool emitLibrary(CatalogueSink& sink, const std::string& folder, const std::vector<Track>& tracks,
                 const std::vector<ScannedPlaylist>& playlists, bool reuse) {
    Events e(sink);
    e.beginDict();
    e.value("Major Version", ValueKind::integer, "1");
    e.value("Minor Version", ValueKind::integer, "1");
    e.value("Application Version", ValueKind::string, "Kestrane folder scan");
    e.value("Music Folder", ValueKind::string, url::fileUrlOf(folder) + "/");
    e.key("Tracks");
    e.beginDict();
    for (const Track& t : tracks) emitTrack(e, t, reuse);
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

FolderScanner::FolderScanner(std::string folder, bool watch) : given_(std::move(folder)), state_(std::make_unique<State>()) {
    state_->watch = watch;
}

FolderScanner::~FolderScanner() = default;

namespace {

// Applies the events queued since the last scan to what is known: changed and new files into
// work (new ones also into fresh), gone ones into work.removed. False when the events cannot
// tell what changed (the queue overflowed, the folder itself went): the tree is walked again.
// sideFilesChanged: a playlist or a cover picture was made, changed or removed.
bool followEvents(FolderScanner::State& s, Work& work, std::vector<std::string>& fresh, bool& sideFilesChanged) {
    std::set<std::string> paths, goneDirs, newDirs;
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const ssize_t n = ::read(s.inotify.get(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) break;
        if (n <= 0) return false;
        for (std::size_t at = 0; at + sizeof(inotify_event) <= static_cast<std::size_t>(n);) {
            inotify_event event {};
            std::memcpy(&event, buffer.data() + at, sizeof event);
            const std::string_view name(buffer.data() + at + sizeof event, ::strnlen(buffer.data() + at + sizeof event, event.len));
            at += sizeof event + event.len;
            if ((event.mask & IN_Q_OVERFLOW) != 0) return false;
            const auto dir = s.dirOfWatch.find(event.wd);
            if (dir == s.dirOfWatch.end()) continue;
            if ((event.mask & IN_IGNORED) != 0) {
                if (const auto d = s.dirs.find(dir->second); d != s.dirs.end() && d->second.watch == event.wd) d->second.watch = -1;
                s.dirOfWatch.erase(dir);
                continue;
            }
            if (name.empty()) {
                if (dir->second == s.folder && (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF)) != 0) return false;
                continue;
            }
            if (name.front() == '.') continue;
            const std::string path = (dir->second == "/" ? std::string() : dir->second) + "/" + std::string(name);
            if ((event.mask & IN_ISDIR) == 0) paths.insert(path);
            else if ((event.mask & (IN_DELETE | IN_MOVED_FROM)) != 0) goneDirs.insert(path);
            else if ((event.mask & (IN_CREATE | IN_MOVED_TO)) != 0) newDirs.insert(path);
        }
    }
    for (const std::string& dir : goneDirs) s.forget(dir, work.removed);
    Found found;
    for (const std::string& dir : newDirs) s.walk(dir, found);
    for (const std::string& path : paths) {
        struct stat st {};
        const bool exists = stat(path.c_str(), &st) == 0;
        if (exists && S_ISDIR(st.st_mode)) {  // a link to a folder
            s.walk(path, found);
            continue;
        }
        if (s.dirs.count(path) != 0) s.forget(path, work.removed);  // a link to a folder, gone
        const std::string name = path.substr(path.find_last_of('/') + 1);
        const bool regular = exists && S_ISREG(st.st_mode);
        if (regular && isAudioFileName(name)) found.audio.push_back({path, st.st_size, modifiedOf(st)});
        else if (s.files.erase(path) != 0) work.removed.push_back(path);
        if (regular && isPlaylistFileName(name)) found.playlists.push_back(path);
        else if (s.playlists.erase(path) != 0) sideFilesChanged = true;
        if (artwork::folderCoverRank(name).has_value()) {  // made, gone or rewritten: the artwork shown changes
            s.noteCover(path, regular);
            sideFilesChanged = true;
        }
        s.playlistEntries.erase(path);
    }
    for (const std::string& path : found.playlists) {
        s.playlists.insert(path);
        s.playlistEntries.erase(path);
        sideFilesChanged = true;
    }
    for (const AudioFile& audio : found.audio) {
        if (s.files.count(audio.path) == 0) fresh.push_back(audio.path);
    }
    takeInventory(found, s.files, work);
    return true;
}

}  // namespace

Expected<SnapshotRef> FolderScanner::scan() {
    State& s = *state_;
    const std::lock_guard guard(s.mutex);
    // One folder, one cache and one set of IDs, however the folder was named: absolute, links
    // resolved, no "." or ".." or doubled slashes.
    const std::optional<std::string> canonical = given_.empty() ? std::nullopt : realPath(given_);
    struct stat st {};
    if (!canonical || stat(canonical->c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return Error(LibraryError::unreadable, "The music folder '" + validText(given_) + "' does not exist.");
    }
    const std::string& folder = *canonical;

    Work work;
    std::vector<std::string> fresh;
    bool sideFilesChanged = false;
    const bool followed = s.last && s.inotify && folder == s.folder && followEvents(s, work, fresh, sideFilesChanged);
    if (followed && work.toRead.empty() && work.removed.empty() && !sideFilesChanged) return s.last.share();
    FileReaders readers;

    const ScanLock lock(folder);  // a concurrent first scan of the folder waits, then finds these IDs
    const std::unique_ptr<ScanCache> cache = ScanCache::open(folder);
    if (followed) {
        // Files new to this scanner may be known to the cache (another process's scan).
        if (cache) {
            for (auto& [path, known] : cache->filesAt(fresh)) {
                CachedFile& file = s.files[path];
                file.trackId = known.trackId;
                file.persistentId = known.persistentId;
                file.dateAdded = known.dateAdded;
                if (known.size == file.size && known.modified == file.modified) file.values = std::move(known.values);
            }
            std::erase_if(work.toRead, [&s](const std::string& path) { return !s.files[path].values.empty(); });
        }
    } else {
        s.folder = folder;
        s.dirs.clear();
        s.dirOfWatch.clear();
        s.seen.clear();
        s.playlists.clear();
        s.playlistEntries.clear();
        s.covers.clear();
        s.coversInFolder.clear();
        s.inotify.reset();
        if (s.watch && !s.watchLogged) {
            s.inotify.reset(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
            if (!s.inotify) s.stopWatching(std::strerror(errno));
            else if (onNetworkFileSystem(folder)) s.stopWatching("it is on a network file system");
        }
        // What the last scan knew: files whose size and time are unchanged are not read again.
        CachedFiles known = cache ? cache->files() : CachedFiles{};
        // A file the cache does not know but an earlier scan of this scanner did (a cache that
        // cannot be written) keeps the IDs it had for the run.
        CachedFiles earlier = std::move(s.files);
        s.files.clear();
        Found found;
        s.walk(folder, found, [&](const std::string& path) {
            if (known.count(path) != 0 || earlier.count(path) != 0) return true;
            readers.add(path);
            return false;
        });
        s.files.reserve(found.audio.size());
        for (const AudioFile& audio : found.audio) {
            if (auto node = known.extract(audio.path)) s.files.insert(std::move(node));
            else if (auto kept = earlier.extract(audio.path)) s.files.insert(std::move(kept));
        }
        for (const auto& [path, gone] : known) work.removed.push_back(path);
        // A walk builds every track anew: no file's track is handed on from the last snapshot,
        // which may even be of another folder.
        for (auto& [path, file] : s.files) file.shownAs = nullptr;
        takeInventory(found, s.files, work);
        s.playlists.insert(found.playlists.begin(), found.playlists.end());
    }
    // IDs depend on which files there are, not on what they hold: given while the readers read.
    // A followed rescan knows that only files new to it can lack an ID: when none does, the
    // walk over every file is spared.
    const bool idsKnown = followed && std::none_of(fresh.begin(), fresh.end(), [&s](const std::string& path) {
        const auto it = s.files.find(path);
        return it != s.files.end() && (it->second.trackId == 0 || it->second.dateAdded < 0);
    });
    const bool reserved = idsKnown || assignIds(s.files, cache.get());
    readFiles(work.toRead, s.files, readers);
    const bool dirty = !work.changed.empty() || !work.removed.empty();
    // The cache is written while the library is built from the same files, which neither
    // changes; the scan lock is held until both are done.
    std::future<bool> stored = std::async(std::launch::async, [&] {
        return cache && reserved && (!dirty || cache->store(s.files, work.changed, work.removed));
    });

    std::vector<Track> tracks = tracksOf(s.files, s.order, !followed || !fresh.empty() || !work.removed.empty());
    if (!s.coversInFolder.empty()) {
        for (Track& t : tracks) t.cover = s.hasCover(*t.path);
    }
    TrackPaths paths(tracks);
    const std::vector<ScannedPlaylist> playlists = readPlaylists(s.playlists, s.playlistEntries, paths);
    // Tracks of unchanged files come whole from the last snapshot, which every file's shownAs
    // names; after a walk the files may have come from the cache, and all are built again.
    Expected<SnapshotRef> built = buildSnapshot("The music folder '" + validText(folder) + "'", folder, [&](CatalogueSink& sink) {
        return emitLibrary(sink, folder, tracks, playlists, followed);
    });
    if (!stored.get() && !s.provisionalLogged) {
        // Said once: the next scan finds the same cache.
        s.provisionalLogged = true;
        const std::string why = cache ? cache->lastError() : "it cannot be opened";
        logLine("The scan cache of " + validText(folder) + " cannot be written (" + why +
                "); the files it knows keep their IDs, new files' IDs last this run only.");
    }
    if (built) {
        const Snapshot& made = *built->get();
        const bool matched = made.items.size() == tracks.size();
        for (std::size_t i = 0; i < tracks.size(); ++i) {
            tracks[i].file->shownAs = matched ? &made.items[i] : nullptr;
            tracks[i].file->shownWithCover = tracks[i].cover;
        }
        s.last = built->share();
    }
    return built;
}

Expected<SnapshotRef> scanFolder(const std::string& folder) {
    return FolderScanner(folder, false).scan();
}

}  // namespace kestrane::musiclibrary
