// One audio file as the scan and the player meet it: opened so that nothing can block
// (a FIFO or a device put where a file was), and its audio stream measured from its own
// headers with bounded reads: the length that a decoder will produce, the sample rate, the
// channels and the average bit rate.
//
// Lengths are those of the decoded audio, not of a first frame's promise: MP3 counts its
// frames (every frame up to a few megabytes of audio, else frames sampled through the file),
// or takes a Xing/Info/VBRI frame count, less the encoder delay and padding the LAME tag
// names; Ogg Vorbis, Opus, Speex and FLAC read the granule position of the stream's last
// page (less Opus's pre-skip); FLAC reads STREAMINFO; WAV and AIFF their sample frames; MP4
// its sound track's media duration (or its edit list). No file costs more than a few
// megabytes of reading, whatever its size or content.
//
// Everything here is safe to call from several threads on different files.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "expected.h"
#include "holders.h"

namespace kestrane::audiofile {

// The containers measured here. other: a format left to its tag reader.
enum class Container { mpeg, ogg, flac, wav, aiff, mp4, other };

// The container that a file name's extension promises (any case).
Container containerOfName(const std::string& name);

enum class StreamError {
    notRegular = 1,  // missing, unreadable, or not a regular file once opened
    noStream = 2,    // no audio stream of the container found within the bounded reads
    notMeasured = 3, // a container this component does not measure
};

// Opens path for reading, never blocking: O_NONBLOCK so that a FIFO or device answers at once,
// then fstat on the descriptor, so that a file swapped after a walk looked at it is judged as
// it is now. size receives the file's size, modified its modification time (nanoseconds since
// the epoch). Fails with notRegular.
Expected<UniqueFd> openRegularFile(const std::string& path, std::int64_t* size = nullptr, std::int64_t* modified = nullptr);

struct StreamInfo {
    std::int64_t samples = 0;  // decoded sample frames per channel, below 2^40
    int sampleRate = 0;        // of the decoded samples (48,000 for Opus), at most 1,536,000
    int channels = 0;
    int bitRate = 0;           // kbit/s over the whole stream
    std::int64_t audioBytes = 0;  // the bytes the bit rate is counted over
    std::string codec;         // "mp3", "vorbis", "opus", "speex", "flac", "pcm", "alac", "aac", ...
    std::int64_t milliseconds() const { return sampleRate > 0 ? (samples * 1000 + sampleRate / 2) / sampleRate : 0; }  // rounded
};

// Bytes of a file that a caller keeps in memory and loads on demand (a TagStream): a measurement
// reads through it, so that no byte that the tag reader also needs is read from the file twice.
class LoadedBytes {
public:
    virtual ~LoadedBytes() = default;
    // The n bytes at offset, from memory (loaded now if need be); nullopt sends the read to the
    // file. A view stays valid while the holder lives.
    virtual std::optional<std::string_view> bytesAt(std::int64_t offset, std::size_t n) = 0;
};

// Measures the stream of the open regular file fd of size bytes in the container given
// (usually the name's). Reads at most a few megabytes. noStream for a file whose stream is not
// found (junk, zeros, a truncated header), notMeasured for Container::other.
Expected<StreamInfo> measureStream(int fd, std::int64_t size, Container container, LoadedBytes* loaded = nullptr);

// The same for a path, opened with openRegularFile; the container from its extension.
Expected<StreamInfo> measureFile(const std::string& path);

// Bytes that measureStream may read from one file; tests check the bound.
constexpr std::int64_t kReadBudget = 12 * 1024 * 1024;

}  // namespace kestrane::audiofile
