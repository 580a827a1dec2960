#include "library_source.h"

#include <sys/stat.h>

#include <cstdlib>

#include "folder_scan.h"
#include "folders.h"
#include "location_map.h"
#include "snapshot_cache.h"

namespace kestrane::musiclibrary {

LibrarySource locateLibrarySource() {
    struct stat st {};
    if (const char* named = std::getenv("KESTRANE_MUSIC_LIBRARY"); named != nullptr && *named != '\0') {
        return {named, stat(named, &st) == 0 && S_ISDIR(st.st_mode)};
    }
    const std::string base = folders::folderPath(folders::Folder::music, folders::Domain::user).value_or("");
    // An exported library file in the music folder, else the music folder itself.
    for (const char* name : {"/iTunes/iTunes Music Library.xml", "/iTunes/iTunes Library.xml"}) {
        if (stat((base + name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) return {base + name, false};
    }
    return {base, true};
}

Expected<SnapshotRef> loadLibraryFile(const std::string& path) {
    return loadSharedSnapshot(path, [](Snapshot& snapshot, const std::string& file) { remapLocations(snapshot, file); });
}

Expected<SnapshotRef> loadUserLibrary() {
    const LibrarySource source = locateLibrarySource();
    return source.folder ? scanFolder(source.path) : loadLibraryFile(source.path);
}

Expected<Library*> openUserLibrary(const std::string& apiVersion) {
    return Library::open(apiVersion, &loadUserLibrary);
}

}  // namespace kestrane::musiclibrary
