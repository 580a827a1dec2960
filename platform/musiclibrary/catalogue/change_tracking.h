// What the Java side needs to tell whether its copy of the library is stale: the newest change
// date of any item, the items changed since a moment, the lists of persistent IDs, and a
// 32-bit hash over the membership and order of the visible playlists. Each walks the lists as
// they are; none reloads the library. Errors: LibraryError::listUnreadable when a list cannot be walked
// (there is no memory for the result).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "expected.h"
#include "library_error.h"
#include "object.h"

namespace kestrane::musiclibrary {

// The newest last-played, skip, added or modified date of the media items, in seconds since
// 1970; none when no item has any of them.
Expected<std::optional<double>> newestChangeDate(const Array& items);

// The media items whose later of added and modified date, as milliseconds since 1970 kept
// unrounded, is greater than sinceMillis, in list order, in a new list of elements (added to
// list). An item without an added date counts as changed at 0; an absent modified date is
// earlier than any date.
Expected<void> collectChangedSince(const Array& items, double sinceMillis, std::vector<Object*>& list);

// The raw persistent IDs of the media items, in list order (0 for an item without one), into
// out, which holds items.size() values.
void copyPersistentIds(const Array& items, std::uint64_t* out);
std::vector<std::uint64_t> persistentIds(const Array& items);

struct PlaylistHash {
    std::uint32_t hash = 0;
    // Visible playlists that have no item list (they take no part in the hash).
    std::size_t visibleWithoutItems = 0;
};

// Over the visible playlists: for the item at position p (counted from 0 over every item, mod
// 2^32) with a raw persistent ID v, hash ^= ((low32(v) + p) mod 2^32) ^ high32(v). Hidden
// playlists and items without an ID contribute nothing; so the playlists' order does not
// matter, and two equal visible playlists cancel.
Expected<PlaylistHash> playlistHash(const Array& playlists);

}  // namespace kestrane::musiclibrary
