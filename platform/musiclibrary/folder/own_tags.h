// The tags of the common formats read straight from the bytes a TagStream holds, for the scan:
// TagLib's reading of the same tags costs most of a small file's CPU in allocations. Vorbis
// comments (FLAC, Ogg Vorbis, Opus: vorbis_comments.cpp), the text frames of an MP3 file's
// ID3v2 tag (id3v2_tags.cpp), and WAV files without tags (wave_tags.cpp). The readers take only files that they fully understand and that
// TagLib would read the same way; anything else (an ID3 tag before a FLAC stream, pictures in
// comments, a key or value that is not plain UTF-8, a frame or flag we do not know, a stream
// end in the header pages, bytes beyond the loaded head) gives nullopt, and the caller reads
// that file with TagLib instead.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "audio_stream.h"

namespace kestrane::musiclibrary {

struct OwnTags {
    // Each key upper-cased (as TagLib's property map has it) with its first non-empty value, in
    // the order the keys first appear.
    std::vector<std::pair<std::string, std::string>> firsts;
    int pictures = 0;   // FLAC picture blocks that TagLib would accept, ID3 APIC frames
    const char* kind = nullptr;  // "FLAC audio file", ...
};

// ext is the file name's extension in lower case ("flac", "ogg" or "opus"; others give
// nullopt); size the file's size.
std::optional<OwnTags> readVorbisComments(audiofile::LoadedBytes& bytes, std::int64_t size, const std::string& ext);

// The ID3v2.3 or v2.4 tag at the start of an MP3 file.
std::optional<OwnTags> readId3v2Tag(audiofile::LoadedBytes& bytes);

// A WAV file of size bytes that holds no tags at all: only its format, fact and data chunks
// and at most an empty INFO list (wave_tags.cpp); a file with any other chunk is TagLib's.
std::optional<OwnTags> readUntaggedWave(audiofile::LoadedBytes& bytes, std::int64_t size);

// Whether text is UTF-8 that TagLib turns back into the same bytes: well-formed (no overlong
// forms, surrogates or code points past U+10FFFF), with no NUL (TagLib's strings end there) and
// none of U+FEFF, U+FFFE, U+FFFF, which its conversions may drop or reject.
bool isPlainUtf8(std::string_view text);

}  // namespace kestrane::musiclibrary
