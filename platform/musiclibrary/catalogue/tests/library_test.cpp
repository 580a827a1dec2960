// The property-list reader and the catalogue built from it, on small library files written
// here, and a reload racing readers.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "library.h"
#include "open_library.h"
#include "plist_events.h"
#include "plist_reader.h"
#include "snapshot.h"
#include "test_files.h"
#include "utf.h"

namespace fs = std::filesystem;
namespace ml = kestrane::musiclibrary;

namespace {

using kestrane::musiclibrary::test::events;

const char* kTrackFull = R"(
    <key>7</key><dict>
      <key>Track ID</key><integer>7</integer>
      <key>Name</key><string>Lied &amp; Tanz &#x1F3B5;</string>
      <key>Sort Name</key><string>Lied</string>
      <key>Artist</key><string>Ärzte</string>
      <key>Sort Artist</key><string>Aerzte</string>
      <key>Album Artist</key><string>Various</string>
      <key>Sort Album Artist</key><string>Various Sort</string>
      <key>Album</key><string>Best Of</string>
      <key>Sort Album</key><string>Best</string>
      <key>Composer</key><string>Bach</string>
      <key>Sort Composer</key><string>Bach, J.S.</string>
      <key>Genre</key><string>Pop</string>
      <key>Kind</key><string>MPEG audio file</string>
      <key>Size</key><integer>5000000000</integer>
      <key>Total Time</key><integer>234567</integer>
      <key>Start Time</key><integer>1000</integer>
      <key>Stop Time</key><integer>200000</integer>
      <key>Disc Number</key><integer>2</integer>
      <key>Disc Count</key><integer>3</integer>
      <key>Track Number</key><integer>5</integer>
      <key>Track Count</key><integer>12</integer>
      <key>Year</key><integer>1999</integer>
      <key>BPM</key><integer>128</integer>
      <key>Date Modified</key><date>2020-02-29T12:34:56Z</date>
      <key>Date Added</key><date>1969-12-31T23:59:59Z</date>
      <key>Bit Rate</key><integer>320</integer>
      <key>Sample Rate</key><integer>44100</integer>
      <key>Volume Adjustment</key><integer>-20</integer>
      <key>Normalization</key><integer>1234</integer>
      <key>Play Count</key><integer>42</integer>
      <key>Play Date UTC</key><date>2021-01-01T00:00:00Z</date>
      <key>Skip Count</key><integer>3</integer>
      <key>Skip Date</key><date>2021-06-01T00:00:00Z</date>
      <key>Release Date</key><date>1999-05-01T07:00:00Z</date>
      <key>Rating</key><integer>80</integer>
      <key>Rating Computed</key><true/>
      <key>Album Rating</key><integer>60</integer>
      <key>Album Rating Computed</key><true/>
      <key>Compilation</key><true/>
      <key>Part Of Gapless Album</key><true/>
      <key>Artwork Count</key><integer>1</integer>
      <key>Persistent ID</key><string>FFFFFFFFFFFFFFFF</string>
      <key>Track Type</key><string>File</string>
      <key>Location</key><string>file:///music/Lied%20%26%20Tanz.mp3</string>
      <key>Comments</key><string>nice</string>
      <key>Grouping</key><string>G</string>
      <key>Category</key><string>Cat</string>
      <key>Description</key><string>Desc</string>
      <key>Content Rating</key><string>us-tv|TV-PG|400|</string>
      <key>Purchased</key><true/>
      <key>Protected</key><true/>
      <key>Explicit</key><true/>
      <key>Disabled</key><true/>
      <key>Matched</key><true/>
      <key>Unplayed</key><true/>
      <key>Custom Ratio</key><real>1.5</real>
      <key>Blob</key><data>AAEC/w==</data>
      <key>Nested</key><array><string>x</string></array>
    </dict>)";

