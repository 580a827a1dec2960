// The library reader against the files users have: values that do not parse, values at the
// edges of their range, other encodings and the binary format, and snapshots shared between
// readers of one unchanged file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "library.h"
#include "open_library.h"
#include "loader.h"
#include "plist_events.h"
#include "plist_reader.h"
#include "snapshot.h"
#include "test_files.h"
#include "utf.h"

namespace fs = std::filesystem;
namespace ml = kestrane::musiclibrary;

namespace {

// One track (key and ID 1) whose body is on line 2 of the document.
std::string oneTrack(const std::string& body) {
    return "<plist><dict><key>Tracks</key><dict><key>1</key><dict><key>Track ID</key><integer>1</integer>\n" + body +
           "</dict>\n</dict></dict></plist>";
}

// The messages that body logs, without their date and process prefix.
std::vector<std::string> loggedBy(const std::function<void()>& body) {
    const std::string log = kestrane::test::captureStderr(body);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t end = log.find('\n', start);
        if (end == std::string::npos) end = log.size();
        const std::string line = log.substr(start, end - start);
        const std::size_t message = line.find("] ");
        lines.push_back(message == std::string::npos ? line : line.substr(message + 2));
        start = end + 1;
    }
    return lines;
}

struct Loaded {
    ml::SnapshotRef snapshot;
    std::string error;
    std::vector<std::string> log;
};

Loaded load(std::string_view bytes) {
    Loaded out;
    out.log = loggedBy([&] {
        auto parsed = ml::parseSnapshot(bytes);
        if (parsed) out.snapshot = std::move(parsed).value();
        else out.error = parsed.error().message;
    });
    return out;
}

const ml::MediaItem* item(const Loaded& l, std::size_t i) {
    return static_cast<const ml::MediaItem*>(l.snapshot->allItems.at(i));
}

std::optional<std::string> property(const Loaded& l, const char* key) {
    return item(l, 0)->valueForProperty(key);
}

std::string leftOut(const char* key) {
    return std::string("The library data: 1 value could not be read and was left out: \"") + key +
           "\" 1 (first in track 1, line 2).";
}

// UTF-16 bytes of UTF-8 text, with a byte-order mark when asked.
std::string utf16Bytes(std::string_view utf8, bool bigEndian, bool mark) {
    std::u16string units = kestrane::text::utf16FromUtf8(utf8);
    if (mark) units.insert(units.begin(), u'\uFEFF');
    std::string bytes;
    for (char16_t u : units) {
        const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        bytes += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
    }
    return bytes;
}

// Positions from each range {begin, end, count}: every one when the range holds no more than
// count, else count of them spread evenly, so that they fall on every kind of byte.
std::vector<std::size_t> spread(std::initializer_list<std::array<std::size_t, 3>> ranges) {
    std::vector<std::size_t> out;
    for (const auto& [begin, end, count] : ranges) {
        const std::size_t n = end - begin;
        for (std::size_t i = 0; i < std::min(n, count); ++i) out.push_back(begin + (n <= count ? i : i * n / count));
    }
    return out;
}

std::size_t readBigEndian(const std::string& bytes, std::size_t at, std::size_t size) {
    std::size_t value = 0;
    for (std::size_t i = 0; i < size; ++i) value = value << 8 | static_cast<unsigned char>(bytes.at(at + i));
    return value;
}

using kestrane::musiclibrary::test::events;
using kestrane::test::readFile;

}  // namespace

