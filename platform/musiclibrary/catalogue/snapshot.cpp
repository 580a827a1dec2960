#include "snapshot.h"

#include <memory>

#include "change_tracking.h"

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

bool Snapshot::tryRetain() const {
    long n = refs_.load(std::memory_order_relaxed);
    while (n > 0) {
        if (refs_.compare_exchange_weak(n, n + 1, std::memory_order_relaxed)) return true;
    }
    return false;
}

void Snapshot::release() const {
    if (refs_.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
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

std::optional<std::uint32_t> Snapshot::keyNumber(std::string_view text) const {
    if (auto known = knownKeyNumber(text)) return known;
    if (auto it = unknownKeys.find(text); it != unknownKeys.end()) return it->second;
    return std::nullopt;
}

const Field* Snapshot::find(std::uint32_t key, std::size_t first, std::uint32_t count) const {
    // From the end: of a key repeated inside a track, the last value counts.
    for (std::size_t i = first + count; i-- > first;) {
        const Field& f = fields[i];
        if (f.key == key) return &f;
    }
    return nullptr;
}

Text Snapshot::text(const Field* field) const {
    if (field == nullptr || field->type != FieldType::string) return std::nullopt;
    return pool.view(field->ref());
}

MediaItem* Snapshot::firstItemWithPersistentId(std::initializer_list<std::uint64_t> ids) const {
    std::optional<std::uint32_t> first;
    for (std::uint64_t id : ids) {
        const auto it = itemPositionById.find(id);
        if (it != itemPositionById.end() && (!first || it->second < *first)) first = it->second;
    }
    return first ? static_cast<MediaItem*>(allItems.list[*first]) : nullptr;
}

// Every object of a snapshot counts its references on the snapshot.
void SnapshotObject::retain() const { snapshot_->retain(); }
void SnapshotObject::release() const { snapshot_->release(); }
bool SnapshotObject::tryRetain() const { return snapshot_->tryRetain(); }
void SnapshotArray::retain() const { snapshot->retain(); }
void SnapshotArray::release() const { snapshot->release(); }
bool SnapshotArray::tryRetain() const { return snapshot->tryRetain(); }

Handle Object::handle() const {
    Handle h = handle_.load(std::memory_order_acquire);
    if (h != 0) return h;
    HandleTable& table = HandleTable::instance();
    const Handle made = table.issue(const_cast<Object*>(this), kind_);
    if (made == 0) return 0;
    if (handle_.compare_exchange_strong(h, made, std::memory_order_acq_rel)) return made;
    table.revoke(made, kind_);  // another thread gave the object its handle first
    return h;
}

void Object::revokeHandle() const {
    if (const Handle h = handle_.load(std::memory_order_acquire)) HandleTable::instance().revoke(h, kind_);
}

std::vector<std::uint64_t> Playlist::itemIds() const {
    const Array* list = items();
    return list != nullptr ? persistentIds(*list) : std::vector<std::uint64_t>();
}

Array* Playlist::items() const {
    if (!hasItems_) return nullptr;
    return const_cast<SnapshotArray*>(&snapshot_->playlistItems[itemsIndex_]);
}

ItemList* ItemList::make(SnapshotRef snapshot, std::vector<Object*> elements) {
    return std::make_unique<ItemList>(Key(), std::move(snapshot), std::move(elements)).release();
}

ArtworkCache::~ArtworkCache() {
    for (auto& [item, entry] : entries_) {
        if (entry->artwork != nullptr) entry->artwork->release();
    }
}

Artwork* ArtworkCache::of(const MediaItem& item) {
    Entry* entry;
    {
        std::lock_guard lock(mutex_);
        std::unique_ptr<Entry>& slot = entries_[&item];
        if (!slot) slot = std::make_unique<Entry>();
        entry = slot.get();
    }
    // The file is read outside the lock, so other items' artwork is not held up; threads asking
    // for this item wait for the one that reads it.
    std::call_once(entry->read, [&] {
        if (const Text location = item.location()) entry->artwork = Artwork::ofMediaFile(std::string(*location));
    });
    return entry->artwork;
}

namespace {

// The one object a thread has handed out last, with a reference, until the next one comes or
// the thread ends.
class ReleaseScope {
public:
    ~ReleaseScope() {
        if (held_ != nullptr) held_->release();
    }
    void hold(Object* object) {
        if (object == held_) return;
        if (object != nullptr) object->retain();
        if (held_ != nullptr) held_->release();
        held_ = object;
    }

private:
    Object* held_ = nullptr;
};

}  // namespace

Object* handOut(Object* object) {
    thread_local ReleaseScope scope;
    scope.hold(object);
    return object;
}

}  // namespace kestrane::musiclibrary
