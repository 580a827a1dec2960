// What the objects of one load read from it: every value of every track (fields and pooled
// text) and the numbers of its keys, the playlists' item lists, the locations rewritten for
// this machine and the artwork read so far; and the count of references to the load, which
// every object of the load shares. The snapshot (snapshot.h) is this store with the lists of
// its objects; the objects reach only the store.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "artwork_cache.h"
#include "object.h"
#include "storage.h"

namespace kestrane::musiclibrary {

class MediaItem;

// A list owned by a load: its references count on the load.
class SnapshotArray final : public Array {
public:
    const SnapshotStore* snapshot = nullptr;
    std::vector<Object*> list;
    void retain() const override;
    void release() const override;
    bool tryRetain() const override;
    std::span<Object* const> elements() const override { return list; }
};

struct StringHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
};
using KeyNumbers = std::unordered_map<std::string, std::uint32_t, StringHash, std::equal_to<>>;

class SnapshotStore {
public:
    // Starts with one reference, the caller's.
    SnapshotStore() = default;
    virtual ~SnapshotStore() = default;
    SnapshotStore(const SnapshotStore&) = delete;
    SnapshotStore& operator=(const SnapshotStore&) = delete;

    void retain() const { refs_.fetch_add(1, std::memory_order_relaxed); }
    // A new reference unless the last one is already gone (then the load is on its way out and
    // must not be handed out again).
    bool tryRetain() const;
    // The last release ends the load (end()).
    void release() const;

    // The number of a key's text: a known key's, or one this load gave a key it met.
    std::optional<std::uint32_t> keyNumber(std::string_view text) const;
    // The last field with the key among count fields from first, or null.
    const Field* find(std::uint32_t key, std::size_t first, std::uint32_t count) const;
    // The text of a string field; none for no field or another type.
    std::optional<std::string_view> text(const Field* field) const;

    ChunkedStore<Field> fields;
    StringPool pool;
    KeyNumbers unknownKeys;  // the numbers given to keys beyond the known ones
    std::deque<SnapshotArray> playlistItems;
    // A library moved from another machine: the locations of its items rewritten to where they
    // are here (location_map.h); the file's own text stays in the fields.
    std::unordered_map<const MediaItem*, std::string> localLocations;
    mutable ArtworkCache artworks;

protected:
    // What the last release does: end the handles of everything in the load, and free it once
    // no call can be using it.
    virtual void end() const = 0;

private:
    mutable std::atomic<long> refs_{1};
};

}  // namespace kestrane::musiclibrary
