#include "snapshot.h"

#include <memory>

namespace kestrane::musiclibrary {

namespace {
std::atomic<std::size_t> liveSnapshots{0};
}  // namespace

Snapshot::Snapshot() {
    allItems.snapshot = this;
    allPlaylists.snapshot = this;
    liveSnapshots.fetch_add(1, std::memory_order_relaxed);
}

Snapshot::~Snapshot() {
    liveSnapshots.fetch_sub(1, std::memory_order_relaxed);
}

std::size_t Snapshot::liveCount() {
    return liveSnapshots.load(std::memory_order_relaxed);
}

void Snapshot::end() const {
    if (withdraw != nullptr) withdraw(this);
    revokeHandles();
    HandleTable::instance().retireDelete(this);
}

void Snapshot::revokeHandles() const {
    auto revokeAll = [](const auto& objects) {
        for (const Object& object : objects) object.revokeHandle();
    };
    revokeAll(items);
    revokeAll(playlists);
    revokeAll(albums);
    revokeAll(artists);
    revokeAll(playlistItems);
    allItems.revokeHandle();
    allPlaylists.revokeHandle();
}

MediaItem* Snapshot::firstItemWithPersistentId(std::initializer_list<std::uint64_t> ids) const {
    std::optional<std::uint32_t> first;
    for (std::uint64_t id : ids) {
        const std::optional<std::uint32_t> at = positionsById.find(id);
        if (at && (!first || *at < *first)) first = at;
    }
    return first ? static_cast<MediaItem*>(allItems.list[*first]) : nullptr;
}


ItemList* ItemList::make(SnapshotRef snapshot, std::vector<Object*> elements) {
    return std::make_unique<ItemList>(Key(), std::move(snapshot), std::move(elements)).release();
}

}  // namespace kestrane::musiclibrary