// Each variant is one track with one value: it is read exactly, or left out with the one log
// line that names it; the rest of the library loads either way.
TEST(ReaderVariants, EachValueIsReadExactlyOrLeftOutWithItsLine) {
    struct Variant {
        const char* name;
        std::string body;
        const char* key;
        std::optional<std::string> value;
        std::string log;  // "" for none
    };
    const std::vector<Variant> variants = {
        {"a letter in an integer", "<key>Year</key><integer>12a</integer>", "Year", std::nullopt, leftOut("Year")},
        {"an empty integer", "<key>Year</key><integer/>", "Year", std::nullopt, leftOut("Year")},
        {"white space and a plus sign", "<key>Year</key><integer>\n +2010 </integer>", "Year", "2010", ""},
        {"2^64 - 1", "<key>Size</key><integer>18446744073709551615</integer>", "Size", "18446744073709551615", ""},
        {"2^64", "<key>Size</key><integer>18446744073709551616</integer>", "Size", std::nullopt, leftOut("Size")},
        {"-2^63", "<key>Size</key><integer>-9223372036854775808</integer>", "Size", "-9223372036854775808", ""},
        {"a date without Z", "<key>Date Added</key><date>2001-01-01T00:00:00</date>", "Date Added",
         "2001-01-01 00:00:00 +0000", ""},
        {"a date with an offset", "<key>Date Added</key><date>2001-01-01T01:00:00+01:00</date>", "Date Added",
         "2001-01-01 00:00:00 +0000", ""},
        {"fractional seconds", "<key>Date Added</key><date>2001-01-01T00:00:07.75Z</date>", "Date Added",
         "2001-01-01 00:00:07 +0000", ""},
        {"a day-only date", "<key>Date Added</key><date>2001-01-01</date>", "Date Added", "2001-01-01 00:00:00 +0000", ""},
        {"30 February", "<key>Date Added</key><date>2015-02-30T00:00:00Z</date>", "Date Added", std::nullopt,
         leftOut("Date Added")},
        {"a real that is not a number", "<key>Ratio</key><real>abc</real>", "Ratio", std::nullopt, leftOut("Ratio")},
        {"a key the catalogue does not expose", "<key>Some Counter</key><integer>x</integer>", "Some Counter",
         std::nullopt, leftOut("Some Counter")},
        {"&#0;", "<key>Name</key><string>a&#0;b</string>", "Name", "a\uFFFDb", ""},
        {"a lone surrogate", "<key>Name</key><string>a&#xD800;b&#xDC00;</string>", "Name", "a\uFFFDb\uFFFD", ""},
        {"a surrogate pair in two references", "<key>Name</key><string>&#xD83C;&#xDFB5;</string>", "Name",
         "\U0001F3B5", ""},
        {"a high surrogate before another character", "<key>Name</key><string>&#55356;&#65;</string>", "Name",
         "\uFFFDA", ""},
        {"beyond Unicode", "<key>Name</key><string>&#x110000;</string>", "Name", "\uFFFD", ""},
        {"CR LF and a lone CR", "<key>Comments</key><string>one\r\ntwo\rthree\r</string>", "Comments",
         "one\ntwo\nthree\n", ""},
        {"a key repeated", "<key>Genre</key><string>first</string><key>Genre</key><string>last</string>", "Genre", "last",
         ""},
    };
    for (const Variant& v : variants) {
        SCOPED_TRACE(v.name);
        const Loaded l = load(oneTrack(v.body));
        ASSERT_TRUE(l.snapshot) << l.error;
        ASSERT_EQ(l.snapshot->allItems.size(), 1u);
        EXPECT_EQ(property(l, v.key), v.value);
        EXPECT_EQ(l.log, v.log.empty() ? std::vector<std::string>{} : std::vector<std::string>{v.log});
    }
}

TEST(ReaderVariants, GettersHoldValuesToTheirRange) {
    const Loaded l = load(oneTrack("<key>Size</key><integer>18446744073709551615</integer>"
                                   "<key>Year</key><integer>4294969306</integer>"));  // 2^32 + 2010
    ASSERT_TRUE(l.snapshot) << l.error;
    EXPECT_EQ(item(l, 0)->fileSize(), INT64_MAX);
    EXPECT_EQ(item(l, 0)->year(), 4294969306);  // a Java int getter holds it to 2^31 - 1
    EXPECT_EQ(property(l, "Year"), "4294969306");
}

TEST(ReaderVariants, OneLineCountsEveryValueLeftOutByKey) {
    const Loaded l = load("<plist><dict><key>Tracks</key><dict>"
                          "<key>1</key><dict><key>Year</key><integer>x</integer>\n"
                          "<key>Date Added</key><date>yesterday</date></dict>\n"
                          "<key>2</key><dict><key>Year</key><integer></integer></dict>"
                          "</dict></dict></plist>");
    ASSERT_TRUE(l.snapshot) << l.error;
    EXPECT_EQ(l.snapshot->allItems.size(), 2u);
    EXPECT_EQ(l.log, std::vector<std::string>{"The library data: 3 values could not be read and were left out: "
                                              "\"Date Added\" 1 (first in track 1, line 2); "
                                              "\"Year\" 2 (first in track 1, line 1)."});
}

