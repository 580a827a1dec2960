#include "playlist.h"

#include "snapshot_store.h"

namespace kestrane::musiclibrary {

Array* Playlist::items() const {
    if (!hasItems_) return nullptr;
    return const_cast<SnapshotArray*>(&snapshot_->playlistItems[itemsIndex_]);
}

std::vector<std::uint64_t> Playlist::itemIds() const {
    std::vector<std::uint64_t> ids;
    if (const Array* list = items()) {
        ids.reserve(list->size());
        for (const Object* item : list->elements()) ids.push_back(static_cast<const MediaItem*>(item)->persistentId());
    }
    return ids;
}

}  // namespace kestrane::musiclibrary