std::string library(const std::string& tracks, const std::string& playlists = "") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\"><dict>\n"
           "<key>Application Version</key><string>12.9</string>\n<key>Show Content Ratings</key><true/>\n"
           "<key>Music Folder</key><string>file:///music/</string>\n<key>Tracks</key><dict>" +
           tracks + "</dict>\n<key>Playlists</key><array>" + playlists + "</array></dict></plist>\n";
}

// A parsed library held for a test.
struct Parsed {
    ml::SnapshotRef ref;
    const ml::Snapshot* s = nullptr;
    explicit Parsed(const std::string& doc) {
        auto parsed = ml::parseSnapshot(doc);
        EXPECT_TRUE(parsed) << parsed.error().message;
        if (parsed) ref = std::move(parsed).value();
        s = ref.get();
    }
    ml::MediaItem* item(std::size_t i) const { return static_cast<ml::MediaItem*>(s->allItems.at(i)); }
};

// The message of a failed parse, or "" when it parsed.
std::string parseError(const std::string& doc) {
    const auto parsed = ml::parseSnapshot(doc);
    return parsed ? "" : parsed.error().message;
}

// The library opened for version, or null with its error in `error`.
ml::Library* openLibrary(const std::string& version, std::string& error) {
    auto opened = kestrane::test::openLibraryFile(version);
    if (!opened) {
        error = opened.error().message;
        return nullptr;
    }
    return *opened;
}

// The catalogue's UTF-8 text as UTF-16, for comparing with the Java side's view of it.
std::u16string text(ml::Text t) { return t ? kestrane::text::utf16FromUtf8(*t) : u"<none>"; }
std::u16string text(const std::optional<std::string>& s) { return s ? kestrane::text::utf16FromUtf8(*s) : u"<none>"; }

}  // namespace

TEST(Scanner, EventsEntitiesCdataAndComments) {
    EXPECT_EQ(events("<plist><dict><key>a&lt;b</key><string>x<![CDATA[<&>]]>y &#65;&#x42;</string>"
                     "<!-- note --><key>n</key><integer> 42 </integer><key>t</key><true/>"
                     "<key>e</key><array/></dict></plist>"),
              "{k:a<b;0:x<&>y AB;k:n;1: 42 ;k:t;5:true;k:e;[]}");
}

TEST(Scanner, ChunkBoundariesDoNotChangeTheResult) {
    const std::string doc = library(kTrackFull);
    const std::string whole = events(doc);
    ASSERT_EQ(whole.rfind("ERROR", 0), std::string::npos) << whole;
    for (std::size_t chunk : {1, 2, 3, 7, 64}) EXPECT_EQ(events(doc, chunk), whole) << "chunk " << chunk;
}

TEST(Scanner, ErrorsNameLineColumnAndReason) {
    EXPECT_EQ(events(""), "ERROR line 1, column 1: the document is empty");
    EXPECT_EQ(events("<plist>\n<dict>\n<key>a</key>\n<bogus/>\n</dict></plist>"),
              "ERROR line 4, column 9: unknown element <bogus>");
    EXPECT_EQ(events("<plist><dict><key>a</key></dict></plist>"), "ERROR line 1, column 33: a key without a value in <dict>");
    EXPECT_EQ(events("<plist><dict><string>a</string></dict></plist>"),
              "ERROR line 1, column 22: expected <key> in <dict>, found <string>");
    EXPECT_EQ(events("<plist><string>a &bogus; b</string></plist>").rfind("ERROR line 1, column 25: unknown entity &bogus;", 0), 0u);
    EXPECT_EQ(events("<plist><array><string>open"), "ERROR line 1, column 27: unexpected end of the document in <string>");
    EXPECT_EQ(events("<!DOCTYPE plist [<!ENTITY x \"y\">]><plist/>").find("internal subset") != std::string::npos, true);
    std::string deep = "<plist>";
    for (int i = 0; i < 2000; ++i) deep += "<array>";
    EXPECT_NE(events(deep).find("nesting too deep"), std::string::npos);
}

