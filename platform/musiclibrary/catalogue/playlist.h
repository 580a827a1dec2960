// A playlist of the library file: its settings and its tracks in order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "media_item.h"

// Every property of a playlist that the Java side reads as a plain value, once: the catalogue
// bridge's exports are made from this table. PROPERTY(peerMethod, accessor), where peerMethod
// is the Java peer's method as its exported name spells it (an underscore is written _1).
#define KESTRANE_PLAYLIST_PROPERTIES(PROPERTY)                 \
    PROPERTY(isVisible, isVisible)                             \
    PROPERTY(getName, name)                                    \
    PROPERTY(isMaster, isMaster)                               \
    PROPERTY(_1getDistinguishedKind, distinguishedKind)        \
    PROPERTY(_1getKind, kind)

namespace kestrane::musiclibrary {

class Playlist final : public SnapshotObject {
public:
    static constexpr ObjectKind kKind = ObjectKind::playlist;
    Playlist() : SnapshotObject(kKind) {}
    std::uint64_t persistentId() const { return persistentId_; }
    std::optional<std::uint64_t> parentId() const { return parentId_; }
    bool isVisible() const { return visible_; }
    bool isMaster() const { return master_; }
    Text name() const { return name_ ? Text(*name_) : std::nullopt; }
    Array* items() const;  // transfer none; null when the playlist has no item list
    Integer distinguishedKind() const { return distinguishedKind_; }  // codes::DistinguishedKind
    Integer kind() const { return kind_; }                            // codes::PlaylistKind
    // The raw persistent IDs of the items, in playlist order (empty without an item list).
    std::vector<std::uint64_t> itemIds() const;

private:
    friend class CatalogueBuilder;
    friend class CatalogueLinker;
    std::uint64_t persistentId_ = 0;
    std::optional<std::uint64_t> parentId_;
    bool visible_ = true, master_ = false, hasItems_ = false;
    std::optional<std::string> name_;
    Integer distinguishedKind_ = codes::noDistinguishedKind;
    Integer kind_ = codes::regular;
    std::size_t itemsIndex_ = 0;
};

}  // namespace kestrane::musiclibrary
