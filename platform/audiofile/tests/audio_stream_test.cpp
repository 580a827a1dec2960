// Lengths measured from the files' own headers against what GStreamer decodes from the same
// files, for each container at 3 s and 61 s (constant and variable bit rates); junk of every
// container refused; a FIFO and a huge sparse file answered at once.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>

#include "audio_stream.h"
#include "limited_child.h"
#include "test_files.h"
#include "test_media.h"

namespace fs = std::filesystem;
namespace af = kestrane::audiofile;

namespace {

struct Kind {
    const char* name;  // the file name's stem and extension
    const char* encoder;
    int rate;
};

// Ticks with silence between them make a variable bit rate really vary from frame to frame.
const Kind kKinds[] = {
    {"pcm.wav", "wavenc", 8000},
    {"pcm.aiff", nullptr, 8000},
    {"lossless.flac", "flacenc", 8000},
    {"cbr.mp3", "lamemp3enc target=bitrate cbr=true bitrate=64", 44100},
    {"vbr.mp3", "lamemp3enc target=quality quality=4", 44100},  // no Xing header
    {"vbr-xing.mp3", "lamemp3enc target=quality quality=4 ! xingmux", 44100},
    {"mpeg2.mp3", "lamemp3enc target=quality quality=6", 22050},
    {"vorbis.ogg", "vorbisenc ! oggmux", 22050},
    {"vbr.opus", "opusenc ! oggmux", 16000},
    {"cbr.opus", "opusenc bitrate-type=cbr ! oggmux", 16000},
    {"pcm.m4a", "qtmux", 8000},
};
constexpr int kSeconds[] = {3, 61};

fs::path fileOf(const Kind& kind, int seconds) { return std::to_string(seconds) + "s-" + kind.name; }

// The files, made once for the whole test binary.
const fs::path& generated() {
    static kestrane::test::TempFolder folder("audiostream");
    static const bool made = [] {
        for (const Kind& kind : kKinds) {
            for (const int seconds : kSeconds) {
                const fs::path path = folder.path() / fileOf(kind, seconds);
                if (kind.encoder == nullptr) {
                    EXPECT_TRUE(kestrane::test::writeAiff(path, kind.rate, static_cast<long>(kind.rate) * seconds));
                    continue;
                }
                const std::string source = "audiotestsrc wave=ticks num-buffers=" + std::to_string(seconds * 10) +
                                           " samplesperbuffer=" + std::to_string(kind.rate / 10) +
                                           " ! audio/x-raw,rate=" + std::to_string(kind.rate) + ",channels=1";
                EXPECT_TRUE(kestrane::test::encodeTone(path, kind.encoder, source)) << path;
            }
        }
        return true;
    }();
    (void)made;
    return folder.path();
}

void writeBytes(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

}  // namespace

TEST(AudioStream, LengthsAgreeWithTheDecodedAudio) {
    for (const Kind& kind : kKinds) {
        for (const int seconds : kSeconds) {
            const fs::path path = generated() / fileOf(kind, seconds);
            // GStreamer here has no AIFF reader: the frames written are the reference there.
            const double decoded = kind.encoder != nullptr ? kestrane::test::decodedSeconds(path) : seconds;
            ASSERT_GT(decoded, 0) << path;
            const auto info = af::measureFile(path);
            ASSERT_TRUE(info) << path << ": " << info.error().message;
            const double measured = static_cast<double>(info->samples) / info->sampleRate;
            EXPECT_NEAR(measured, decoded, std::max(0.005 * decoded, 0.020)) << path;
            EXPECT_NEAR(static_cast<double>(info->milliseconds()), decoded * 1000, std::max(5 * decoded, 20.0)) << path;
            EXPECT_EQ(info->channels, 1) << path;
            EXPECT_GT(info->bitRate, 0) << path;
        }
    }
}

// MP3 audio too long to walk is sampled through the file: stretches of two bit rates, one
// after another, as a variable bit rate makes them.
TEST(AudioStream, LongMp3WithoutXingHeaderIsSampledNotJudgedByItsStart) {
    const fs::path path = generated() / "long.mp3";
    {
        std::ofstream out(path, std::ios::binary);
        for (int i = 0; i < 9; ++i) out << kestrane::test::readFile(generated() / fileOf(kKinds[i % 2 == 0 ? 4 : 3], 61));
    }
    ASSERT_GT(fs::file_size(path), 3u << 20);
    const double decoded = kestrane::test::decodedSeconds(path);
    const auto info = af::measureFile(path);
    ASSERT_TRUE(info) << info.error().message;
    EXPECT_NEAR(static_cast<double>(info->samples) / info->sampleRate, decoded, 0.005 * decoded);
}

TEST(AudioStream, JunkOfEveryContainerHasNoStream) {
    const fs::path& dir = generated();
    std::mt19937 random(23);
    std::string noise(300000, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    const std::pair<const char*, std::string> junk[] = {
        {"text", std::string(5000, 'a') + "\nnot audio at all\n"},
        {"zeros", std::string(200000, '\0')},
        {"random", noise},
        {"empty", ""},
    };
    for (const char* ext : {"mp3", "ogg", "opus", "flac", "wav", "aiff", "m4a"}) {
        for (const auto& [what, bytes] : junk) {
            const fs::path path = dir / (std::string("junk-") + what + "." + ext);
            writeBytes(path, bytes);
            const auto info = af::measureFile(path);
            EXPECT_TRUE(!info && info.error().is(af::StreamError::noStream)) << path << ": " << (info ? info->samples : 0) << " samples";
        }
    }
    // A real file cut inside its header.
    for (const Kind& kind : kKinds) {
        const std::string whole = kestrane::test::readFile(dir / fileOf(kind, 3));
        const fs::path path = dir / (std::string("cut-") + kind.name);
        writeBytes(path, whole.substr(0, 20));
        EXPECT_FALSE(af::measureFile(path)) << path;
    }
}

TEST(AudioStream, HostileFilesAnswerAtOnceWithBoundedReads) {
    const fs::path& dir = generated();
    const fs::path fifo = dir / "fifo.mp3";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // A FIFO (nobody writes to it) and 2 GB sparse files, of zeros or of one real MP3 head and
    // then zeros: each answered in bounded time and memory.
    std::vector<std::pair<fs::path, bool>> cases = {{fifo, false}};
    for (const char* ext : {"mp3", "ogg", "flac", "wav", "aiff", "m4a"}) {
        const fs::path sparse = dir / (std::string("sparse.") + ext);
        std::ofstream(sparse, std::ios::binary).close();
        fs::resize_file(sparse, std::uintmax_t{2} << 30);
        cases.push_back({sparse, false});
    }
    const fs::path headed = dir / "headed.mp3";
    fs::copy_file(dir / fileOf(kKinds[3], 3), headed);
    fs::resize_file(headed, std::uintmax_t{2} << 30);
    cases.push_back({headed, true});
    for (const auto& [path, hasStream] : cases) {
        const auto end = kestrane::test::runLimited(
            [&path = path] {
                const auto info = af::measureFile(path);
                return info ? 1 : info.error().is(af::StreamError::notRegular) ? 2 : 3;
            },
            64, 20);
        EXPECT_TRUE(end.exited) << path << " ended by signal " << end.signal;
        const int expected = hasStream ? 1 : path == fifo ? 2 : 3;
        EXPECT_EQ(end.status, expected) << path;
    }
}