TEST(Catalogue, EveryPropertyOfAFullyPopulatedTrack) {
    Parsed lib(library(kTrackFull));
    ASSERT_EQ(lib.s->allItems.size(), 1u);
    const ml::MediaItem& t = *lib.item(0);
    EXPECT_EQ(text(t.title()), u"Lied & Tanz \U0001F3B5");
    EXPECT_EQ(text(t.sortTitle()), u"Lied");
    EXPECT_EQ(text(t.composer()), u"Bach");
    EXPECT_EQ(text(t.sortComposer()), u"Bach, J.S.");
    EXPECT_EQ(text(t.genre()), u"Pop");
    EXPECT_EQ(text(t.kind()), u"MPEG audio file");
    EXPECT_EQ(text(t.category()), u"Cat");
    EXPECT_EQ(text(t.description()), u"Desc");
    EXPECT_EQ(text(t.contentRating()), u"us-tv|TV-PG|400|");
    EXPECT_EQ(text(t.comments()), u"nice");
    EXPECT_EQ(text(t.grouping()), u"G");
    EXPECT_EQ(text(t.location()), u"file:///music/Lied%20%26%20Tanz.mp3");
    EXPECT_EQ(t.fileSize(), 5000000000);
    EXPECT_EQ(t.totalTime(), 234567);
    EXPECT_EQ(t.startTime(), 1000);
    EXPECT_EQ(t.stopTime(), 200000);
    EXPECT_EQ(t.trackNumber(), 5);
    EXPECT_EQ(t.year(), 1999);
    EXPECT_EQ(t.beatsPerMinute(), 128);
    EXPECT_EQ(t.bitrate(), 320);
    EXPECT_EQ(t.sampleRate(), 44100);
    EXPECT_EQ(t.volumeAdjustment(), -20);
    EXPECT_EQ(t.volumeNormalizationEnergy(), 1234);
    EXPECT_EQ(t.playCount(), 42);
    EXPECT_EQ(t.skipCount(), 3);
    EXPECT_EQ(t.rating(), 80);
    EXPECT_TRUE(t.isRatingComputed());
    EXPECT_TRUE(t.hasArtworkAvailable());
    EXPECT_TRUE(t.isPurchased());
    EXPECT_TRUE(t.isDRMProtected());
    EXPECT_FALSE(t.isVideo());
    EXPECT_TRUE(t.isUserDisabled());
    EXPECT_TRUE(t.isCloud());
    EXPECT_EQ(t.mediaKind(), ml::codes::song);
    EXPECT_EQ(t.lyricsContentRating(), ml::codes::explicitLyrics);
    EXPECT_EQ(t.locationType(), ml::codes::file);
    EXPECT_EQ(t.playStatus(), ml::codes::unplayed);
    EXPECT_EQ(t.persistentId(), 0xFFFFFFFFFFFFFFFFull);
    EXPECT_EQ(*t.addedDate(), -1.0);  // before 1970
    EXPECT_EQ(*t.modifiedDate(), 1582979696.0);
    EXPECT_EQ(*t.lastPlayedDate(), 1609459200.0);
    EXPECT_EQ(*t.skipDate(), 1622505600.0);
    EXPECT_EQ(*t.releaseDate(), 925542000.0);
    ASSERT_NE(t.artist(), nullptr);
    EXPECT_EQ(text(t.artist()->name()), u"Ärzte");
    EXPECT_EQ(text(t.artist()->sortName()), u"Aerzte");
    ASSERT_NE(t.album(), nullptr);
    const ml::Album& a = *t.album();
    EXPECT_EQ(text(a.title()), u"Best Of");
    EXPECT_EQ(text(a.sortTitle()), u"Best");
    EXPECT_EQ(text(a.albumArtist()), u"Various");
    EXPECT_EQ(text(a.sortAlbumArtist()), u"Various Sort");
    EXPECT_EQ(a.trackCount(), 12);
    EXPECT_EQ(a.rating(), 60);
    EXPECT_TRUE(a.isRatingComputed());
    EXPECT_TRUE(a.isGapless());
    EXPECT_EQ(a.discNumber(), 2);
    EXPECT_EQ(a.discCount(), 3);
    EXPECT_TRUE(a.isCompilation());
    EXPECT_EQ(t.artwork(), nullptr);
    // Values by key, with their documented text forms.
    EXPECT_EQ(text(t.valueForProperty("Name")), u"Lied & Tanz \U0001F3B5");
    EXPECT_EQ(text(t.valueForProperty("BPM")), u"128");
    EXPECT_EQ(text(t.valueForProperty("Date Added")), u"1969-12-31 23:59:59 +0000");
    EXPECT_EQ(text(t.valueForProperty("Compilation")), u"1");
    EXPECT_EQ(text(t.valueForProperty("Custom Ratio")), u"1.5");
    EXPECT_EQ(text(t.valueForProperty("Blob")), u"<000102ff>");
    EXPECT_EQ(text(t.valueForProperty("Nested")), u"(array)");
    EXPECT_FALSE(t.valueForProperty("No Such Key").has_value());
}

