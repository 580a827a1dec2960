// The music library of a folder of audio files: every audio file becomes a track with the
// keys of an exported library file, every playlist file (M3U, PLS, XSPF) a playlist, and a
// master playlist holds every track. The tracks are fed to the same catalogue builder as a
// library file's, so both sources behave alike.
//
// The scan reads files on one thread per core, follows links to folders once each, passes
// over hidden files and folders, and keeps what it read in a scan cache (scan_cache.h): a
// rescan reads only new and changed files, and IDs stay with their files.
#pragma once

#include <string>

#include "expected.h"
#include "snapshot.h"

namespace kestrane::musiclibrary {

// Loads the folder. Fails (LibraryError::unreadable) only when the folder does not exist or cannot be
// listed; a file that cannot be read is skipped with one log line.
Expected<SnapshotRef> scanFolder(const std::string& folder);

}  // namespace kestrane::musiclibrary
