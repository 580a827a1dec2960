#include "library_source.h"

#include <sys/stat.h>

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <mutex>

#include "folder_scan.h"
#include "folders.h"
#include "holders.h"
#include "location_map.h"
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

Expected<SnapshotRef> loadUserLibrary() {
    const LibrarySource source = locateLibrarySource();
    return source.folder ? scanFolder(source.path) : loadLibraryFile(source.path);
}

Expected<Library*> openUserLibrary(const std::string& apiVersion) {
    // The library follows its folder while it lives: a scanner per folder, kept between
    // reloads, watches it so that a reload reads only what changed. A reload that finds the
    // library elsewhere (a library file, another folder) lets the scanner go.
    struct Follower {
        std::mutex mutex;
        std::shared_ptr<FolderScanner> scanner;
    };
    auto follower = std::make_shared<Follower>();
    return Library::open(apiVersion, [follower]() -> Expected<SnapshotRef> {
        const LibrarySource source = locateLibrarySource();
        std::shared_ptr<FolderScanner> scanner;
        {
            const std::lock_guard lock(follower->mutex);
            if (!source.folder) follower->scanner.reset();
            else if (!follower->scanner || follower->scanner->folder() != source.path) follower->scanner = std::make_shared<FolderScanner>(source.path);
            scanner = follower->scanner;
        }
        return scanner ? scanner->scan() : loadLibraryFile(source.path);
    });
}

}  // namespace kestrane::musiclibrary