TEST(Catalogue, TitlesIdsKindsAndSharedObjects) {
    const std::string tracks =
        "<key>1</key><dict><key>Track ID</key><integer>1</integer><key>Artist</key><string>A</string>"
        "<key>Album</key><string>X</string><key>Persistent ID</key><string>8000000000000000</string>"
        "<key>Podcast</key><true/></dict>"
        "<key>2</key><dict><key>Track ID</key><integer>2</integer><key>Name</key><string></string>"
        "<key>Artist</key><string>A</string><key>Album</key><string>X</string>"
        "<key>Persistent ID</key><string>8000000000000000</string><key>Has Video</key><true/>"
        "<key>Track Type</key><string>Remote</string><key>Clean</key><true/></dict>"
        "<key>3</key><dict><key>Track ID</key><integer>3</integer><key>Artist</key><string>B</string>"
        "<key>Album</key><string>X</string><key>Persistent ID</key><string>not hex</string>"
        "<key>Kind</key><string>PDF document</string><key>Bookmark</key><integer>10</integer></dict>";
    const std::string playlists =
        "<dict><key>Name</key><string>Mix</string><key>Playlist Persistent ID</key><string>00000000000000AA</string>"
        "<key>Parent Persistent ID</key><string>00000000000000BB</string><key>Playlist Items</key><array>"
        "<dict><key>Track ID</key><integer>3</integer></dict><dict><key>Track ID</key><integer>99</integer></dict>"
        "<dict><key>Track ID</key><integer>1</integer></dict></array></dict>"
        "<dict><key>Name</key><string>Folder</string><key>Folder</key><true/><key>Visible</key><false/></dict>";
    Parsed lib(library(tracks, playlists));
    Parsed again(library(tracks, playlists));
    EXPECT_EQ(text(lib.item(0)->title()), u"<none>");  // missing
    EXPECT_EQ(text(lib.item(1)->title()), u"");        // empty
    EXPECT_EQ(lib.item(0)->persistentId(), 0x8000000000000000ull);
    EXPECT_EQ(lib.item(1)->persistentId(), 0x8000000000000000ull);
    EXPECT_EQ(lib.item(2)->persistentId(), 0u);
    EXPECT_EQ(lib.item(0)->mediaKind(), ml::codes::podcast);
    EXPECT_EQ(lib.item(1)->mediaKind(), ml::codes::homeVideo);
    EXPECT_EQ(lib.item(2)->mediaKind(), ml::codes::pdfBooklet);
    EXPECT_EQ(lib.item(1)->locationType(), ml::codes::remote);
    EXPECT_TRUE(lib.item(1)->isCloud());
    EXPECT_EQ(lib.item(1)->lyricsContentRating(), ml::codes::clean);
    EXPECT_EQ(lib.item(2)->playStatus(), ml::codes::partiallyPlayed);
    EXPECT_EQ(lib.item(0)->artist(), lib.item(1)->artist());  // one artist per name
    EXPECT_NE(lib.item(0)->artist(), lib.item(2)->artist());
    EXPECT_EQ(lib.item(0)->album(), lib.item(1)->album());  // same title and artist
    EXPECT_NE(lib.item(0)->album(), lib.item(2)->album());  // another artist: another album
    // Stable IDs: the same names give the same IDs on every load.
    EXPECT_EQ(lib.item(0)->album()->persistentId(), again.item(0)->album()->persistentId());
    EXPECT_EQ(lib.item(2)->artist()->persistentId(), again.item(2)->artist()->persistentId());
    EXPECT_NE(lib.item(0)->artist()->persistentId(), lib.item(2)->artist()->persistentId());

    const ml::Array* pls = &lib.s->allPlaylists;
    ASSERT_EQ(pls->size(), 2u);
    auto* mix = static_cast<ml::Playlist*>(pls->at(0));
    ASSERT_NE(mix->items(), nullptr);
    ASSERT_EQ(mix->items()->size(), 2u);  // the unknown track is left out
    EXPECT_EQ(mix->items()->at(0), lib.item(2));
    EXPECT_EQ(mix->items()->at(1), lib.item(0));
    EXPECT_EQ(mix->persistentId(), 0xAAu);
    EXPECT_EQ(*mix->parentId(), 0xBBu);
    auto* folder = static_cast<ml::Playlist*>(pls->at(1));
    EXPECT_EQ(folder->items(), nullptr);
    EXPECT_FALSE(folder->isVisible());
    EXPECT_EQ(folder->kind(), ml::codes::folder);
}

