// Snapshots shared between readers of one library file: every library object opened on a file,
// and every reload of it, gets the snapshot already in memory while the file is unchanged
// (same device, inode, size and modification time), instead of reading and keeping a copy of
// its own. The cache holds no references: a snapshot leaves it when its last holder lets go.
#pragma once

#include <string>

#include "expected.h"
#include "loader.h"
#include "snapshot.h"

namespace kestrane::musiclibrary {

// The snapshot of the library file at path: the one in memory when the file is unchanged since
// it was read, else a fresh load (loadSnapshot's errors), which is then offered to the next
// callers. A fresh load is prepared by prepare (loader.h) before it is offered. Transfer full.
Expected<SnapshotRef> loadSharedSnapshot(const std::string& path, const SnapshotPreparation& prepare = {});


}  // namespace kestrane::musiclibrary
