// Loading the library file into a snapshot: one streaming pass of the property-list reader,
// then the steps that tie the tracks together (artists, albums, the persistent-ID index,
// playlists).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "catalogue_builder.h"
#include "plist_sink.h"

#include "expected.h"
#include "library_error.h"
#include "snapshot.h"

namespace kestrane::musiclibrary {

// Changes a snapshot of a library file once it is read, before anyone else sees it (the
// locations of a library moved from another machine, say).
using SnapshotPreparation = std::function<void(Snapshot& snapshot, const std::string& libraryFile)>;

// Files of this size and more are read by two threads at once (below it, a thread would cost
// more than it saves).
inline constexpr std::int64_t kTwoReadersFrom = 8 << 20;

// Loads the library file at path, prepared by prepare when one is given; a file of at least
// twoReadersFrom bytes is read by two threads at once, with the same result.
Expected<SnapshotRef> loadSnapshot(const std::string& path, const SnapshotPreparation& prepare = {},
                                   std::int64_t twoReadersFrom = kTwoReadersFrom);

// How many loads so far were read by two threads (for tests).
std::size_t loadsReadInTwo();

// Parses library-file bytes (for tests and fuzzing); errors as for loadSnapshot, without the
// file's name.
Expected<SnapshotRef> parseSnapshot(std::string_view bytes);

// Builds a snapshot from the events that produce sends into the catalogue builder, as a
// library file's reader would (a scanned folder). source names it in messages; path is kept
// as the snapshot's origin. produce returns false when the builder refused an event; it may
// hand on tracks of an earlier snapshot whole (CatalogueSink::copyTrack).
Expected<SnapshotRef> buildSnapshot(const std::string& source, const std::string& path,
                                    const std::function<bool(CatalogueSink&)>& produce);

}  // namespace kestrane::musiclibrary