TEST(Catalogue, StructuralErrorsFailWithTheirPositionAndWhere) {
    std::string error = parseError(library("<key>1</key><dict><key>Year</key><integer>1</integer><key>Name</key>"
                                           "<string>x</dict>"));
    EXPECT_NE(error.find("line 7, column"), std::string::npos) << error;
    EXPECT_NE(error.find("(in track 1, at key \"Name\")"), std::string::npos) << error;
    error = parseError("<plist><array/></plist>");
    EXPECT_NE(error.find("does not hold a dictionary"), std::string::npos) << error;
    EXPECT_TRUE(ml::parseSnapshot("<plist><array/></plist>").error().is(ml::LibraryError::notALibrary));
}

TEST(Catalogue, KnownKeysAreFoundWhereverATrackKeepsThem) {
    // The last value of a repeated key counts, as in plistlib; a key beyond the noted
    // positions is still found, and unknown keys are read by name.
    std::string many;
    for (int i = 0; i < 300; ++i) many += "<key>Extra " + std::to_string(i) + "</key><integer>" + std::to_string(i) + "</integer>";
    Parsed lib(library("<key>1</key><dict><key>Year</key><integer>1999</integer><key>Year</key><integer>2001</integer>" +
                       many + "<key>Genre</key><string>far</string><key>BPM</key><integer>90</integer></dict>"
                       "<key>2</key><dict><key>Genre</key><string>near</string></dict>"));
    EXPECT_EQ(lib.item(0)->year(), 2001);
    EXPECT_EQ(text(lib.item(0)->genre()), u"far");
    EXPECT_EQ(lib.item(0)->beatsPerMinute(), 90);
    EXPECT_EQ(text(lib.item(0)->valueForProperty("Extra 299")), u"299");
    EXPECT_EQ(text(lib.item(0)->valueForProperty("Year")), u"2001");
    EXPECT_EQ(text(lib.item(1)->genre()), u"near");
    EXPECT_EQ(lib.item(1)->beatsPerMinute(), 0);
    EXPECT_FALSE(lib.item(1)->valueForProperty("Extra 0").has_value());
}

