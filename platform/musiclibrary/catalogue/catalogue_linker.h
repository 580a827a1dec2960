// The passes that tie a built catalogue together: the list of all media items, artists and
// albums shared by their tracks, the persistent-ID index, and each playlist's members.
#pragma once

#include "catalogue_builder.h"
#include "snapshot.h"

namespace kestrane::musiclibrary {

// The complete snapshot (transfer full).
SnapshotRef linkCatalogue(BuiltCatalogue built);

}  // namespace kestrane::musiclibrary