TEST(ReaderVariants, TracksAreNamedByTheirKeyThenTheirInnerId) {
    // Track "5" has a real as its inner ID, "7" an inner ID of 8; "x" has no usable ID at all;
    // "9" comes twice. Playlist items name tracks by key (5, 7, 9) or by inner ID alone (8).
    const Loaded l = load(
        "<plist><dict><key>Tracks</key><dict>\n"
        "<key>5</key><dict><key>Track ID</key><real>5</real><key>Name</key><string>five</string></dict>\n"
        "<key>7</key><dict><key>Track ID</key><integer>8</integer><key>Name</key><string>seven</string></dict>\n"
        "<key>x</key><dict><key>Name</key><string>none</string></dict>\n"
        "<key>9</key><dict><key>Name</key><string>first nine</string></dict>\n"
        "<key>9</key><dict><key>Name</key><string>last nine</string></dict>\n"
        "</dict><key>Playlists</key><array><dict><key>Name</key><string>P</string><key>Playlist Items</key><array>"
        "<dict><key>Track ID</key><integer>5</integer></dict><dict><key>Track ID</key><integer>7</integer></dict>"
        "<dict><key>Track ID</key><integer>8</integer></dict><dict><key>Track ID</key><integer>9</integer></dict>"
        "</array></dict></array></dict></plist>");
    ASSERT_TRUE(l.snapshot) << l.error;
    EXPECT_EQ(l.log, (std::vector<std::string>{
                         "The library data: the track with the key \"x\" (line 4) has no usable Track ID; it is left out.",
                         "The library data: the track key 9 appears 2 times in \"Tracks\"; the last one is kept."}));
    std::vector<std::string> names;
    for (ml::Object* o : l.snapshot->allItems.list) names.emplace_back(*static_cast<ml::MediaItem*>(o)->title());
    EXPECT_EQ(names, (std::vector<std::string>{"five", "seven", "last nine"}));
    const auto* playlist = static_cast<const ml::Playlist*>(l.snapshot->allPlaylists.at(0));
    std::vector<std::string> members;
    for (ml::Object* o : playlist->items()->elements()) members.emplace_back(*static_cast<ml::MediaItem*>(o)->title());
    EXPECT_EQ(members, (std::vector<std::string>{"five", "seven", "seven", "last nine"}));
}

TEST(ReaderVariants, StructureStillFailsTheLoadWithItsPosition) {
    const std::string whole = oneTrack("<key>Name</key><string>x</string>");
    // A half-written file never reads as a library with fewer tracks.
    for (std::size_t cut : {whole.size() - 1, whole.size() / 2, std::size_t{40}}) {
        const Loaded l = load(whole.substr(0, cut));
        EXPECT_FALSE(l.snapshot) << cut;
        EXPECT_EQ(l.error.rfind("line ", 0), 0u) << l.error;
        EXPECT_TRUE(l.log.empty());
    }
    EXPECT_EQ(load(oneTrack("<key>Year</key><integer>1</string>")).error,
              "line 2, column 35: expected </integer> (in track 1, at key \"Year\")");
    EXPECT_EQ(load("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><plist/>").error,
              "line 1, column 44: the encoding ISO-8859-1 is not supported");
    EXPECT_EQ(load("<?xml version=\"1.0\" encoding=\"UTF-16\"?><plist/>").error,
              "line 1, column 40: the document declares UTF-16 but its bytes are not UTF-16");
    // Columns count characters, not bytes.
    EXPECT_EQ(load("<plist><string>\u00e9\u00e9\U0001F3B5&bogus;</string></plist>").error.rfind("line 1, column 26: ", 0), 0u);
    // White space and NUL bytes after the end are passed over; anything else is not.
    EXPECT_TRUE(load(oneTrack("") + std::string("\n \0\0\t", 5)).snapshot);
    EXPECT_NE(load(oneTrack("") + std::string("\0x", 2)).error.find("content after </plist>"), std::string::npos);
}

