// Our own readers of Vorbis comments and ID3v2 tags against TagLib: files tagged by TagLib, FLAC
// files whose metadata blocks and MP3 files whose ID3v2 tags are written byte by byte here (odd
// fields, pictures, damaged lengths, flags) must give exactly the values that TagLib gives, or
// be left to TagLib.
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

std::string synchsafe(std::uint32_t n) {
    return {static_cast<char>(n >> 21 & 0x7F), static_cast<char>(n >> 14 & 0x7F), static_cast<char>(n >> 7 & 0x7F), static_cast<char>(n & 0x7F)};
}

// An ID3v2 frame of the tag version given; flags are the frame's two flag bytes.
std::string frame(int version, const std::string& id, const std::string& body, const std::string& flags = std::string(2, '\0')) {
    const auto n = static_cast<std::uint32_t>(body.size());
    const std::string size = version == 4 ? synchsafe(n)
                                          : std::string{static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                                                        static_cast<char>(n >> 8), static_cast<char>(n)};
    return id + size + flags + body;
}

// The MP3 file mp3 (its own ID3v2 tag, if any, dropped) behind an ID3v2 tag of frames and 100
// bytes of padding; size overrides the tag's size.
std::string mp3With(const std::string& mp3, int version, const std::string& frames, char flags = 0, long size = -1) {
    std::size_t audio = 0;
    if (mp3.compare(0, 3, "ID3") == 0) {
        audio = 10 + ((mp3[6] & 0x7F) << 21 | (mp3[7] & 0x7F) << 14 | (mp3[8] & 0x7F) << 7 | (mp3[9] & 0x7F));
    }
    const auto tagSize = static_cast<std::uint32_t>(size < 0 ? frames.size() + 100 : size);
    return std::string("ID3") + static_cast<char>(version) + '\0' + flags + synchsafe(tagSize) + frames + std::string(100, '\0') +
           mp3.substr(audio);
}

std::string describe(const kestrane::Expected<ml::TrackValues>& values) {
    if (!values) return "error: " + values.error().message;
    std::ostringstream out;
    for (const ml::TrackValue& v : *values) out << v.key << " (" << static_cast<int>(v.kind) << ") = " << v.text << "\n";
    return out.str();
}

}  // namespace

