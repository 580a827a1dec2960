// Playlist files found in a music folder: M3U/M3U8, PLS and XSPF.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "expected.h"

namespace kestrane::musiclibrary {

enum class PlaylistFileError {
    unreadable = 1,  // the file cannot be read
    malformed = 2,   // an XSPF file that is not well-formed XML (message with line and column)
    outOfMemory = 3,
    tooLarge = 4,    // larger than kMaxPlaylistBytes: not read at all
};

// Playlists run to kilobytes; a file past this is not a playlist a user made, and reading it
// whole would cost its size in memory.
constexpr std::size_t kMaxPlaylistBytes = 4u << 20;

bool isPlaylistFileName(const std::string& name);

// The entries of the playlist file at path, in order, as written (paths or URLs, their bytes as
// in the file: M3U and PLS files are often Latin-1, and so are the names they list).
Expected<std::vector<std::string>> readPlaylistFile(const std::string& path);

// The entry read as Latin-1, in UTF-8; none when it is valid UTF-8 already.
std::optional<std::string> latin1Variant(std::string_view entry);

// An entry as an absolute path in normal form: a relative path against the playlist's folder,
// an absolute path, or a file URL of this machine (url.h); none for other URLs.
std::optional<std::string> entryPath(const std::string& entry, const std::string& playlistFolder);

}  // namespace kestrane::musiclibrary