TEST(ReaderEncodings, UtfSixteenInEitherOrderReadsAsItsUtfEightForm) {
    const std::string utf8 = "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n" +
                             oneTrack("<key>Name</key><string>Caf\u00e9 \U0001F3B5 &amp; \u4e2d</string>"
                                      "<key>Comments</key><string>a\r\nb</string>");
    // The same document written in UTF-8, without the declaration that says otherwise.
    const std::string expected = events(utf8.substr(utf8.find("\r\n") + 2), 64);
    ASSERT_EQ(expected.rfind("ERROR", 0), std::string::npos) << expected;
    for (bool big : {false, true}) {
        for (bool mark : {true, false}) {
            const std::string bytes = utf16Bytes(utf8, big, mark);
            for (std::size_t chunk : {1, 3, 64, 1 << 20}) {
                EXPECT_EQ(events(bytes, chunk), expected) << "big " << big << " mark " << mark << " chunk " << chunk;
            }
        }
    }
    // Columns of errors count characters in a UTF-16 document too.
    const std::string bad = utf16Bytes("<plist><string>\u00e9\U0001F3B5&bogus;</string></plist>", false, true);
    EXPECT_EQ(events(bad, 5).rfind("ERROR line 1, column 25: unknown entity &bogus;", 0), 0u) << events(bad, 5);
    // A lone surrogate and an odd last byte become U+FFFD; the document is read to its end.
    std::string lone = utf16Bytes("<plist><string>a", false, true);
    lone += std::string("\x00\xD8", 2) + utf16Bytes("b</string></plist>", false, false);
    EXPECT_EQ(events(lone, 7), "0:a\uFFFDb;");
    EXPECT_EQ(events(utf16Bytes("<plist><string>a</string></plist>", false, true) + "x", 4).rfind("ERROR", 0), 0u);
}

TEST(ReaderEncodings, AStringDenseWithEntitiesReadsWhole) {
    std::string doc = "<plist><string>";
    for (int i = 0; i < 200000; ++i) doc += "&amp;";
    doc += "</string></plist>";
    const std::string read = events(doc, 1 << 16);
    EXPECT_EQ(read, "0:" + std::string(200000, '&') + ";");
}

class BinaryPlists : public ::testing::Test {
protected:
    kestrane::test::TempFolder folder{"bplist"};

    // Writes one library with Python's plistlib as XML and as a binary property list; returns
    // false when Python could not.
    bool writeBoth(fs::path& xml, fs::path& binary) {
        xml = folder.path() / "Library.xml";
        binary = folder.path() / "Library.bplist";
        const fs::path script = folder.path() / "write.py";
        std::ofstream(script) << R"(import datetime, plistlib, sys
tracks = {}
for i in range(1, 41):
    tracks[str(i)] = {
        "Track ID": i, "Name": "Track %d caf\u00e9 \U0001F3B5" % i, "Artist": "Artist %d" % (i % 3),
        "Album": "Album", "Size": 2**64 - 1 if i == 1 else i * 1000, "Volume Adjustment": -i,
        "Total Time": 2**40 + i, "Date Added": datetime.datetime(2001 + i, 2, 3, 4, 5, 6),
        "Custom Ratio": i / 8.0, "Blob": bytes(range(i % 7)), "Compilation": i % 2 == 0,
        "Persistent ID": "%016X" % (0xABC000 + i), "Nested": [i, {"deep": "yes"}], "Comments": "line\nbreak",
    }
library = {"Application Version": "12.9", "Music Folder": "file:///music/", "Show Content Ratings": True,
           "Tracks": tracks,
           "Playlists": [{"Name": "Mix", "Playlist Persistent ID": "00000000000000AA",
                          "Playlist Items": [{"Track ID": i} for i in (3, 1, 40, 2)]}]}
with open(sys.argv[1], "wb") as f: plistlib.dump(library, f, fmt=plistlib.FMT_XML)
with open(sys.argv[2], "wb") as f: plistlib.dump(library, f, fmt=plistlib.FMT_BINARY)
)";
        const std::string command = "python3 '" + script.string() + "' '" + xml.string() + "' '" + binary.string() + "'";
        return std::system(command.c_str()) == 0;
    }
};

