// A snapshot: everything one load of the library file made, owned together and freed
// together. A reference to any of its objects is a reference to the snapshot. What the objects
// read lives in its store (snapshot_store.h).
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <deque>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "album.h"
#include "catalogue_artwork.h"
#include "media_item.h"
#include "playlist.h"
#include "snapshot_store.h"
#include "storage.h"

namespace kestrane::musiclibrary {

class Snapshot;

// One reference to a snapshot, given back when the holder goes (transfer full in and out).
class SnapshotRef {
public:
    SnapshotRef() = default;
    // Adopts a reference the caller holds.
    explicit SnapshotRef(const Snapshot* adopted) : snapshot_(adopted) {}
    SnapshotRef(SnapshotRef&& other) noexcept : snapshot_(std::exchange(other.snapshot_, nullptr)) {}
    SnapshotRef& operator=(SnapshotRef&& other) noexcept;
    SnapshotRef(const SnapshotRef&) = delete;
    SnapshotRef& operator=(const SnapshotRef&) = delete;
    ~SnapshotRef() { reset(); }

    // A new reference to the same snapshot.
    SnapshotRef share() const;
    void reset();

    const Snapshot* get() const { return snapshot_; }
    const Snapshot* operator->() const { return snapshot_; }
    explicit operator bool() const { return snapshot_ != nullptr; }

private:
    const Snapshot* snapshot_ = nullptr;
};

// A list made for one caller (the items changed since a moment, say): a reference count of its
// own and a reference to the snapshot its elements belong to (none for a list made empty).
class ItemList final : public Counted<Array> {
public:
    // The list of elements (which belong to snapshot), with one reference for the caller
    // (transfer full).
    static ItemList* make(SnapshotRef snapshot, std::vector<Object*> elements);
    std::span<Object* const> elements() const override { return elements_; }

    class Key {
        friend class ItemList;
        Key() = default;
    };
    ItemList(Key, SnapshotRef snapshot, std::vector<Object*> elements)
        : snapshot_(std::move(snapshot)), elements_(std::move(elements)) {}

private:
    SnapshotRef snapshot_;
    std::vector<Object*> elements_;
};

// What the file system tells of a library file's contents. Two reads of a file that agree on
// all of it saw the same contents, unless the file was rewritten within the file system's
// timestamp granularity; the loader only records an identity for files older than that.
struct FileIdentity {
    std::uint64_t device = 0, inode = 0;
    std::int64_t size = 0, modifiedNs = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The identity of a file from its status.
inline FileIdentity identityOf(const struct stat& status) {
    return FileIdentity{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
                        static_cast<std::int64_t>(status.st_size),
                        static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec};
}

class Snapshot final : public SnapshotStore {
public:
    // Starts with one reference, the caller's.
    Snapshot();
    ~Snapshot() override;

    // How many snapshots exist in the process now (for tests).
    static std::size_t liveCount();

    // The first media item in list order whose persistent ID is one of ids; null when none.
    MediaItem* firstItemWithPersistentId(std::initializer_list<std::uint64_t> ids) const;

    StableList<MediaItem> items;
    std::deque<Playlist> playlists;
    std::deque<Album> albums;
    std::deque<Artist> artists;
    SnapshotArray allItems, allPlaylists;
    // Position in allItems of the first item with each persistent ID.
    PositionIndex positionsById;
    // The persistent ID of each item of allItems, in its order: change tracking reads them all
    // at once, and a compact copy streams through the cache where the items would not.
    std::vector<std::uint64_t> itemIds;
    std::optional<std::string> applicationVersion, musicFolder;  // UTF-8
    // A library moved from another machine: its music folder rewritten to where it is here, as
    // its items' locations are (localLocations).
    std::optional<std::string> localMusicFolder;
    bool showContentRating = false;
    // The file the snapshot was read from, and its identity when it may be shared with other
    // readers of the file while it stays unchanged (snapshot_cache.h).
    std::string path;
    std::optional<FileIdentity> file;
    // Given by whoever offers the snapshot to other readers (snapshot_cache.h): called by the
    // last release, before the snapshot goes, to withdraw the offer.
    void (*withdraw)(const Snapshot*) = nullptr;

private:
    // The last release: ends the handles of everything in the snapshot and hands it to the
    // handle table, which frees it once no lookup can be using it.
    void end() const override;
    void revokeHandles() const;
};

inline SnapshotRef& SnapshotRef::operator=(SnapshotRef&& other) noexcept {
    if (this != &other) {
        reset();
        snapshot_ = std::exchange(other.snapshot_, nullptr);
    }
    return *this;
}

inline SnapshotRef SnapshotRef::share() const {
    if (snapshot_ != nullptr) snapshot_->retain();
    return SnapshotRef(snapshot_);
}

inline void SnapshotRef::reset() {
    if (snapshot_ != nullptr) snapshot_->release();
    snapshot_ = nullptr;
}

}  // namespace kestrane::musiclibrary