TEST(Catalogue, PersistentIdIndexFindsTheFirstItemInListOrder) {
    Parsed lib(library("<key>1</key><dict><key>Persistent ID</key><string>00000000000000A1</string></dict>"
                       "<key>2</key><dict><key>Name</key><string>no id</string></dict>"
                       "<key>3</key><dict><key>Persistent ID</key><string>8000000000000000</string></dict>"
                       "<key>4</key><dict><key>Persistent ID</key><string>00000000000000a1</string></dict>"));
    EXPECT_EQ(lib.s->firstItemWithPersistentId({0xA1}), lib.item(0));  // shared: the first
    EXPECT_EQ(lib.s->firstItemWithPersistentId({0xA2}), nullptr);
    // Of several IDs, the one that comes first in the list wins, whatever the order asked.
    EXPECT_EQ(lib.s->firstItemWithPersistentId({0x8000000000000000ull, 0}), lib.item(1));
    EXPECT_EQ(lib.s->firstItemWithPersistentId({0x8000000000000000ull}), lib.item(2));
    Parsed empty(library(""));
    EXPECT_EQ(empty.s->firstItemWithPersistentId({0}), nullptr);
}

class LibraryFiles : public ::testing::Test {
protected:
    kestrane::test::TempFolder folder{"library"};
    fs::path dir = folder.path();
    fs::path file;
    void SetUp() override {
        file = dir / "Library.xml";
        setenv("KESTRANE_MUSIC_LIBRARY", file.c_str(), 1);
    }
    void write(const std::string& text) { std::ofstream(file) << text; }
};

TEST_F(LibraryFiles, OpenFailuresNameTheFileAndTheReason) {
    std::string error;
    EXPECT_EQ(openLibrary("2.0", error), nullptr);
    EXPECT_NE(error.find("1.0 and 1.1"), std::string::npos);
    EXPECT_TRUE(kestrane::test::openLibraryFile("2.0").error().is(ml::LibraryError::unsupportedVersion));
    EXPECT_EQ(openLibrary("1.1", error), nullptr);  // missing
    EXPECT_NE(error.find(file.string()), std::string::npos);
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
    EXPECT_TRUE(kestrane::test::openLibraryFile("1.1").error().is(ml::LibraryError::unreadable));
    write("");
    EXPECT_EQ(openLibrary("1.1", error), nullptr);
    EXPECT_NE(error.find("the document is empty"), std::string::npos) << error;
    write("<plist><dict>\n<key>Tracks</key><dict><key>1</key><dict></plist>");
    EXPECT_EQ(openLibrary("1.0", error), nullptr);
    EXPECT_NE(error.find(file.string()), std::string::npos);
    EXPECT_NE(error.find("line 2, column"), std::string::npos) << error;
}

TEST_F(LibraryFiles, AnEmptyListReloadsOnceAndTheIndexFollowsTheReload) {
    write(library(""));
    std::string error;
    ml::Library* lib = openLibrary("1.1", error);
    ASSERT_NE(lib, nullptr) << error;
    write(library("<key>1</key><dict><key>Persistent ID</key><string>00000000000000B2</string></dict>"));
    EXPECT_EQ(lib->allMediaItems()->size(), 0u);  // no reload without the rule
    EXPECT_EQ(lib->allMediaItemsReloadingIfEmpty()->size(), 1u);
    write(library(""));
    EXPECT_EQ(lib->allMediaItemsReloadingIfEmpty()->size(), 1u);  // not empty: no reload
    ml::MediaItem* found = lib->mediaItemWithPersistentId({0xB2});
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->persistentId(), 0xB2u);
    EXPECT_EQ(lib->mediaItemWithPersistentId({0xB3}), nullptr);
    // Reloaded once more, still empty: the empty list comes back.
    EXPECT_TRUE(lib->reloadData());
    EXPECT_EQ(lib->allPlaylistsReloadingIfEmpty()->size(), 0u);
    EXPECT_EQ(lib->mediaItemWithPersistentId({0xB2}), nullptr);
}