TEST_F(BinaryPlists, ABinaryLibraryReadsAsItsXmlForm) {
    fs::path xml, binary;
    ASSERT_TRUE(writeBoth(xml, binary));
    const std::string binaryBytes = readFile(binary);
    ASSERT_EQ(binaryBytes.rfind("bplist00", 0), 0u);
    const Loaded fromXml = load(readFile(xml));
    const Loaded fromBinary = load(binaryBytes);
    ASSERT_TRUE(fromXml.snapshot) << fromXml.error;
    ASSERT_TRUE(fromBinary.snapshot) << fromBinary.error;
    EXPECT_TRUE(fromBinary.log.empty());
    const ml::Snapshot& a = *fromXml.snapshot.get();
    const ml::Snapshot& b = *fromBinary.snapshot.get();
    ASSERT_EQ(a.allItems.size(), 40u);
    ASSERT_EQ(b.allItems.size(), 40u);
    EXPECT_EQ(b.applicationVersion, "12.9");
    EXPECT_EQ(b.musicFolder, "file:///music/");
    EXPECT_TRUE(b.showContentRating);
    for (std::size_t i = 0; i < 40; ++i) {
        const auto* x = static_cast<const ml::MediaItem*>(a.allItems.at(i));
        const auto* y = static_cast<const ml::MediaItem*>(b.allItems.at(i));
        for (const char* key : {"Track ID", "Name", "Artist", "Album", "Size", "Volume Adjustment", "Total Time",
                                "Date Added", "Custom Ratio", "Blob", "Compilation", "Persistent ID", "Nested", "Comments"}) {
            EXPECT_EQ(x->valueForProperty(key), y->valueForProperty(key)) << "track " << i << " key " << key;
        }
        EXPECT_EQ(x->persistentId(), y->persistentId());
    }
    const auto* first = static_cast<const ml::MediaItem*>(b.allItems.at(0));
    EXPECT_EQ(first->valueForProperty("Size"), "18446744073709551615");
    EXPECT_EQ(first->valueForProperty("Name"), "Track 1 caf\u00e9 \U0001F3B5");
    EXPECT_EQ(first->valueForProperty("Date Added"), "2002-02-03 04:05:06 +0000");
    EXPECT_EQ(first->valueForProperty("Custom Ratio"), "0.125");
    const auto* mix = static_cast<const ml::Playlist*>(b.allPlaylists.at(0));
    ASSERT_NE(mix->items(), nullptr);
    std::vector<std::uint64_t> ids;
    for (ml::Object* o : mix->items()->elements()) ids.push_back(static_cast<ml::MediaItem*>(o)->persistentId());
    EXPECT_EQ(ids, (std::vector<std::uint64_t>{0xABC003, 0xABC001, 0xABC028, 0xABC002}));
}

TEST_F(BinaryPlists, DamagedBinaryFilesFailCleanly) {
    fs::path xml, binary;
    ASSERT_TRUE(writeBoth(xml, binary));
    const std::string bytes = readFile(binary);
    // Every cut and every byte changed is the fuzzer's work (this library is one of its seeds);
    // here a sample: the trailer whole, where the reader learns every size and offset it then
    // trusts, and positions spread over the objects and the offset table.
    const std::size_t trailer = bytes.size() - 32;
    const std::size_t table = readBigEndian(bytes, trailer + 24, 8);
    ASSERT_LT(table, trailer);
    // Every cut fails (the trailer is gone) with an error, never a crash.
    for (std::size_t cut : spread({{8, trailer, 48}, {trailer, bytes.size(), 32}})) {
        const auto parsed = ml::parseSnapshot(bytes.substr(0, cut));
        EXPECT_FALSE(parsed) << cut;
    }
    // A byte changed loads or fails, never reads out of bounds (the sanitizer build checks that).
    std::size_t failed = 0, loaded = 0;
    (void)loggedBy([&] {
        for (std::size_t at : spread({{8, table, 160}, {table, trailer, 64}, {trailer, bytes.size(), 32}})) {
            std::string damaged = bytes;
            damaged[at] = static_cast<char>(damaged[at] ^ 0x5A);
            (ml::parseSnapshot(damaged) ? loaded : failed) += 1;
        }
    });
    EXPECT_GT(failed, 0u);
    EXPECT_GT(loaded, 0u);

    // Hand-made: an array that holds itself, and arrays that each hold the next one twice, so
    // that 40 bytes would expand into a million objects.
    auto bplist = [](const std::vector<std::string>& objects) {
        std::string out = "bplist00";
        std::string offsets;
        for (const std::string& o : objects) {
            offsets.push_back(static_cast<char>(out.size()));
            out += o;
        }
        const std::size_t table = out.size();
        out += offsets;
        std::string trailer(32, '\0');
        trailer[6] = 1;  // offset size
        trailer[7] = 1;  // reference size
        trailer[15] = static_cast<char>(objects.size());
        trailer[31] = static_cast<char>(table);
        return out + trailer;
    };
    // Both sit under a key of the library's dictionary: {"a": array}.
    const std::string top("\xD1\x01\x02\x51" "a", 5);
    const auto selfHolding = ml::parseSnapshot(bplist({top.substr(0, 3), top.substr(3), std::string("\xA1\x02", 2)}));
    ASSERT_FALSE(selfHolding);
    EXPECT_EQ(selfHolding.error().message.rfind("object 2: ", 0), 0u) << selfHolding.error().message;
    std::vector<std::string> doubling = {top.substr(0, 3), top.substr(3)};
    for (int i = 2; i < 22; ++i) doubling.push_back(std::string{'\xA2', static_cast<char>(i + 1), static_cast<char>(i + 1)});
    doubling.push_back("\x09");  // true
    const auto bomb = ml::parseSnapshot(bplist(doubling));
    ASSERT_FALSE(bomb);
    EXPECT_NE(bomb.error().message.find("shared too often"), std::string::npos) << bomb.error().message;
}

