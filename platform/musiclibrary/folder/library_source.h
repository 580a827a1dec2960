// Where the user's music library comes from, chosen anew at every load:
//   1. KESTRANE_MUSIC_LIBRARY, when set: a library file, or a folder to scan;
//   2. else the library file exported into the user's music folder (XDG_MUSIC_DIR, else
//      ~/Music): "iTunes/iTunes Music Library.xml", then "iTunes/iTunes Library.xml";
//   3. else the music folder itself, scanned.
// A library file from another machine has its locations rewritten to where its files are here
// (location_map.h).
#pragma once

#include <string>

#include "expected.h"
#include "library.h"
#include "snapshot.h"

namespace kestrane::musiclibrary {

struct LibrarySource {
    std::string path;
    bool folder = false;  // scanned, rather than read as a library file
};

// Where the library comes from now.
LibrarySource locateLibrarySource();

// The library file at path, its locations rewritten to where its files are here; shared with
// other readers while the file stays unchanged. Transfer full.
Expected<SnapshotRef> loadLibraryFile(const std::string& path);

// A load from where the library comes from now: the file's, or a scan of the folder (by the
// folder's one scanner in the process, which follows it: folder_scan.h). Transfer full.
Expected<SnapshotRef> loadUserLibrary();

// The user's library for an API version ("1.0" or "1.1"), loaded from where it comes from
// (transfer full: never freed). Errors as for Library::open.
Expected<Library*> openUserLibrary(const std::string& apiVersion);

}  // namespace kestrane::musiclibrary
