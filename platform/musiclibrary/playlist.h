// A playlist of the library file: its settings and its tracks in order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "media_item.h"

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
    std::int64_t distinguishedKind() const { return distinguishedKind_; }
    int kind() const { return kind_; }

private:
    friend class LibraryLoader;
    std::uint64_t persistentId_ = 0;
    std::optional<std::uint64_t> parentId_;
    bool visible_ = true, master_ = false, hasItems_ = false;
    std::optional<std::u16string> name_;
    std::int64_t distinguishedKind_ = 0;
    int kind_ = codes::regular;
    std::size_t itemsIndex_ = 0;
};

}  // namespace kestrane::musiclibrary
