// The tags and audio properties of one audio file, read with TagLib, as the values of a track
// of the library file ("Name", "Artist", "Total Time", ...). A file that a reader rejects gives
// the reason; reading never crashes on a damaged file.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "expected.h"
#include "plist_sink.h"

namespace kestrane::musiclibrary {

// One value of a track: the key of the library file, its kind, and its text as a library
// file would hold it.
struct TrackValue {
    std::string key;
    ValueKind kind = ValueKind::string;
    std::string text;
};
using TrackValues = std::vector<TrackValue>;

// Whether a file name has the extension of an audio format that TagLib reads.
bool isAudioFileName(const std::string& name);

enum class TagError { notAudio = 1 };  // the reader rejected the file

// A file's size and modification time (nanoseconds since the epoch) as its reader found them;
// -1 when it could not be opened.
struct FileStamp {
    std::int64_t size = -1;
    std::int64_t modified = -1;
};

// The values read from the file at path: tags, length, bit and sample rates, kind, artwork
// count, play count and rating where the tags carry them. "Name" falls back to the file's
// name without its extension. Not the file's size, dates, location or IDs (the scan adds
// those). stamp, where given, receives the size and time of the file that was read, so that
// a scan needs no stat of its own.
//
// The Vorbis comments of FLAC, Ogg Vorbis and Opus files and the ID3v2 text frames of MP3 files
// are read without TagLib where our own readers fully understand them (the same values, for a fraction of the CPU); TagLib reads
// every other file. prefer tagLib makes TagLib read every file (tests compare the two); used,
// where given, receives the reader that gave the tags.
enum class TagReader { own, tagLib };
Expected<TrackValues> readAudioFile(const std::string& path, FileStamp* stamp = nullptr, TagReader prefer = TagReader::own,
                                    TagReader* used = nullptr);

// How many files readAudioFile has opened in this process (tests count rescans by it).
extern std::atomic<std::size_t> audioFilesOpened;

}  // namespace kestrane::musiclibrary
