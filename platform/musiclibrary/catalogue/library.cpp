#include "library.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>

#include "loader.h"

namespace kestrane::musiclibrary {

Library::Library(Key, int minor, SnapshotSource source, SnapshotRef first)
    : Object(kKind), minor_(minor), load_(std::move(source)), snapshot_(std::move(first)) {}

Expected<Library*> Library::open(const std::string& apiVersion, SnapshotSource source) {
    int minor;
    if (apiVersion == "1.0") minor = 0;
    else if (apiVersion == "1.1") minor = 1;
    else {
        return Error(LibraryError::unsupportedVersion, "The music library API version \"" + apiVersion +
                                              "\" is not supported; the supported versions are 1.0 and 1.1.");
    }
    Expected<SnapshotRef> first = source();
    if (!first) return first.error();
    // Lives until the process ends.
    return std::make_unique<Library>(Key(), minor, std::move(source), std::move(first).value()).release();
}

Expected<SnapshotRef> Library::loaded() {
    {
        std::lock_guard lock(mutex_);
        if (snapshot_) return snapshot_.share();
    }
    // Unloaded: load again.
    Expected<SnapshotRef> fresh = load_();
    if (!fresh) return fresh.error();
    std::lock_guard lock(mutex_);
    if (!snapshot_) snapshot_ = std::move(fresh).value();  // else another thread loaded it first
    return snapshot_.share();
}

SnapshotRef Library::current() {
    Expected<SnapshotRef> snapshot = loaded();
    if (snapshot) return std::move(snapshot).value();
    // A file that cannot be read now gives an empty library (not kept: the next access tries
    // the file again).
    return std::move(parseSnapshot("<plist><dict/></plist>").value());
}

std::optional<std::string> Library::musicFolderLocation() {
    const SnapshotRef snapshot = current();
    return snapshot->localMusicFolder ? snapshot->localMusicFolder : snapshot->musicFolder;
}

std::optional<std::string> Library::applicationVersion() {
    return current()->applicationVersion;
}

bool Library::shouldShowContentRating() {
    return current()->showContentRating;
}

bool Library::reloadData() {
    Expected<SnapshotRef> fresh = load_();
    if (!fresh) return false;
    SnapshotRef old;
    {
        std::lock_guard lock(mutex_);
        old = std::exchange(snapshot_, std::move(fresh).value());
    }
    // Whoever still holds the old lists keeps them; they go with the last reference.
    return true;
}

void Library::unloadData() {
    SnapshotRef old;
    std::lock_guard lock(mutex_);
    old = std::move(snapshot_);
}

Array* Library::allMediaItems() {
    const SnapshotRef s = current();
    return static_cast<Array*>(handOut(const_cast<SnapshotArray*>(&s->allItems)));
}

Array* Library::allPlaylists() {
    const SnapshotRef s = current();
    return static_cast<Array*>(handOut(const_cast<SnapshotArray*>(&s->allPlaylists)));
}

Array* Library::reloadingIfEmpty(Array* (Library::*fetch)()) {
    Array* list = (this->*fetch)();
    if (list->size() != 0) return list;
    reloadData();  // its result does not matter: the list is fetched again either way
    return (this->*fetch)();
}

Array* Library::allMediaItemsReloadingIfEmpty() {
    return reloadingIfEmpty(&Library::allMediaItems);
}

Array* Library::allPlaylistsReloadingIfEmpty() {
    return reloadingIfEmpty(&Library::allPlaylists);
}

Artwork* Library::artworkForMediaFile(const std::string& url) {
    return handOutNew(Artwork::ofMediaFile(url));
}

Expected<std::optional<double>> Library::lastItemModification() {
    Expected<SnapshotRef> s = loaded();
    if (!s) return s.error();
    return newestChangeDate(s->get()->allItems);
}

Expected<Array*> Library::mediaItemsChangedSince(double sinceMillis) {
    SnapshotRef s = current();
    std::vector<Object*> changed;
    if (Expected<void> collected = collectChangedSince(s->allItems, sinceMillis, changed); !collected) {
        return collected.error();
    }
    try {
        return handOutNew(ItemList::make(std::move(s), std::move(changed)));
    } catch (const std::bad_alloc&) {
        return Error(LibraryError::listUnreadable, "There is not enough memory to read the library's lists.");
    }
}

Array* Library::emptyList() {
    return handOutNew(ItemList::make(SnapshotRef(), {}));
}

Library::ItemIds Library::mediaItemIdsView() {
    SnapshotRef s = current();  // the list cannot change while it is read
    const std::span<const std::uint64_t> ids = s->itemIds;
    return ItemIds{std::move(s), ids};
}

std::vector<std::uint64_t> Library::mediaItemIds() {
    return current()->itemIds;
}

Expected<PlaylistHash> Library::playlistHash() {
    Expected<SnapshotRef> s = loaded();
    if (!s) return s.error();
    return musiclibrary::playlistHash(s->get()->allPlaylists);
}

MediaItem* Library::mediaItemWithPersistentId(std::initializer_list<std::uint64_t> ids) {
    // The list stays held by this thread's release scope while its snapshot is asked.
    const auto* items = static_cast<const SnapshotArray*>(allMediaItemsReloadingIfEmpty());
    MediaItem* item = static_cast<const Snapshot*>(items->snapshot)->firstItemWithPersistentId(ids);
    return item != nullptr ? static_cast<MediaItem*>(handOut(item)) : nullptr;
}

}  // namespace kestrane::musiclibrary
