// Libraries of the catalogue tests: opened on the library file that KESTRANE_MUSIC_LIBRARY
// names, read again (or shared while unchanged) at every load, as the user's library file is.
#pragma once

#include <cstdlib>
#include <string>

#include "library.h"
#include "snapshot_cache.h"

namespace kestrane::test {

inline Expected<musiclibrary::Library*> openLibraryFile(const std::string& apiVersion) {
    return musiclibrary::Library::open(apiVersion, [] {
        const char* file = std::getenv("KESTRANE_MUSIC_LIBRARY");
        return musiclibrary::loadSharedSnapshot(file != nullptr ? file : "");
    });
}

}  // namespace kestrane::test