TEST_F(LibraryFiles, ReloadKeepsHeldListsAliveAndUnloadLoadsAgain) {
    write(library("<key>1</key><dict><key>Name</key><string>old</string></dict>"));
    std::string error;
    ml::Library* lib = openLibrary("1.1", error);
    ASSERT_NE(lib, nullptr) << error;
    EXPECT_EQ(lib->apiMinorVersion(), 1);
    EXPECT_EQ(text(lib->applicationVersion()), u"12.9");
    EXPECT_EQ(text(lib->musicFolderLocation()), u"file:///music/");
    EXPECT_TRUE(lib->shouldShowContentRating());
    ml::Array* old = lib->allMediaItems();
    old->retain();  // as a Java peer does
    write(library("<key>1</key><dict><key>Name</key><string>new</string></dict><key>2</key><dict/>"));
    EXPECT_TRUE(lib->reloadData());
    ml::Array* fresh = lib->allMediaItems();
    EXPECT_EQ(fresh->size(), 2u);
    // The old list and its items are still whole.
    ASSERT_EQ(old->size(), 1u);
    EXPECT_EQ(text(static_cast<ml::MediaItem*>(old->at(0))->title()), u"old");
    old->release();

    write("broken");
    EXPECT_FALSE(lib->reloadData());  // the loaded lists stay
    EXPECT_EQ(lib->allMediaItems()->size(), 2u);
    write(library(""));
    lib->unloadData();
    EXPECT_EQ(lib->allMediaItems()->size(), 0u);  // loaded again on access
}

TEST_F(LibraryFiles, ReloadWhileOtherThreadsReadNeverBreaksThem) {
    std::string tracks;
    for (int i = 0; i < 300; ++i) {
        tracks += "<key>" + std::to_string(i) + "</key><dict><key>Name</key><string>track " + std::to_string(i) +
                  "</string><key>Artist</key><string>artist " + std::to_string(i % 7) +
                  "</string><key>Album</key><string>album</string><key>Date Added</key><date>2001-01-01T00:00:00Z</date></dict>";
    }
    write(library(tracks));
    std::string error;
    ml::Library* lib = openLibrary("1.1", error);
    ASSERT_NE(lib, nullptr) << error;
    std::atomic<bool> stop{false};
    std::atomic<long> reads{0}, reloads{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&] {
            while (!stop) {
                ml::Array* items = lib->allMediaItems();
                for (std::size_t i = 0; i < items->size(); ++i) {
                    auto* item = static_cast<ml::MediaItem*>(items->at(i));
                    if (item->title()->size() < 6 || item->artist() == nullptr || !item->addedDate()) std::abort();
                    if (item->album()->title()->empty()) std::abort();
                    ++reads;
                }
            }
        });
    }
    std::thread reloader([&] {
        for (int i = 0; i < 200; ++i) {
            if (i % 10 == 9) lib->unloadData();
            else lib->reloadData();
            ++reloads;
        }
        stop = true;
    });
    reloader.join();
    for (auto& r : readers) r.join();
    EXPECT_EQ(reloads.load(), 200);
    EXPECT_GT(reads.load(), 1000);
}

// Inputs the fuzzer once found trouble with (and its seeds): each must parse or fail cleanly.
TEST(Regressions, FuzzInputsParseOrFailCleanly) {
    const fs::path folder = fs::path(KESTRANE_FUZZ_REGRESSIONS);
    int count = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string bytes = kestrane::test::readFile(entry.path());
        kestrane::Expected<ml::SnapshotRef> parsed = kestrane::Error();
        (void)kestrane::test::captureStderr([&] { parsed = ml::parseSnapshot(bytes); });
        // The seeds are libraries in each form the reader takes: they load.
        if (entry.path().filename().string().rfind("seed-", 0) == 0) {
            EXPECT_TRUE(parsed) << entry.path();
        }
        if (parsed) {
            for (ml::Object* item : parsed->get()->allItems.list) {
                (void)static_cast<ml::MediaItem*>(item)->valueForProperty("Name");
            }
        } else {
            EXPECT_TRUE(parsed.error().is(ml::LibraryError::notALibrary)) << entry.path();
            EXPECT_FALSE(parsed.error().message.empty()) << entry.path();
        }
        ++count;
    }
    EXPECT_GT(count, 0);
}
