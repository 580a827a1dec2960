// A snapshot: everything one load of the library file made, owned together and freed
// together. A reference to any of its objects is a reference to the snapshot.
#pragma once

#include <atomic>
#include <deque>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "album.h"
#include "media_item.h"
#include "playlist.h"
#include "storage.h"

namespace kestrane::musiclibrary {

class Snapshot;

// A list owned by a snapshot.
class SnapshotArray final : public Array {
public:
    const Snapshot* snapshot = nullptr;
    std::vector<Object*> elements;
    void retain() const override;
    void release() const override;
    std::size_t size() const override { return elements.size(); }
    Object* at(std::size_t index) const override { return elements[index]; }
};

struct StringHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
};
using KeyNumbers = std::unordered_map<std::string, std::uint32_t, StringHash, std::equal_to<>>;

class Snapshot {
public:
    // Starts with one reference, the caller's.
    Snapshot();
    Snapshot(const Snapshot&) = delete;
    Snapshot& operator=(const Snapshot&) = delete;

    void retain() const { refs_.fetch_add(1, std::memory_order_relaxed); }
    // The last release frees the snapshot with everything in it.
    void release() const;

    // The number of a key's text: a known key's, or one this snapshot gave a key it met.
    std::optional<std::uint32_t> keyNumber(std::string_view text) const;
    // The first field with the key among count fields from first, or null.
    const Field* find(std::uint32_t key, std::size_t first, std::uint32_t count) const;
    Text text(const Field* field) const;

    // The first media item in list order whose persistent ID is one of ids; null when none.
    MediaItem* firstItemWithPersistentId(std::initializer_list<std::uint64_t> ids) const;

    ChunkedStore<Field, 65536> fields;
    StringPool pool;
    std::deque<MediaItem> items;
    std::deque<Playlist> playlists;
    std::deque<Album> albums;
    std::deque<Artist> artists;
    std::deque<SnapshotArray> playlistItems;
    SnapshotArray allItems, allPlaylists;
    KeyNumbers unknownKeys;  // the numbers given to keys beyond the known ones
    // Position in allItems of the first item with each persistent ID.
    std::unordered_map<std::uint64_t, std::uint32_t> itemPositionById;
    std::optional<std::u16string> applicationVersion, musicFolder;
    bool showContentRating = false;

private:
    mutable std::atomic<long> refs_{1};
};

}  // namespace kestrane::musiclibrary
