// The user's music library, read from the XML library file that music-library applications
// export beside the library. The catalogue offers what the Java side needs: the library's
// settings, the list of all media items and of all playlists, every property of a media item,
// albums and artists shared by their tracks, and persistent IDs.
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
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrane::musiclibrary {

class Snapshot;
struct Field;

// A reference-counted object of the catalogue. retain/release are safe from any thread.
class Object {
public:
    virtual ~Object() = default;
    virtual void retain() const = 0;
    virtual void release() const = 0;
};

// Puts object (may be null) into the calling thread's release scope and returns it (transfer
// none): it stays valid at least until this thread's next handOut or the thread's end.
Object* handOut(Object* object);

// An ordered list of media items or playlists.
class Array : public Object {
public:
    virtual std::size_t size() const = 0;
    virtual Object* at(std::size_t index) const = 0;  // transfer none; index < size()
};

// An album or an artist: shared by the tracks that name it.
class Album;
class Artist;
class MediaItem;
class Playlist;

// Media kinds, lyrics ratings, location types and play statuses use the published codes.
namespace codes {
enum MediaKind : int { unknownKind = 1, song = 2, movie = 3, podcast = 4, audiobook = 5, pdfBooklet = 6,
                       musicVideo = 7, tvShow = 8, interactiveBooklet = 9, homeVideo = 12, ringtone = 14,
                       digitalBooklet = 15, iosApplication = 16, voiceMemo = 17, iTunesU = 18, book = 19,
                       pdfBook = 20, alertTone = 21 };
enum LyricsRating : int { none = 0, explicitLyrics = 1, clean = 2 };
enum LocationType : int { unknownLocation = 0, file = 1, url = 2, remote = 3 };
enum PlayStatus : int { noStatus = 0, partiallyPlayed = 1, unplayed = 2 };
enum PlaylistKind : int { regular = 0, smart = 1, genius = 2, folder = 3, geniusMix = 4 };
}  // namespace codes

using Text = std::optional<std::u16string_view>;  // none: the property is absent

class MediaItem final : public Object {
public:
    void retain() const override;
    void release() const override;

    std::uint64_t persistentId() const { return persistentId_; }  // 0 when absent
    Text title() const;
    Text sortTitle() const;
    Text composer() const;
    Text sortComposer() const;
    Text genre() const;
    Text kind() const;
    Text category() const;
    Text description() const;
    Text contentRating() const;
    Text comments() const;
    Text grouping() const;
    Text location() const;  // the URL's text
    std::int64_t rating() const;
    bool isRatingComputed() const;
    std::int64_t startTime() const;
    std::int64_t stopTime() const;
    std::int64_t totalTime() const;
    std::int64_t trackNumber() const;
    std::int64_t bitrate() const;
    std::int64_t sampleRate() const;
    std::int64_t beatsPerMinute() const;
    std::int64_t playCount() const;
    std::int64_t year() const;
    std::int64_t skipCount() const;
    std::int64_t volumeAdjustment() const;
    std::int64_t volumeNormalizationEnergy() const;
    std::int64_t fileSize() const;
    int mediaKind() const;
    int lyricsContentRating() const;
    int locationType() const;
    int playStatus() const;
    bool hasArtworkAvailable() const;
    bool isPurchased() const;
    bool isDRMProtected() const;
    bool isVideo() const;
    bool isUserDisabled() const;
    bool isCloud() const;
    // Seconds since 1970 (UTC); none when absent.
    std::optional<double> addedDate() const;
    std::optional<double> modifiedDate() const;
    std::optional<double> lastPlayedDate() const;
    std::optional<double> releaseDate() const;
    std::optional<double> skipDate() const;
    Artist* artist() const { return artist_; }  // transfer none; null when the track names none
    Album* album() const { return album_; }
    Object* artwork() const { return nullptr; }  // artwork comes with the artwork reader
    // The text of the value under a key of the track's dictionary ("Name", "BPM", ...): a
    // string gives itself, integers are decimal, dates "YYYY-MM-DD HH:MM:SS +0000", booleans
    // 1 or 0, reals as %.17g, data as <hex>; none when the track has no such key.
    std::optional<std::u16string> valueForProperty(std::string_view key) const;

private:
    friend class Snapshot;
    friend class LibraryLoader;
    const Field* field(std::uint32_t key) const;  // the track's value under a key, or null
    const Snapshot* snapshot_ = nullptr;
    std::size_t firstField_ = 0;
    std::uint32_t fieldCount_ = 0;
    std::uint64_t persistentId_ = 0;
    Album* album_ = nullptr;
    Artist* artist_ = nullptr;
};

class Album final : public Object {
public:
    void retain() const override;
    void release() const override;
    std::uint64_t persistentId() const { return id_; }
    Text title() const;
    Text sortTitle() const;
    Text albumArtist() const;
    Text sortAlbumArtist() const;
    std::int64_t trackCount() const { return trackCount_; }
    std::int64_t rating() const { return rating_; }
    bool isRatingComputed() const { return ratingComputed_; }
    bool isGapless() const { return gapless_; }
    std::int64_t discNumber() const { return discNumber_; }
    std::int64_t discCount() const { return discCount_; }
    bool isCompilation() const { return compilation_; }

private:
    friend class LibraryLoader;
    const Snapshot* snapshot_ = nullptr;
    std::uint64_t id_ = 0;
    std::optional<std::u16string> title_, sortTitle_, albumArtist_, sortAlbumArtist_;
    std::int64_t trackCount_ = 0, rating_ = 0, discNumber_ = 0, discCount_ = 0;
    bool ratingComputed_ = false, gapless_ = false, compilation_ = false;
};

class Artist final : public Object {
public:
    void retain() const override;
    void release() const override;
    std::uint64_t persistentId() const { return id_; }
    Text name() const;
    Text sortName() const;

private:
    friend class LibraryLoader;
    const Snapshot* snapshot_ = nullptr;
    std::uint64_t id_ = 0;
    std::optional<std::u16string> name_, sortName_;
};

class Playlist final : public Object {
public:
    void retain() const override;
    void release() const override;
    std::uint64_t persistentId() const { return persistentId_; }
    std::optional<std::uint64_t> parentId() const { return parentId_; }
    bool isVisible() const { return visible_; }
    bool isMaster() const { return master_; }
    Text name() const;
    Array* items() const;  // transfer none; null when the playlist has no item list
    std::int64_t distinguishedKind() const { return distinguishedKind_; }
    int kind() const { return kind_; }

private:
    friend class LibraryLoader;
    const Snapshot* snapshot_ = nullptr;
    std::uint64_t persistentId_ = 0;
    std::optional<std::uint64_t> parentId_;
    bool visible_ = true, master_ = false, hasItems_ = false;
    std::optional<std::u16string> name_;
    std::int64_t distinguishedKind_ = 0;
    int kind_ = codes::regular;
    std::size_t itemsIndex_ = 0;
};

// An opened library. It lives until the process ends.
class Library final : public Object {
public:
    // Opens the library for an API version ("1.0" or "1.1"). On failure returns null and sets
    // error to a description a user can act on (transfer full: never freed).
    static Library* open(const std::string& apiVersion, std::string& error);

    // The library file: KESTRANE_MUSIC_LIBRARY, else "iTunes/iTunes Music Library.xml", then
    // "iTunes/iTunes Library.xml", in the user's music folder.
    static std::string locateFile();

    void retain() const override {}
    void release() const override {}

    int apiMajorVersion() const { return 1; }
    int apiMinorVersion() const { return minor_; }
    // Copies: they stay valid whatever happens to the loaded lists.
    std::optional<std::u16string> musicFolderLocation();  // the URL's text
    std::optional<std::u16string> applicationVersion();
    bool shouldShowContentRating();

    // Re-reads the file and swaps in the new lists; false (the old lists stay) on failure.
    bool reloadData();
    // Drops the loaded lists; the next access loads again.
    void unloadData();

    Array* allMediaItems();  // transfer none (into the thread's release scope)
    Array* allPlaylists();

    // Only open() makes the key, so only open() makes libraries.
    class Key {
        friend class Library;
        Key() = default;
    };
    explicit Library(Key) {}

private:
    // The current snapshot with a reference for the caller, loading it when needed.
    const Snapshot* current();

    std::string path_;
    int minor_ = 0;
    std::mutex mutex_;
    const Snapshot* snapshot_ = nullptr;  // one reference held
};

// Loads a library file into a new snapshot (one reference for the caller), or null with error.
const Snapshot* loadSnapshot(const std::string& path, std::string& error);
// Parses library-file bytes (for tests and fuzzing).
const Snapshot* parseSnapshot(std::string_view bytes, std::string& error);
void releaseSnapshot(const Snapshot* snapshot);
Array* snapshotItems(const Snapshot* snapshot);      // transfer none
Array* snapshotPlaylists(const Snapshot* snapshot);  // transfer none

}  // namespace kestrane::musiclibrary