class SharedSnapshots : public ::testing::Test {
protected:
    kestrane::test::TempFolder folder{"shared"};
    fs::path file = folder.path() / "Library.xml";

    void SetUp() override { setenv("KESTRANE_MUSIC_LIBRARY", file.c_str(), 1); }

    // Writes the file and dates it secondsAgo in the past.
    void write(const std::string& text, long secondsAgo = 3600) {
        std::ofstream(file) << text;
        age(secondsAgo);
    }
    void age(long secondsAgo) {
        const timespec when{std::time(nullptr) - secondsAgo, 0};
        const timespec times[2] = {when, when};
        ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    }
    ml::Library* open() {
        auto opened = kestrane::test::openLibraryFile("1.1");
        EXPECT_TRUE(opened) << opened.error().message;
        return opened ? *opened : nullptr;
    }
};

TEST_F(SharedSnapshots, LibrariesOnOneUnchangedFileShareOneSnapshot) {
    write(oneTrack("<key>Name</key><string>one</string>"));
    const std::size_t before = ml::Snapshot::liveCount();
    ml::Library* a = open();
    ml::Library* b = open();
    ml::Library* c = open();
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(ml::Snapshot::liveCount(), before + 1);
    ml::Array* items = a->allMediaItems();
    EXPECT_EQ(b->allMediaItems(), items);
    EXPECT_EQ(c->allMediaItems(), items);
    EXPECT_TRUE(b->reloadData());  // unchanged: the snapshot stays
    EXPECT_EQ(b->allMediaItems(), items);
    EXPECT_EQ(ml::Snapshot::liveCount(), before + 1);

    // Touched: the next reload reads the file again, and the other libraries share the new read
    // when they reload.
    write(oneTrack("<key>Name</key><string>two</string>"), 1800);
    EXPECT_TRUE(b->reloadData());
    ml::Array* fresh = b->allMediaItems();
    EXPECT_NE(fresh, items);
    EXPECT_EQ(*static_cast<ml::MediaItem*>(fresh->at(0))->title(), "two");
    EXPECT_EQ(a->allMediaItems(), items);  // until it reloads
    EXPECT_TRUE(a->reloadData());
    EXPECT_EQ(a->allMediaItems(), fresh);
    EXPECT_TRUE(c->reloadData());
    EXPECT_EQ(ml::Snapshot::liveCount(), before + 1);  // the first read went with its last holder

    // The same bytes written again under a new date are read again too.
    age(900);
    EXPECT_TRUE(a->reloadData());
    EXPECT_NE(a->allMediaItems(), fresh);
    for (ml::Library* l : {a, b, c}) l->unloadData();
}

