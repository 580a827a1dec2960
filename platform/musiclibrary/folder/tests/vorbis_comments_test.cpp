// Our own reader of Vorbis comments against TagLib: files tagged by TagLib and FLAC files whose
// metadata blocks are written byte by byte here (odd fields, pictures, damaged lengths) must
// give exactly the values that TagLib gives, or be left to TagLib.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "audio_tags.h"
#include "limited_child.h"
#include "test_files.h"
#include "test_media.h"

namespace fs = std::filesystem;
namespace ml = kestrane::musiclibrary;

namespace {

std::string fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string le32(std::uint32_t n) {
    return {static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16), static_cast<char>(n >> 24)};
}

// A comment block: vendor, field count (the fields' own unless given), fields.
std::string comment(const std::vector<std::string>& fields, long count = -1) {
    std::string out = le32(4) + "test" + le32(count < 0 ? static_cast<std::uint32_t>(fields.size()) : static_cast<std::uint32_t>(count));
    for (const std::string& f : fields) out += le32(static_cast<std::uint32_t>(f.size())) + f;
    return out;
}

// A picture block whose picture holds dataLength bytes but declares declared.
std::string picture(std::uint32_t declared, std::uint32_t dataLength) {
    auto be32 = [](std::uint32_t n) {
        return std::string{static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8), static_cast<char>(n)};
    };
    return be32(3) + be32(9) + "image/png" + be32(0) + be32(1) + be32(1) + be32(24) + be32(0) + be32(declared) +
           std::string(dataLength, 'p');
}

// The FLAC file flac with its metadata after STREAMINFO replaced by blocks (type, body).
std::string flacWith(const std::string& flac, const std::vector<std::pair<int, std::string>>& blocks) {
    std::size_t at = 4;
    bool last = false;
    while (!last) {
        last = (static_cast<unsigned char>(flac[at]) & 0x80) != 0;
        at += 4 + ((static_cast<unsigned char>(flac[at + 1]) << 16) | (static_cast<unsigned char>(flac[at + 2]) << 8) |
                   static_cast<unsigned char>(flac[at + 3]));
    }
    std::string out = "fLaC" + flac.substr(4, 38);
    out[4] = 0;  // STREAMINFO, not the last block
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const std::string& body = blocks[i].second;
        out += static_cast<char>(blocks[i].first | (i + 1 == blocks.size() ? 0x80 : 0));
        out += {static_cast<char>(body.size() >> 16), static_cast<char>(body.size() >> 8), static_cast<char>(body.size())};
        out += body;
    }
    return out + flac.substr(at);
}

std::string describe(const kestrane::Expected<ml::TrackValues>& values) {
    if (!values) return "error: " + values.error().message;
    std::ostringstream out;
    for (const ml::TrackValue& v : *values) out << v.key << " (" << static_cast<int>(v.kind) << ") = " << v.text << "\n";
    return out.str();
}

}  // namespace

