#include "library.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>

#include "folder_scan.h"
#include "folders.h"
#include "snapshot_cache.h"

namespace kestrane::musiclibrary {

Library::Library(Key, int minor, SnapshotRef first) : Object(kKind), minor_(minor), snapshot_(std::move(first)) {}

Library::Source Library::locateSource() {
    struct stat st {};
    if (const char* named = std::getenv("KESTRANE_MUSIC_LIBRARY"); named != nullptr && *named != '\0') {
        return {named, stat(named, &st) == 0 && S_ISDIR(st.st_mode)};
    }
    const std::string base = folders::folderPath(folders::Folder::music, folders::Domain::user).value_or("");
    // An exported library file in the music folder, else the music folder itself.
    for (const char* name : {"/iTunes/iTunes Music Library.xml", "/iTunes/iTunes Library.xml"}) {
        if (stat((base + name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) return {base + name, false};
    }
    return {base, true};
}

Expected<SnapshotRef> Library::load() {
    const Source source = locateSource();
    return source.folder ? scanFolder(source.path) : loadSharedSnapshot(source.path);
}

Expected<Library*> Library::open(const std::string& apiVersion) {
    int minor;
    if (apiVersion == "1.0") minor = 0;
    else if (apiVersion == "1.1") minor = 1;
    else {
        return Error(LibraryError::unsupportedVersion, "The music library API version \"" + apiVersion +
                                              "\" is not supported; the supported versions are 1.0 and 1.1.");
    }
    Expected<SnapshotRef> first = load();
    if (!first) return first.error();
    // Lives until the process ends.
    return std::make_unique<Library>(Key(), minor, std::move(first).value()).release();
}

Expected<SnapshotRef> Library::loaded() {
    {
        std::lock_guard lock(mutex_);
        if (snapshot_) return snapshot_.share();
    }
    // Unloaded: load again.
    Expected<SnapshotRef> fresh = load();
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
    Expected<SnapshotRef> fresh = load();
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
    if (!s) return Error(LibraryError::listUnreadable, s.error().message);
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

void Library::mediaItemIds(const std::function<std::uint64_t*(std::size_t)>& room) {
    const SnapshotRef s = current();  // the list cannot change while it is copied
    if (std::uint64_t* out = room(s->itemIds.size())) std::copy(s->itemIds.begin(), s->itemIds.end(), out);
}

std::vector<std::uint64_t> Library::mediaItemIds() {
    return current()->itemIds;
}

Expected<PlaylistHash> Library::playlistHash() {
    Expected<SnapshotRef> s = loaded();
    if (!s) return Error(LibraryError::listUnreadable, s.error().message);
    return musiclibrary::playlistHash(s->get()->allPlaylists);
}

MediaItem* Library::mediaItemWithPersistentId(std::initializer_list<std::uint64_t> ids) {
    // The list stays held by this thread's release scope while its snapshot is asked.
    const auto* items = static_cast<const SnapshotArray*>(allMediaItemsReloadingIfEmpty());
    MediaItem* item = items->snapshot->firstItemWithPersistentId(ids);
    return item != nullptr ? static_cast<MediaItem*>(handOut(item)) : nullptr;
}

}  // namespace kestrane::musiclibrary