TEST_F(SharedSnapshots, AnEmptyLibraryIsNotReadAgainWhileUnchanged) {
    write("<plist><dict><key>Tracks</key><dict/></dict></plist>");
    ml::Library* lib = open();
    ASSERT_NE(lib, nullptr);
    const ml::Array* first = lib->allMediaItemsReloadingIfEmpty();
    EXPECT_EQ(first->size(), 0u);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(lib->allMediaItemsReloadingIfEmpty(), first);  // the same snapshot: no read
    // A file written just now could change again unseen within the file system's timestamp
    // granularity: it is read on every reload until it has aged.
    write(oneTrack("<key>Name</key><string>now</string>"), 0);
    EXPECT_EQ(lib->allMediaItemsReloadingIfEmpty()->size(), 1u);
    const ml::Array* recent = lib->allMediaItems();
    EXPECT_TRUE(lib->reloadData());
    EXPECT_NE(lib->allMediaItems(), recent);
    lib->unloadData();
}

// ---- a large file read by two threads at once ---------------------------------------------------

namespace {

// Everything a load gives: every value of every item, its artist and album, the playlists with
// their members, the library's settings.
std::string dump(const ml::Snapshot& s) {
    std::string out;
    std::vector<std::string> keys;
    for (std::uint32_t k = 0; k < ml::kKnownKeyCount; ++k) keys.emplace_back(ml::keyText(static_cast<ml::TrackKey>(k)));
    for (const auto& [text, number] : s.unknownKeys) keys.push_back(text);
    std::sort(keys.begin(), keys.end());
    for (const ml::Object* o : s.allItems.list) {
        const auto* item = static_cast<const ml::MediaItem*>(o);
        out += "item " + std::to_string(item->persistentId()) + " artist " + std::string(item->artist() ? item->artist()->name().value_or("") : "-") +
               " album " + std::string(item->album() ? item->album()->title().value_or("") : "-") + "\n";
        for (const std::string& key : keys) {
            if (const auto value = item->valueForProperty(key)) out += " " + key + "=" + *value + "\n";
        }
    }
    for (const ml::Object* o : s.allPlaylists.list) {
        const auto* playlist = static_cast<const ml::Playlist*>(o);
        out += "playlist " + std::string(playlist->name().value_or("-")) + " " + std::to_string(playlist->persistentId()) + " kind " +
               std::to_string(playlist->kind()) + ":";
        for (const std::uint64_t id : playlist->itemIds()) out += " " + std::to_string(id);
        out += "\n";
    }
    return out + "settings " + s.applicationVersion.value_or("-") + " " + s.musicFolder.value_or("-") + " " +
           std::to_string(s.showContentRating) + "\n";
}

// A library of 400 tracks with every kind of value; track i's dictionary gets what trackExtra
// gives it, and what `after` holds follows "Tracks".
std::string splitLibrary(const std::function<std::string(int)>& trackExtra, const std::string& after = "") {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
                      "\t<key>Music Folder</key><string>file:///before/</string>\n\t<key>Tracks</key>\n\t<dict>\n";
    for (int i = 1; i <= 400; ++i) {
        xml += "\t\t<key>" + std::to_string(i) + "</key>\n\t\t<dict>\n\t\t\t<key>Track ID</key><integer>" + std::to_string(i) +
               "</integer>\n\t\t\t<key>Name</key><string>Song &amp; " + std::to_string(i) + " \u00e9\U0001F3B5</string>\n" +
               "\t\t\t<key>Artist</key><string>Artist " + std::to_string(i % 7) + "</string>\n" +
               "\t\t\t<key>Album</key><string>Album " + std::to_string(i % 11) + "</string>\n" +
               "\t\t\t<key>Date Added</key><date>2020-01-02T03:04:05Z</date>\n\t\t\t<key>Volume</key><real>0." +
               std::to_string(i) + "</real>\n\t\t\t<key>Compilation</key><" + (i % 2 ? "true" : "false") + "/>\n" +
               "\t\t\t<key>Persistent ID</key><string>" + std::to_string(1000000 + i) + "ABC</string>\n" +
               "\t\t\t<key>Key " + std::to_string(i % 5 == 0 ? i : 0) + "</key><data>AAEC</data>\n" + trackExtra(i) +
               "\t\t</dict>\n";
    }
    xml += "\t</dict>\n" + after + "\t<key>Playlists</key>\n\t<array>\n";
    for (int p = 0; p < 5; ++p) {
        xml += "\t\t<dict><key>Name</key><string>P" + std::to_string(p) + "</string><key>Playlist Persistent ID</key><string>" +
               std::to_string(p + 10) + "</string><key>Playlist Items</key><array>";
        for (int i = p; i <= 400; i += 37) xml += "<dict><key>Track ID</key><integer>" + std::to_string(i) + "</integer></dict>";
        xml += "</array></dict>\n";
    }
    return xml + "\t</array>\n\t<key>Show Content Ratings</key><true/>\n</dict>\n</plist>\n";
}

}  // namespace

