// The Vorbis comments of FLAC, Ogg Vorbis and Opus files read straight from the bytes a
// TagStream holds, for the scan: TagLib's reading of the same tags costs most of a small file's
// CPU in allocations. The reader takes only files that it fully understands and that TagLib
// would read the same way; anything else (an ID3 tag before a FLAC stream, pictures in
// comments, a key or value that is not plain UTF-8, a stream end in the header pages, bytes
// beyond the loaded head) gives nullopt, and the caller reads that file with TagLib instead.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "audio_stream.h"

namespace kestrane::musiclibrary {

struct VorbisComments {
    // Each key upper-cased (as TagLib's property map has it) with its first non-empty value, in
    // the order the keys first appear.
    std::vector<std::pair<std::string, std::string>> firsts;
    int pictures = 0;   // FLAC picture blocks that TagLib would accept
    const char* kind = nullptr;  // "FLAC audio file", ...
};

// ext is the file name's extension in lower case ("flac", "ogg" or "opus"; others give
// nullopt); size the file's size.
std::optional<VorbisComments> readVorbisComments(audiofile::LoadedBytes& bytes, std::int64_t size, const std::string& ext);

}  // namespace kestrane::musiclibrary