TEST(OwnTagReaders, GiveTagLibsValuesOrLeaveTheFileToIt) {
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
    ASSERT_TRUE(encodeTone(dir / "tone.mp3", "lamemp3enc"));
    const std::string mp3 = fileBytes(dir / "tone.mp3");
    const std::string u8 = std::string(1, '\3'), l1 = std::string(1, '\0');
    const std::string v4Frames = frame(4, "TIT2", u8 + "Ünï 東京") + frame(4, "TPE1", u8 + "First" + '\0' + "Second" + '\0') +
                                 frame(4, "TRCK", u8 + "3/12") + frame(4, "TPOS", u8 + "1/2") + frame(4, "TCON", u8 + "Rock") +
                                 frame(4, "TDRC", u8 + "2001-02-03T04:05") + frame(4, "TCMP", u8 + "1") + frame(4, "TBPM", l1 + "99") +
                                 frame(4, "TSSE", l1 + "enc") + frame(4, "APIC", std::string(300, 'p')) +
                                 frame(4, "APIC", std::string(20, 'q')) + frame(4, "TSOP", u8 + "Sort") + frame(4, "TPE1", u8 + "Third");
    const std::string v3Frames = frame(3, "TIT2", l1 + "Caf\xE9 cr\xE8me") + frame(3, "TALB", l1 + std::string(300, 'a')) +
                                 frame(3, "TPE2", u8 + "Band") + frame(3, "TRCK", l1 + "7");
    const std::string v3Title = frame(3, "TIT2", l1 + "t");
    fs::copy_file(dir / "tone.mp3", dir / "tagged.mp3");
    ASSERT_TRUE(kestrane::test::writeTags(dir / "tagged.mp3", {{"TITLE", "Tagged"}, {"ARTIST", "Somebody"}, {"TRACKNUMBER", "5/9"}}));
    fs::copy_file(dir / "tone.mp3", dir / "unicode.mp3");
    ASSERT_TRUE(kestrane::test::writeTags(dir / "unicode.mp3", {{"TITLE", "東京"}, {"GENRE", "Pop"}, {"DATE", "1999"}}));
    fs::copy_file(dir / "tagged.mp3", dir / "rated.mp3");
    ASSERT_TRUE(kestrane::test::writePopularimeter(dir / "rated.mp3", 200, 4));
    ASSERT_TRUE(encodeTone(dir / "tone.wav", "wavenc"));
    const std::string wav = fileBytes(dir / "tone.wav");
    // The WAV file wav with chunk (id, body) put before its data chunk; the RIFF size follows.
    const auto wavWith = [&wav](const std::string& id, const std::string& body) {
        const std::size_t data = wav.find("data");
        std::string out = wav.substr(0, data) + id + le32(static_cast<std::uint32_t>(body.size())) + body +
                          (body.size() % 2 != 0 ? std::string(1, '\0') : "") + wav.substr(data);
        return out.replace(4, 4, le32(static_cast<std::uint32_t>(out.size() - 8)));
    };
    fs::copy_file(dir / "tone.wav", dir / "tagged.wav");
    ASSERT_TRUE(kestrane::test::writeTags(dir / "tagged.wav", {{"TITLE", "Tagged"}, {"ARTIST", "Somebody"}}));
    const std::vector<Case> cases = {
        {"untagged.wav", wav, true},
        {"odd-fact.wav", wavWith("fact", "abc"), true},
        {"tagged.wav", "", false},
        {"list.wav", wavWith("LIST", std::string("INFOINAM\2\0\0\0t\0", 14)), false},
        {"empty-info.wav", wavWith("LIST", "INFO"), true},
        {"riff-size.wav", std::string(wav).replace(4, 4, le32(static_cast<std::uint32_t>(wav.size()))), false},
        {"trailing.wav", std::string(wav).replace(4, 4, le32(static_cast<std::uint32_t>(wav.size() + 1))) + "x", false},
        {"tagged.mp3", "", true},
        {"unicode.mp3", "", true},
        {"utf16.mp3", mp3With(mp3, 3, v3Title + frame(3, "TPE1", std::string("\1\xFF\xFE" "a\0", 5))), false},
        {"rated.mp3", "", false},  // the popularimeter is TagLib's
        {"v4.mp3", mp3With(mp3, 4, v4Frames), true},
        {"v3.mp3", mp3With(mp3, 3, v3Frames), true},
        {"empty-text.mp3", mp3With(mp3, 3, v3Title + frame(3, "TPE1", u8 + std::string(2, '\0'))), false},
        {"genre-number.mp3", mp3With(mp3, 4, frame(4, "TIT2", u8 + "t") + frame(4, "TCON", u8 + "(13)")), false},
        {"v3-year.mp3", mp3With(mp3, 3, v3Title + frame(3, "TYER", l1 + "1999")), false},
        {"comment.mp3", mp3With(mp3, 3, v3Title + frame(3, "COMM", l1 + "eng" + '\0' + "c")), false},
        {"no-title.mp3", mp3With(mp3, 4, frame(4, "TCOM", u8 + "c")), false},
        {"unsynchronised.mp3", mp3With(mp3, 3, v3Title, '\x80'), false},
        {"extended-header.mp3", mp3With(mp3, 4, v3Title, '\x40'), false},
        {"frame-flags.mp3", mp3With(mp3, 3, frame(3, "TIT2", l1 + "t", std::string("\0\x80", 2))), false},
        {"frame-overrun.mp3", mp3With(mp3, 3, v3Title + frame(3, "TPE1", l1 + "a").substr(0, 10)).replace(21 + 8, 1, 1, '\x7F'), false},
        {"tag-past-the-end.mp3", mp3With(mp3, 3, v3Title, 0, 0x0FFFFFFF), false},
        {"not-synchsafe.mp3", mp3With(mp3, 4, frame(4, "TIT2", u8 + std::string(200, 't')).replace(4, 4, std::string("\0\0\0\xC8", 4))), false},

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