// A file read by two threads gives what one thread reading it gives: the same values, the same
// lines logged and the same errors, whether the second thread's half is taken or the first
// thread has to read on alone (a value left out or a track without an ID after the middle, a
// middle that falls inside a string, line ends rewritten, playlists before the tracks).
TEST(ReaderTwoThreads, ReadWhatOneThreadReads) {
    const auto none = [](int) { return std::string(); };
    // A string that looks like the end of a track every kilobyte, over the middle of the file.
    std::string cdata = "<key>Comments</key><string><![CDATA[";
    for (int i = 0; i < 40; ++i) cdata += "</dict>\n<key>1</key>" + std::string(1000, 'y');
    cdata += "]]></string>\n";
    struct Case {
        const char* what;
        std::string xml;
        bool twoThreads;
    } cases[] = {
        {"plain", splitLibrary(none), true},
        {"keys repeated across the middle, settings on both sides",
         splitLibrary([](int i) { return i == 390 ? "</dict><key>3</key><dict><key>Name</key><string>again</string>"
                                                    "<key>Late Key</key><string>z</string>\n" : ""; },
                      "\t<key>Music Folder</key><string>file:///after/</string>\n\t<key>Application Version</key><string>9</string>\n"),
         true},
        {"a value left out after the middle", splitLibrary([](int i) { return i == 350 ? "<key>Year</key><integer>x</integer>\n" : ""; }), false},
        {"a track without an ID after the middle",
         splitLibrary([](int i) { return i == 350 ? "</dict><key>none</key><dict><key>Name</key><string>n</string>\n" : ""; }), false},
        {"a second Tracks", splitLibrary(none, "\t<key>Tracks</key><dict><key>7</key><dict><key>Name</key><string>s</string></dict></dict>\n"), false},
        {"the middle inside a string", splitLibrary([&](int i) { return i == 200 ? cdata : ""; }), false},
        {"playlists first", "<plist><dict><key>Playlists</key><array><dict><key>Name</key><string>early</string></dict></array>" +
                                splitLibrary(none).substr(splitLibrary(none).find("<key>Music Folder")), false},
        {"line ends rewritten", [] {
             std::string xml = splitLibrary([](int) { return std::string(); });
             for (std::size_t at = xml.find('\n'); at != std::string::npos; at = xml.find('\n', at + 2)) xml.insert(at, "\r");
             return xml;
         }(), false},
        {"cut short after the middle", splitLibrary(none).substr(0, splitLibrary(none).size() - 300), false},
    };
    const kestrane::test::TempFolder folder("kestrane-two-threads-");
    for (const Case& c : cases) {
        const fs::path file = folder.path() / "Library.xml";
        kestrane::test::writeFile(file, c.xml);
        std::string dumps[2], errors[2];
        std::vector<std::string> logs[2];
        const std::size_t before = ml::loadsReadInTwo();
        for (int twoThreads : {0, 1}) {
            logs[twoThreads] = loggedBy([&] {
                const auto loaded = ml::loadSnapshot(file, {}, twoThreads ? 0 : INT64_MAX);
                if (loaded) dumps[twoThreads] = dump(*loaded->get());
                else errors[twoThreads] = loaded.error().message;
            });
        }
        EXPECT_EQ(ml::loadsReadInTwo() - before, c.twoThreads ? 1u : 0u) << c.what;
        EXPECT_EQ(dumps[1], dumps[0]) << c.what;
        EXPECT_EQ(errors[1], errors[0]) << c.what;
        EXPECT_EQ(logs[1], logs[0]) << c.what;
    }
}
