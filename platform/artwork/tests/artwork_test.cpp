// Pictures embedded in media files made here: tones encoded by GStreamer, pictures attached by
// TagLib, read back as their bytes and format.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "artwork.h"
#include "test_files.h"
#include "test_media.h"

namespace fs = std::filesystem;
namespace aw = kestrane::artwork;
using kestrane::test::attachPicture;
using kestrane::test::encodeTone;
using kestrane::test::tinyJpeg;
using kestrane::test::tinyPng;

namespace {

std::string bytesOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(ImageFormat, TheLeadingBytesNameTheFormat) {
    EXPECT_EQ(aw::formatOf(tinyPng()), aw::png);
    EXPECT_EQ(aw::formatOf(tinyJpeg()), aw::jpeg);
    EXPECT_EQ(aw::formatOf("GIF89a...."), aw::gif);
    EXPECT_EQ(aw::formatOf("GIF87a...."), aw::gif);
    EXPECT_EQ(aw::formatOf(std::string("II*\0rest", 8)), aw::tiff);
    EXPECT_EQ(aw::formatOf(std::string("MM\0*rest", 8)), aw::tiff);
    EXPECT_EQ(aw::formatOf(std::string("BM6\x03\0\0\0\0\0\0\x36\0\0\0", 14)), aw::bmp);
    EXPECT_EQ(aw::formatOf(std::string("\0\0\0\x0CjP  \r\n\x87\n....", 16)), aw::jpeg2000);
    EXPECT_EQ(aw::formatOf("\xFF\x4F\xFF\x51...."), aw::jpeg2000);
    EXPECT_EQ(aw::formatOf(""), aw::none);
    EXPECT_EQ(aw::formatOf("BM"), aw::none);  // too short for a bitmap file header
    EXPECT_EQ(aw::formatOf("just text"), aw::none);
}

class EmbeddedPictures : public ::testing::Test {
protected:
    kestrane::test::TempFolder folder{"artwork"};

    // A tone of the kind, with image attached unless image is empty.
    fs::path make(const std::string& name, const std::string& encoder, const std::string& image) {
        const fs::path path = folder.path() / name;
        EXPECT_TRUE(encodeTone(path, encoder)) << name;
        if (!image.empty()) {
            EXPECT_TRUE(attachPicture(path, image)) << name;
        }
        return path;
    }
};

TEST_F(EmbeddedPictures, EveryKindGivesBackItsBytesAndFormat) {
    struct Case {
        const char* name;
        const char* encoder;
        std::string image;
        int format;
    };
    const Case cases[] = {
        {"tone.mp3", "lamemp3enc", tinyPng(), aw::png},
        {"tone.flac", "flacenc", tinyJpeg(), aw::jpeg},
        {"tone.ogg", "vorbisenc ! oggmux", tinyPng(), aw::png},
        {"tone.opus", "opusenc ! oggmux", tinyJpeg(), aw::jpeg},
        // MP4 with MP3 audio: the container and its cover are what matter here.
        {"tone.m4a", "lamemp3enc ! mpegaudioparse ! mp4mux", tinyJpeg(), aw::jpeg},
    };
    for (const Case& c : cases) {
        const fs::path path = make(c.name, c.encoder, c.image);
        const auto picture = aw::embeddedPicture(path.string());
        ASSERT_TRUE(picture.has_value()) << c.name;
        EXPECT_EQ(picture->data, c.image) << c.name;
        EXPECT_EQ(picture->format, c.format) << c.name;
    }
}

TEST_F(EmbeddedPictures, TheFrontCoverComesBeforeOtherPictures) {
    const fs::path path = make("two pictures.mp3", "lamemp3enc", "");
    ASSERT_TRUE(attachPicture(path, tinyJpeg(), false));
    ASSERT_TRUE(attachPicture(path, tinyPng(), true));
    const auto picture = aw::embeddedPicture(path.string());
    ASSERT_TRUE(picture.has_value());
    EXPECT_EQ(picture->format, aw::png);
    // And by URL, with the space percent-escaped; the same path on another host is not this file.
    const auto byUrl = aw::embeddedPictureOfUrl("file://" + (folder.path() / "two%20pictures.mp3").string());
    ASSERT_TRUE(byUrl.has_value());
    EXPECT_EQ(byUrl->data, picture->data);
    EXPECT_FALSE(aw::embeddedPictureOfUrl("file://otherhost.example" + (folder.path() / "two%20pictures.mp3").string()).has_value());
}

TEST_F(EmbeddedPictures, NoPictureMissingDamagedOrNotMediaGiveNone) {
    EXPECT_FALSE(aw::embeddedPicture(make("plain.mp3", "lamemp3enc", "").string()).has_value());
    EXPECT_FALSE(aw::embeddedPicture((folder.path() / "missing.flac").string()).has_value());
    EXPECT_FALSE(aw::embeddedPicture(folder.path().string()).has_value());  // a folder
    std::ofstream(folder.path() / "notes.mp3") << "not audio at all";
    EXPECT_FALSE(aw::embeddedPicture((folder.path() / "notes.mp3").string()).has_value());
    EXPECT_FALSE(aw::embeddedPictureOfUrl("http://example.invalid/a.mp3").has_value());
    EXPECT_FALSE(aw::embeddedPictureOfUrl("not a url").has_value());

    // Prefixes of tagged files: none, or what the cut left of the picture; never a crash or a
    // read past the end.
    for (const char* name : {"cut.flac", "cut.mp3", "cut.m4a"}) {
        const std::string encoder = std::string(name).ends_with(".flac") ? "flacenc"
                                    : std::string(name).ends_with(".mp3") ? "lamemp3enc"
                                                                          : "lamemp3enc ! mpegaudioparse ! mp4mux";
        const std::string whole = bytesOf(make(name, encoder, tinyPng()));
        const fs::path cut = folder.path() / (std::string("short-") + name);
        for (std::size_t length = 0; length < whole.size(); length += 1 + length / 8) {
            std::ofstream(cut, std::ios::binary | std::ios::trunc).write(whole.data(), static_cast<std::streamsize>(length));
            const auto picture = aw::embeddedPicture(cut.string());
            if (picture) {
                EXPECT_EQ(tinyPng().rfind(picture->data, 0), 0u) << name << " cut at " << length;
            }
        }
    }
}
