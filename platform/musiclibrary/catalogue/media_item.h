// A media item: one track (or video, or other entry) of the library, with its properties as
// the table in media_item_properties.h lists them, its shared album and artist, its persistent
// ID, and any value of its dictionary by key.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "media_item_properties.h"
#include "object.h"
#include "track_keys.h"

namespace kestrane::musiclibrary {

class Album;
class Artist;
class Artwork;
struct Field;

// The kinds of the property table.
using Text = std::optional<std::string_view>;  // UTF-8; none: the track has no such string
using Integer = std::int64_t;
using Flag = bool;
using Date = std::optional<double>;  // seconds since 1970; none: the track has no such date

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
enum DistinguishedKind : int { noDistinguishedKind = 0, movies = 1, tvShows = 2, music = 3, audiobooks = 4, ringtones = 5,
                               podcasts = 7, voiceMemos = 14, purchases = 16, iTunesUCollection = 26, nineties = 42,
                               myTopRated = 43, top25MostPlayed = 44, recentlyPlayed = 45, recentlyAdded = 46,
                               musicVideos = 47, classicalMusic = 48, libraryMusicVideos = 49, homeVideos = 50,
                               applications = 51, lovedSongs = 52, musicShowsAndMovies = 53 };
// Artwork formats: those of platform/artwork (none 0, bitmap 1, JPEG 2, JPEG 2000 3, GIF 4,
// PNG 5, BMP 6, TIFF 7, PICT 8).
}  // namespace codes

class MediaItem final : public SnapshotObject {
public:
    static constexpr ObjectKind kKind = ObjectKind::mediaItem;
    MediaItem() : SnapshotObject(kKind) {}

    // The properties of the table: stored ones read their key, derived ones are computed.
#define KESTRANE_STORED_ACCESSOR(peerMethod, Kind, accessor, key) \
    Kind accessor() const { return read##Kind(TrackKey::key); }
#define KESTRANE_DERIVED_ACCESSOR(peerMethod, Kind, accessor) Kind accessor() const;
    KESTRANE_MEDIA_ITEM_PROPERTIES(KESTRANE_STORED_ACCESSOR, KESTRANE_DERIVED_ACCESSOR)
#undef KESTRANE_STORED_ACCESSOR
#undef KESTRANE_DERIVED_ACCESSOR

    std::uint64_t persistentId() const { return persistentId_; }  // 0 when absent
    Artist* artist() const { return artist_; }  // transfer none; null when the track names none
    Album* album() const { return album_; }
    // The picture embedded in the item's file, read on first use and kept by the snapshot;
    // null when the file is missing, unreadable or has none (transfer none).
    Artwork* artwork() const;

    // The text (UTF-8) of the value under a key of the track's dictionary ("Name", "BPM",
    // ...): a string gives itself, integers are exact decimals, dates "YYYY-MM-DD HH:MM:SS
    // +0000", booleans 1 or 0, reals as %.17g, data as <hex>, arrays "(array)" and
    // dictionaries "{dictionary}"; none when the track has no such key.
    std::optional<std::string> valueForProperty(std::string_view key) const;

private:
    friend class CatalogueBuilder;
    friend class CatalogueLinker;

    // The track's value of each kind under a known key.
    Text readText(TrackKey key) const;
    Integer readInteger(TrackKey key) const;
    Flag readFlag(TrackKey key) const;
    Date readDate(TrackKey key) const;
    // The track's value under a key number, or null: O(1) for the known keys.
    const Field* field(std::uint32_t key) const;

    // Where a known key's (last) value sits among the track's fields: 1 + its offset, 0 for
    // none, and kFarSlot when the offset is too large to note (the fields are then searched).
    static constexpr std::uint8_t kFarSlot = 255;

    std::size_t firstField_ = 0;
    std::uint32_t fieldCount_ = 0;
    std::uint64_t persistentId_ = 0;
    Album* album_ = nullptr;
    Artist* artist_ = nullptr;
    std::array<std::uint8_t, kKnownKeyCount> slots_{};
};

}  // namespace kestrane::musiclibrary