TEST(VorbisComments, OurReaderGivesTagLibsValuesOrLeavesTheFileToIt) {
    kestrane::test::TempFolder temp{"vorbiscomments"};
    const fs::path dir = temp.path();
    using kestrane::test::encodeTone;
    ASSERT_TRUE(encodeTone(dir / "tone.flac", "flacenc"));
    ASSERT_TRUE(encodeTone(dir / "tone.ogg", "vorbisenc ! oggmux"));
    ASSERT_TRUE(encodeTone(dir / "tone.opus", "opusenc ! oggmux"));
    const std::string flac = fileBytes(dir / "tone.flac");
    const std::vector<std::string> odd = {"TITLE=Ünïcödé 東京 🎵", "ARTIST=First", "artist=Second", "Album=lower-case key",
                                          "GENRE=", "GENRE=Rock", "noseparator", "=no key", "TRACKNUMBER=3/12",
                                          "DISCNUMBER=2", "DISCTOTAL=4", "DATE=1999-05-01", "COMPILATION=1", "BPM=120.6",
                                          "FMPS_RATING=0.8", "FMPS_PLAYCOUNT=7", "COMMENT=a=b", "ALBUMARTISTSORT=x"};
    struct Case {
        const char* name;
        std::string bytes;  // written as the file; empty: the tagged file of that name
        bool ours;          // whether our reader takes it
    };
    const std::string big(70000, 'c');  // a comment header over several Ogg pages
    const std::map<std::string, std::string> tags = {{"TITLE", "Tagged"}, {"ARTIST", "Somebody"}, {"TRACKNUMBER", "5/9"},
                                                     {"COMMENT", big}, {"ALBUM", "Ålbum"}};
    for (const char* ext : {"flac", "ogg", "opus"}) {
        fs::copy_file(dir / (std::string("tone.") + ext), dir / (std::string("tagged.") + ext));
        ASSERT_TRUE(kestrane::test::writeTags(dir / (std::string("tagged.") + ext), tags));
        fs::copy_file(dir / (std::string("tagged.") + ext), dir / (std::string("pictured.") + ext));
        ASSERT_TRUE(kestrane::test::attachPicture(dir / (std::string("pictured.") + ext), kestrane::test::tinyPng()));
    }
    const std::vector<Case> cases = {
        {"tagged.flac", "", true},
        {"tagged.ogg", "", true},
        {"tagged.opus", "", true},
        {"pictured.flac", "", true},
        {"pictured.ogg", "", false},  // pictures in comments are TagLib's
        {"pictured.opus", "", false},
        {"untagged.ogg", fileBytes(dir / "tone.ogg"), true},
        {"odd.flac", flacWith(flac, {{4, comment(odd)}, {1, std::string(100, '\0')}}), true},
        {"pictures.flac", flacWith(flac, {{6, picture(10, 10)}, {4, comment({"TITLE=t"})}, {6, picture(11, 10)}, {6, picture(3, 10)}}), true},
        {"cut-field.flac", flacWith(flac, {{4, comment({"TITLE=t", "ARTIST=a"}).substr(0, 30)}}), true},
        {"too-many-fields.flac", flacWith(flac, {{4, comment({"TITLE=t"}, 1000)}}), false},
        {"wrapping-length.flac", flacWith(flac, {{4, comment({"TITLE=t"}, 2) + le32(0xFFFFFFF0u) + "ARTIST=a"}}), false},
        {"huge-vendor.flac", flacWith(flac, {{4, le32(0x7FFFFFFF) + "x"}}), false},
        {"not-utf8.flac", flacWith(flac, {{4, comment({"TITLE=\xC3\x28", "ARTIST=a"})}}), false},
        {"nul-in-value.flac", flacWith(flac, {{4, comment({std::string("TITLE=a\0b", 9)})}}), false},
        {"non-ascii-key.flac", flacWith(flac, {{4, comment({"TÏTLE=t"})}}), false},
        {"picture-field.flac", flacWith(flac, {{4, comment({"TITLE=t", "METADATA_BLOCK_PICTURE=AAAA"})}}), false},
        {"two-comments.flac", flacWith(flac, {{4, comment({"TITLE=t"})}, {4, comment({"TITLE=u"})}}), false},
        {"no-comment.flac", flacWith(flac, {{1, std::string(10, '\0')}}), false},
        {"empty-comment.flac", flacWith(flac, {{4, comment({"TITLE="})}}), false},
        {"empty-block.flac", flacWith(flac, {{4, comment({"TITLE=t"})}, {2, ""}}), false},
        {"huge-picture-length.flac", flacWith(flac, {{4, comment({"TITLE=t"})}, {6, picture(0xFFFFFFF0u, 10)}}), false},
    };
    for (const Case& c : cases) {
        const fs::path path = dir / c.name;
        if (!c.bytes.empty()) std::ofstream(path, std::ios::binary) << c.bytes;
        // In a child with limits: a damaged length must not cost more than its bytes.
        const auto end = kestrane::test::runLimited(
            [&path, &c] {
                ml::TagReader used = ml::TagReader::tagLib;
                const std::string ours = describe(ml::readAudioFile(path.string(), nullptr, ml::TagReader::own, &used));
                const std::string tagLibs = describe(ml::readAudioFile(path.string(), nullptr, ml::TagReader::tagLib));
                if (ours != tagLibs) std::fprintf(stderr, "ours:\n%s\nTagLib's:\n%s", ours.c_str(), tagLibs.c_str());
                return (ours == tagLibs ? 0 : 1) + ((used == ml::TagReader::own) == c.ours ? 0 : 2);
            },
            64, 20);
        EXPECT_TRUE(end.exited) << c.name << ": ended by signal " << end.signal;
        EXPECT_EQ(end.status, 0) << c.name << " (1: values differ, 2: the other reader read it)";
    }
}
