// libFuzzer target: any bytes as an audio file of any of the scanned kinds (the first byte
// picks the extension) give a track's values or the reason it is skipped, never a crash; and
// where our own tag readers take a file, its values are exactly TagLib's.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "audio_tags.h"
#include "holders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const char* kExtensions[] = {"mp3", "flac", "ogg", "opus", "m4a", "wav", "aiff", "wv", "ape", "mpc", "wma"};
    if (size == 0) return 0;
    const std::string path = "/dev/shm/kestrane-fuzz-" + std::to_string(getpid()) + "." + kExtensions[data[0] % 11];
    bool written;
    {
        const kestrane::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        if (!fd) return 0;
        written = ::write(fd.get(), data + 1, size - 1) == static_cast<ssize_t>(size - 1);
    }
    namespace ml = kestrane::musiclibrary;
    if (written) {
        ml::TagReader used = ml::TagReader::tagLib;
        const auto ours = ml::readAudioFile(path, nullptr, ml::TagReader::own, &used);
        if (used == ml::TagReader::own) {
            const auto tagLibs = ml::readAudioFile(path, nullptr, ml::TagReader::tagLib);
            bool same = ours.hasValue() && tagLibs.hasValue() && ours->size() == tagLibs->size();
            for (std::size_t i = 0; same && i < ours->size(); ++i) {
                const ml::TrackValue &a = (*ours)[i], &b = (*tagLibs)[i];
                same = a.key == b.key && a.kind == b.kind && a.text == b.text;
            }
            if (!same) std::abort();  // the input is kept as a crash
        }
    }
    ::unlink(path.c_str());
    return 0;
}
