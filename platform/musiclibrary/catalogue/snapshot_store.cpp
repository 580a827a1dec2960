#include "snapshot_store.h"

#include "track_keys.h"

namespace kestrane::musiclibrary {

bool SnapshotStore::tryRetain() const {
    long n = refs_.load(std::memory_order_relaxed);
    while (n > 0) {
        if (refs_.compare_exchange_weak(n, n + 1, std::memory_order_relaxed)) return true;
    }
    return false;
}

void SnapshotStore::release() const {
    if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) end();
}

std::optional<std::uint32_t> SnapshotStore::keyNumber(std::string_view text) const {
    if (auto known = knownKeyNumber(text)) return known;
    if (auto it = unknownKeys.find(text); it != unknownKeys.end()) return it->second;
    return std::nullopt;
}

const Field* SnapshotStore::find(std::uint32_t key, std::size_t first, std::uint32_t count) const {
    // From the end: of a key repeated inside a track, the last value counts.
    for (std::size_t i = first + count; i-- > first;) {
        const Field& f = fields[i];
        if (f.key == key) return &f;
    }
    return nullptr;
}

std::optional<std::string_view> SnapshotStore::text(const Field* field) const {
    if (field == nullptr || field->type != FieldType::string) return std::nullopt;
    return pool.view(field->ref());
}

// Every object of a load counts its references on the load.
void SnapshotObject::retain() const { snapshot_->retain(); }
void SnapshotObject::release() const { snapshot_->release(); }
bool SnapshotObject::tryRetain() const { return snapshot_->tryRetain(); }
void SnapshotArray::retain() const { snapshot->retain(); }
void SnapshotArray::release() const { snapshot->release(); }
bool SnapshotArray::tryRetain() const { return snapshot->tryRetain(); }

}  // namespace kestrane::musiclibrary
