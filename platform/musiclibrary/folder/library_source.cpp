#include "library_source.h"

#include <sys/stat.h>

#include <unistd.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

#include "folder_scan.h"
#include "folders.h"
#include "holders.h"
#include "location_map.h"
#include "no_destructor.h"
#include "snapshot_cache.h"

namespace kestrane::musiclibrary {

LibrarySource locateLibrarySource() {
    struct stat st {};
    if (const char* named = std::getenv("KESTRANE_MUSIC_LIBRARY"); named != nullptr && *named != '\0') {
        // A relative name is taken against the working folder now, so that locations are
        // absolute (a relative one would read as a URL's host).
        std::string path = named;
        if (path.front() != '/') {
            const MallocPtr<char> cwd(getcwd(nullptr, 0));
            if (cwd) path = std::string(cwd.get()) + "/" + path;
        }
        return {path, stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)};
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

namespace {

// The scanner of folder, one per folder in the process and shared by every library of it:
// libraries live until the process ends, and a scanner holds an inotify instance and a watch
// per folder of the tree, of which a user has a limited number.
std::shared_ptr<FolderScanner> scannerOf(const std::string& folder) {
    static NoDestructor<std::mutex> mutex;
    static NoDestructor<std::map<std::string, std::shared_ptr<FolderScanner>>> scanners;
    const std::string key = realPath(folder).value_or(folder);
    const std::lock_guard lock(mutex.get());
    std::shared_ptr<FolderScanner>& scanner = scanners.get()[key];
    if (!scanner) scanner = std::make_shared<FolderScanner>(folder);
    return scanner;
}

}  // namespace

Expected<SnapshotRef> loadUserLibrary() {
    const LibrarySource source = locateLibrarySource();
    // A folder is followed while the process lives: a reload reads only what changed.
    return source.folder ? scannerOf(source.path)->scan() : loadLibraryFile(source.path);
}

Expected<Library*> openUserLibrary(const std::string& apiVersion) {
    return Library::open(apiVersion, &loadUserLibrary);
}

}  // namespace kestrane::musiclibrary
