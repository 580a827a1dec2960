// Albums and artists: shared by the tracks that name them, with IDs that stay the same from
// one load to the next because they are made from the names that identify them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "media_item.h"

// Every property of an album and of an artist that the Java side reads, once: the catalogue
// bridge's exports are made from these tables. PROPERTY(peerMethod, accessor), where
// peerMethod is the Java peer's method as its exported name spells it.
#define KESTRANE_ALBUM_PROPERTIES(PROPERTY)      \
    PROPERTY(getTitle, title)                    \
    PROPERTY(getSortTitle, sortTitle)            \
    PROPERTY(getTrackCount, trackCount)          \
    PROPERTY(getRating, rating)                  \
    PROPERTY(isRatingComputed, isRatingComputed) \
    PROPERTY(isGapless, isGapless)               \
    PROPERTY(getDiscNumber, discNumber)          \
    PROPERTY(getDiscCount, discCount)            \
    PROPERTY(isCompilation, isCompilation)       \
    PROPERTY(getAlbumArtist, albumArtist)        \
    PROPERTY(getSortAlbumArtist, sortAlbumArtist)

#define KESTRANE_ARTIST_PROPERTIES(PROPERTY) \
    PROPERTY(getName, name)                  \
    PROPERTY(getSortName, sortName)

namespace kestrane::musiclibrary {

class Album final : public SnapshotObject {
public:
    static constexpr ObjectKind kKind = ObjectKind::album;
    Album() : SnapshotObject(kKind) {}
    std::uint64_t persistentId() const { return id_; }
    Text title() const { return view(title_); }
    Text sortTitle() const { return view(sortTitle_); }
    Text albumArtist() const { return view(albumArtist_); }
    Text sortAlbumArtist() const { return view(sortAlbumArtist_); }
    std::int64_t trackCount() const { return trackCount_; }
    std::int64_t rating() const { return rating_; }
    bool isRatingComputed() const { return ratingComputed_; }
    bool isGapless() const { return gapless_; }
    std::int64_t discNumber() const { return discNumber_; }
    std::int64_t discCount() const { return discCount_; }
    bool isCompilation() const { return compilation_; }

private:
    friend class CatalogueBuilder;
    friend class CatalogueLinker;
    static Text view(const std::optional<std::string>& s) { return s ? Text(*s) : std::nullopt; }
    std::uint64_t id_ = 0;
    std::optional<std::string> title_, sortTitle_, albumArtist_, sortAlbumArtist_;
    std::int64_t trackCount_ = 0, rating_ = 0, discNumber_ = 0, discCount_ = 0;
    bool ratingComputed_ = false, gapless_ = false, compilation_ = false;
};

class Artist final : public SnapshotObject {
public:
    static constexpr ObjectKind kKind = ObjectKind::artist;
    Artist() : SnapshotObject(kKind) {}
    std::uint64_t persistentId() const { return id_; }
    Text name() const { return name_ ? Text(*name_) : std::nullopt; }
    Text sortName() const { return sortName_ ? Text(*sortName_) : std::nullopt; }

private:
    friend class CatalogueBuilder;
    friend class CatalogueLinker;
    std::uint64_t id_ = 0;
    std::optional<std::string> name_, sortName_;
};

}  // namespace kestrane::musiclibrary
