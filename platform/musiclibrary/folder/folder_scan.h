// The music library of a folder of audio files: every audio file becomes a track with the
// keys of an exported library file, every playlist file (M3U, PLS, XSPF) a playlist, and a
// master playlist holds every track. The tracks are fed to the same catalogue builder as a
// library file's, so both sources behave alike.
//
// The scan reads files on one thread per core, follows links to folders once each, passes
// over hidden files and folders, and keeps what it read in a scan cache (scan_cache.h): a
// rescan reads only new and changed files, and IDs stay with their files. The folder is named
// by its canonical path (absolute, links resolved), however it was spelled, so that one folder
// has one cache and one set of IDs.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>

#include "expected.h"
#include "snapshot.h"

namespace kestrane::musiclibrary {

// Loads the folder. Fails (LibraryError::unreadable) only when the folder does not exist or cannot be
// listed; a file that cannot be read is skipped with one log line.
Expected<SnapshotRef> scanFolder(const std::string& folder);

// A folder loaded again at each scan(). While it lives it watches the folder's tree (inotify),
// so that a scan after changes reads only the files that changed, without walking the tree,
// and a scan after none hands back the last snapshot. Where the tree cannot be watched (the
// watch limit, a network file system) every scan walks it, as scanFolder does, with one log
// line. Scans from several threads take turns.
class FolderScanner {
public:
    explicit FolderScanner(std::string folder, bool watch = true);
    ~FolderScanner();
    FolderScanner(const FolderScanner&) = delete;
    FolderScanner& operator=(const FolderScanner&) = delete;

    Expected<SnapshotRef> scan();
    // The folder as given.
    const std::string& folder() const { return given_; }

    struct State;

private:
    std::string given_;
    std::unique_ptr<State> state_;
};

// How many folders scans have listed in this process (tests tell a walk from a watched rescan
// by it).
extern std::atomic<std::size_t> foldersListed;

}  // namespace kestrane::musiclibrary
