// The keys of a track's dictionary that the catalogue knows by name. Every other key a file
// holds is kept too, under a number the snapshot hands out as it meets the key.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrane::musiclibrary {

// K(identifier, "Key in the library file"); the identifier names the key in code.
#define KESTRANE_TRACK_KEYS(K)                                                                  \
    K(name, "Name") K(sortName, "Sort Name") K(artist, "Artist") K(sortArtist, "Sort Artist")   \
    K(albumArtist, "Album Artist") K(sortAlbumArtist, "Sort Album Artist") K(album, "Album")    \
    K(sortAlbum, "Sort Album") K(composer, "Composer") K(sortComposer, "Sort Composer")         \
    K(genre, "Genre") K(kind, "Kind") K(size, "Size") K(totalTime, "Total Time")                \
    K(startTime, "Start Time") K(stopTime, "Stop Time") K(discNumber, "Disc Number")            \
    K(discCount, "Disc Count") K(trackNumber, "Track Number") K(trackCount, "Track Count")      \
    K(year, "Year") K(bpm, "BPM") K(dateModified, "Date Modified") K(dateAdded, "Date Added")   \
    K(bitRate, "Bit Rate") K(sampleRate, "Sample Rate") K(volumeAdjustment, "Volume Adjustment") \
    K(playCount, "Play Count") K(playDateUTC, "Play Date UTC") K(skipCount, "Skip Count")       \
    K(skipDate, "Skip Date") K(releaseDate, "Release Date") K(rating, "Rating")                 \
    K(ratingComputed, "Rating Computed") K(albumRating, "Album Rating")                         \
    K(albumRatingComputed, "Album Rating Computed") K(compilation, "Compilation")               \
    K(partOfGaplessAlbum, "Part Of Gapless Album") K(artworkCount, "Artwork Count")             \
    K(persistentId, "Persistent ID") K(trackType, "Track Type") K(location, "Location")         \
    K(comments, "Comments") K(grouping, "Grouping") K(category, "Category")                     \
    K(description, "Description") K(contentRating, "Content Rating") K(purchased, "Purchased")  \
    K(protectedContent, "Protected") K(hasVideo, "Has Video") K(movie, "Movie")                 \
    K(musicVideo, "Music Video") K(tvShow, "TV Show") K(podcast, "Podcast")                     \
    K(audiobook, "Audiobook") K(explicitLyrics, "Explicit") K(clean, "Clean")                   \
    K(disabled, "Disabled") K(appleMusic, "Apple Music") K(matched, "Matched")                  \
    K(playlistOnly, "Playlist Only") K(unplayed, "Unplayed") K(bookmark, "Bookmark")            \
    K(normalization, "Normalization") K(trackId, "Track ID")

enum class TrackKey : std::uint32_t {
#define KESTRANE_KEY_ENUMERATOR(identifier, text) identifier,
    KESTRANE_TRACK_KEYS(KESTRANE_KEY_ENUMERATOR)
#undef KESTRANE_KEY_ENUMERATOR
};

// How many keys are known; numbers from here up belong to keys a file brings along.
inline constexpr std::uint32_t kKnownKeyCount = 0
#define KESTRANE_KEY_COUNT(identifier, text) +1
    KESTRANE_TRACK_KEYS(KESTRANE_KEY_COUNT)
#undef KESTRANE_KEY_COUNT
    ;

constexpr std::uint32_t keyNumber(TrackKey key) {
    return static_cast<std::uint32_t>(key);
}

// The key's text in the library file.
std::string_view keyText(TrackKey key);

// The number of a known key's text, or none for any other text.
std::optional<std::uint32_t> knownKeyNumber(std::string_view text);

}  // namespace kestrane::musiclibrary
