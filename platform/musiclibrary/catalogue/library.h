// The user's music library, read from the XML library file that music-library applications
// export beside the library. The catalogue offers what the Java side needs: the library's
// settings, the list of all media items and of all playlists, every property of a media item,
// albums and artists shared by their tracks, and media items by persistent ID.
//
// Ownership. Every object handed to the Java side is reference-counted (atomic counts).
// A load of the file (a snapshot) owns its media items, playlists, albums, artists and lists;
// a reference to any of them is a reference to its snapshot, which is freed after the last one
// goes. The library holds its current snapshot; reloadData swaps in a new one and drops its
// reference to the old, which lives on for as long as anyone still holds it. An object handed
// back without a reference for the caller is held by the calling thread's release scope until
// the same thread hands back its next such object, or the thread ends.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "album.h"
#include "catalogue_artwork.h"
#include "change_tracking.h"
#include "expected.h"
#include "loader.h"
#include "media_item.h"
#include "object.h"
#include "playlist.h"

namespace kestrane::musiclibrary {

// An opened library. It lives until the process ends.
class Library final : public Object {
public:
    static constexpr ObjectKind kKind = ObjectKind::library;

    // Where the library's snapshots come from: called for the first load and for every
    // reload (a library file, a scanned folder; library_source.h has the user's).
    using SnapshotSource = std::function<Expected<SnapshotRef>()>;

    // Opens the library for an API version ("1.0" or "1.1") and makes its first load from
    // source (transfer full: never freed). Errors: LibraryError::unsupportedVersion, or the
    // load's.
    static Expected<Library*> open(const std::string& apiVersion, SnapshotSource source);

    void retain() const override {}
    void release() const override {}
    bool tryRetain() const override { return true; }

    int apiMajorVersion() const { return 1; }
    int apiMinorVersion() const { return minor_; }
    // Copies: they stay valid whatever happens to the loaded lists.
    std::optional<std::string> musicFolderLocation();  // the URL's text (UTF-8)
    std::optional<std::string> applicationVersion();
    bool shouldShowContentRating();

    // Re-reads the file and swaps in the new lists; false (the old lists stay) on failure.
    bool reloadData();
    // Drops the loaded lists; the next access loads again.
    void unloadData();

    // The lists (transfer none, into the thread's release scope).
    Array* allMediaItems();
    Array* allPlaylists();
    // The lists as the Java side fetches them: a list that comes back empty makes the library
    // reload once, and the list is fetched again (and returned, empty or not).
    Array* allMediaItemsReloadingIfEmpty();
    Array* allPlaylistsReloadingIfEmpty();

    // The first media item, in the order of allMediaItemsReloadingIfEmpty, whose persistent ID
    // is one of ids; null when there is none (transfer none, into the release scope).
    MediaItem* mediaItemWithPersistentId(std::initializer_list<std::uint64_t> ids);

    // The artwork embedded in the media file named by a file:// URL; null when it has none
    // (transfer none, into the release scope).
    static Artwork* artworkForMediaFile(const std::string& url);

    // Change tracking (change_tracking.h) over the lists as they are now: no reload when a list
    // is empty. An unloaded library loads again; when that fails, lastItemModification and
    // playlistHash report the load's error (the other two see an empty library).
    Expected<std::optional<double>> lastItemModification();
    // A new list (transfer none, into the release scope); LibraryError::listUnreadable without memory for it.
    Expected<Array*> mediaItemsChangedSince(double sinceMillis);
    // The raw persistent IDs of all media items, in list order, and the reference to the
    // snapshot that keeps them: read them while the reference lives, and let it go after (its
    // last release may take locks).
    struct ItemIds {
        SnapshotRef snapshot;
        std::span<const std::uint64_t> ids;
    };
    ItemIds mediaItemIdsView();
    std::vector<std::uint64_t> mediaItemIds();
    Expected<PlaylistHash> playlistHash();
    // A new empty list, as mediaItemsChangedSince gives when there is no library (transfer
    // none, into the release scope).
    static Array* emptyList();

    // Only open() makes the key, so only open() makes libraries.
    class Key {
        friend class Library;
        Key() = default;
    };
    Library(Key, int minor, SnapshotSource source, SnapshotRef first);

private:
    // The current snapshot with a reference for the caller, loading it when needed; an empty
    // library when that load fails.
    SnapshotRef current();
    // The same, with the load's error instead of an empty library.
    Expected<SnapshotRef> loaded();
    Array* reloadingIfEmpty(Array* (Library::*fetch)());

    int minor_ = 0;
    SnapshotSource load_;
    std::mutex mutex_;
    SnapshotRef snapshot_;  // null after unloadData
};

}  // namespace kestrane::musiclibrary
