// Change tracking, playlists and artwork of the catalogue, on small library files written here.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "library.h"
#include "open_library.h"
#include "snapshot.h"
#include "test_files.h"
#include "test_media.h"

namespace fs = std::filesystem;
namespace ml = kestrane::musiclibrary;

namespace {

std::string library(const std::string& tracks, const std::string& playlists = "") {
    return "<plist version=\"1.0\"><dict><key>Tracks</key><dict>" + tracks + "</dict><key>Playlists</key><array>" + playlists +
           "</array></dict></plist>";
}

std::string track(int id, const std::string& persistentId, const std::string& more = "") {
    return "<key>" + std::to_string(id) + "</key><dict><key>Track ID</key><integer>" + std::to_string(id) +
           "</integer><key>Persistent ID</key><string>" + persistentId + "</string>" + more + "</dict>";
}

std::string playlist(const std::string& more, const std::vector<int>& members) {
    std::string items = "<key>Playlist Items</key><array>";
    for (int id : members) items += "<dict><key>Track ID</key><integer>" + std::to_string(id) + "</integer></dict>";
    return "<dict>" + more + items + "</array></dict>";
}

ml::SnapshotRef parse(const std::string& doc) {
    auto parsed = ml::parseSnapshot(doc);
    EXPECT_TRUE(parsed) << parsed.error().message;
    return parsed ? std::move(parsed).value() : ml::SnapshotRef();
}

const ml::Playlist* playlistAt(const ml::SnapshotRef& s, std::size_t i) {
    return ml::objectAs<ml::Playlist>(s->allPlaylists.at(i));
}

}  // namespace

TEST(ChangeTracking, NewestDateAndChangedSinceUseTheirOwnDatesAndNoRounding) {
    // Added 0.25 s and modified 0.5625 s after the epoch; a later play moves only the newest date.
    const ml::SnapshotRef s = parse(library(
        track(1, "0000000000000001",
              "<key>Date Added</key><date>1970-01-01T00:00:00.25Z</date><key>Date Modified</key><date>1970-01-01T00:00:00.5625Z</date>") +
        track(2, "0000000000000002", "<key>Name</key><string>no dates</string>")));
    EXPECT_EQ(*ml::newestChangeDate(s->allItems).value(), 0.5625);
    std::vector<ml::Object*> changed;
    ASSERT_TRUE(ml::collectChangedSince(s->allItems, 562, changed));
    EXPECT_EQ(changed, std::vector<ml::Object*>{s->allItems.at(0)});  // 562.5 > 562
    changed.clear();
    ASSERT_TRUE(ml::collectChangedSince(s->allItems, 563, changed));
    EXPECT_TRUE(changed.empty());
    // The item without an added date counts as changed at 0.
    ASSERT_TRUE(ml::collectChangedSince(s->allItems, -1, changed));
    EXPECT_EQ(changed.size(), 2u);

    const ml::SnapshotRef played = parse(library(track(
        1, "0000000000000001",
        "<key>Date Added</key><date>2001-01-01T00:00:00Z</date><key>Play Date UTC</key><date>2020-01-01T00:00:00Z</date>"
        "<key>Skip Date</key><date>2019-01-01T00:00:00Z</date><key>Release Date</key><date>2030-01-01T00:00:00Z</date>")));
    EXPECT_EQ(*ml::newestChangeDate(played->allItems).value(), 1577836800.0);  // the play, not the release
    changed.clear();
    ASSERT_TRUE(ml::collectChangedSince(played->allItems, 978307200000.0, changed));
    EXPECT_TRUE(changed.empty());  // an absent modified date is earlier than any: added counts

    EXPECT_FALSE(ml::newestChangeDate(parse(library(track(1, "0000000000000009")))->allItems).value().has_value());
    EXPECT_FALSE(ml::newestChangeDate(parse(library(""))->allItems).value().has_value());
}

TEST(ChangeTracking, PlaylistHashFollowsTheRule) {
    const std::string tracks = track(1, "0000000100000002") + track(2, "00000005FFFFFFFF") + track(3, "0000000000000007");
    auto hashOf = [&](const std::string& playlists) {
        const ml::SnapshotRef s = parse(library(tracks, playlists));
        const auto hash = ml::playlistHash(s->allPlaylists);
        EXPECT_TRUE(hash);
        return hash.value();
    };
    // The same item twice: (2 + 0) ^ 1 = 3 and (2 + 1) ^ 1 = 2, so 1.
    EXPECT_EQ(hashOf(playlist("", {1, 1})).hash, 1u);
    // Low half 2^32 - 1 at position 1 wraps to 0: the contribution is the high half, 5.
    EXPECT_EQ(hashOf(playlist("", {3, 2})).hash, ((7u + 0u) ^ 0u) ^ 5u);
    EXPECT_EQ(hashOf(playlist("<key>Visible</key><false/>", {1, 2})).hash, 0u);  // hidden
    EXPECT_EQ(hashOf(playlist("", {}) + playlist("", {})).hash, 0u);             // empty
    EXPECT_EQ(hashOf(playlist("", {1, 2, 3}) + playlist("", {1, 2, 3})).hash, 0u);  // equal ones cancel
    EXPECT_NE(hashOf(playlist("", {1, 2, 3})).hash, hashOf(playlist("", {2, 1, 3})).hash);  // order counts
    EXPECT_EQ(hashOf(playlist("", {1, 2}) + playlist("", {3})).hash, hashOf(playlist("", {3}) + playlist("", {1, 2})).hash);
    // A visible playlist without an item list is counted and passed over; an unknown track too.
    const ml::PlaylistHash withoutList = hashOf("<dict><key>Name</key><string>bare</string></dict>" + playlist("", {1, 1, 99}));
    EXPECT_EQ(withoutList.visibleWithoutItems, 1u);
    EXPECT_EQ(withoutList.hash, 1u);
}

TEST(ChangeTracking, IdListsKeepListOrder) {
    const ml::SnapshotRef s = parse(library(track(1, "00000000000000B1") + track(2, "not hex") + track(3, "00000000000000B3"),
                                            playlist("", {3, 1}) + "<dict><key>Name</key><string>no list</string></dict>"));
    EXPECT_EQ(ml::persistentIds(s->allItems), (std::vector<std::uint64_t>{0xB1, 0, 0xB3}));
    EXPECT_EQ(playlistAt(s, 0)->itemIds(), (std::vector<std::uint64_t>{0xB3, 0xB1}));
    EXPECT_TRUE(playlistAt(s, 1)->itemIds().empty());
}

TEST(Playlists, KindsParentsAndUnknownMembers) {
    const std::string playlists =
        "<dict><key>Name</key><string>Music</string><key>Playlist Persistent ID</key><string>80000000000000A1</string>"
        "<key>Distinguished Kind</key><integer>4</integer><key>Music</key><true/></dict>"
        "<dict><key>Name</key><string>Films</string><key>Movies</key><true/></dict>"
        "<dict><key>Name</key><string>Numbered</string><key>Distinguished Kind</key><integer>10</integer></dict>"
        "<dict><key>Name</key><string>Unheard of</string><key>Distinguished Kind</key><integer>999</integer></dict>"
        "<dict><key>Name</key><string>Folder</string><key>Folder</key><true/>"
        "<key>Parent Persistent ID</key><string>80000000000000A1</string></dict>"
        "<dict><key>Smart Info</key><data>AAE=</data><key>Playlist Items</key><array>"
        "<dict><key>Track ID</key><integer>1</integer></dict><dict><key>Track ID</key><integer>98</integer></dict>"
        "<dict><key>Track ID</key><integer>99</integer></dict></array></dict>"
        "<dict><key>Name</key><string>Genius</string><key>Genius Track ID</key><integer>1</integer></dict>";
    const std::string log = kestrane::test::captureStderr([&] {
        const ml::SnapshotRef s = parse(library(track(1, "0000000000000001"), playlists));
        EXPECT_EQ(playlistAt(s, 0)->distinguishedKind(), ml::codes::music);
        EXPECT_EQ(playlistAt(s, 1)->distinguishedKind(), ml::codes::movies);
        EXPECT_EQ(playlistAt(s, 2)->distinguishedKind(), ml::codes::podcasts);
        EXPECT_EQ(playlistAt(s, 3)->distinguishedKind(), ml::codes::noDistinguishedKind);
        EXPECT_EQ(playlistAt(s, 4)->kind(), ml::codes::folder);
        EXPECT_EQ(playlistAt(s, 4)->parentId(), playlistAt(s, 0)->persistentId());
        EXPECT_FALSE(playlistAt(s, 0)->parentId().has_value());
        EXPECT_EQ(playlistAt(s, 5)->kind(), ml::codes::smart);
        EXPECT_FALSE(playlistAt(s, 5)->name().has_value());
        EXPECT_EQ(playlistAt(s, 5)->items()->size(), 1u);
        EXPECT_EQ(playlistAt(s, 6)->kind(), ml::codes::genius);
        EXPECT_EQ(playlistAt(s, 6)->items(), nullptr);
    });
    // One line for the one playlist with unknown members, counting both.
    EXPECT_EQ(log.find("] Playlist \"\": 2 of its items name tracks that the library does not have; they are left out.\n"),
              log.find("] "));
    EXPECT_EQ(log.find('\n'), log.size() - 1);
}

class CatalogueArtwork : public ::testing::Test {
protected:
    kestrane::test::TempFolder folder{"catalogueart"};
    std::string url(const std::string& name) { return "file://" + (folder.path() / name).string(); }
};

TEST_F(CatalogueArtwork, ReadOnceKeptByTheSnapshotAndNoneWithoutAPicture) {
    ASSERT_TRUE(kestrane::test::encodeTone(folder.path() / "cover.mp3", "lamemp3enc"));
    ASSERT_TRUE(kestrane::test::attachPicture(folder.path() / "cover.mp3", kestrane::test::tinyPng()));
    ASSERT_TRUE(kestrane::test::encodeTone(folder.path() / "plain.mp3", "lamemp3enc"));
    const ml::SnapshotRef s = parse(library(
        track(1, "0000000000000001", "<key>Location</key><string>" + url("cover.mp3") + "</string>") +
        track(2, "0000000000000002", "<key>Location</key><string>" + url("plain.mp3") + "</string>") +
        track(3, "0000000000000003", "<key>Location</key><string>" + url("gone.mp3") + "</string>") +
        track(4, "0000000000000004")));
    const auto* withCover = ml::objectAs<ml::MediaItem>(s->allItems.at(0));

    // Two threads asking at once get the one artwork object.
    std::vector<ml::Artwork*> seen(8, nullptr);
    std::vector<std::thread> askers;
    for (std::size_t t = 0; t < seen.size(); ++t) askers.emplace_back([&, t] { seen[t] = withCover->artwork(); });
    for (auto& a : askers) a.join();
    ASSERT_NE(seen[0], nullptr);
    for (ml::Artwork* a : seen) EXPECT_EQ(a, seen[0]);
    EXPECT_EQ(seen[0]->imageData(), kestrane::test::tinyPng());
    EXPECT_EQ(seen[0]->imageDataFormat(), 5);  // PNG
    for (std::size_t i = 1; i < 4; ++i) EXPECT_EQ(ml::objectAs<ml::MediaItem>(s->allItems.at(i))->artwork(), nullptr) << i;

    // An artwork the Java side holds outlives the snapshot that read it.
    ml::Artwork* held = seen[0];
    held->retain();
    ml::SnapshotRef gone = s.share();
    gone.reset();
    EXPECT_EQ(held->imageData(), kestrane::test::tinyPng());
    held->release();

    ml::Artwork* byFile = ml::Library::artworkForMediaFile(url("cover.mp3"));
    ASSERT_NE(byFile, nullptr);
    EXPECT_NE(byFile, seen[0]);  // a new object, held by this thread's release scope
    EXPECT_EQ(byFile->imageData(), kestrane::test::tinyPng());
    EXPECT_EQ(ml::Library::artworkForMediaFile(url("plain.mp3")), nullptr);
    EXPECT_EQ(ml::Library::artworkForMediaFile("not a url"), nullptr);
}

TEST(LibraryChangeTracking, AnUnreadableReloadIsAnErrorNotAnEmptyLibrary) {
    const kestrane::test::TempFolder folder("changes");
    const fs::path file = folder.path() / "Library.xml";
    setenv("KESTRANE_MUSIC_LIBRARY", file.c_str(), 1);
    std::ofstream(file) << library(track(1, "0000000000000001", "<key>Date Added</key><date>2001-01-01T00:00:00Z</date>"),
                                   playlist("", {1}));
    auto opened = kestrane::test::openLibraryFile("1.1");
    ASSERT_TRUE(opened) << opened.error().message;
    ml::Library* lib = *opened;
    EXPECT_EQ(*lib->lastItemModification().value(), 978307200.0);
    EXPECT_NE(lib->playlistHash().value().hash, 0u);
    EXPECT_EQ(lib->mediaItemIds(), std::vector<std::uint64_t>{1});

    lib->unloadData();
    fs::remove(file);
    const auto newest = lib->lastItemModification();
    ASSERT_FALSE(newest);
    EXPECT_TRUE(newest.error().is(ml::LibraryError::unreadable));  // the load's own error, not a memory failure
    EXPECT_NE(newest.error().message.find(file.string()), std::string::npos) << newest.error().message;
    EXPECT_FALSE(lib->playlistHash());
    EXPECT_TRUE(lib->mediaItemIds().empty());  // these see an empty library
    const auto changed = lib->mediaItemsChangedSince(-1);
    ASSERT_TRUE(changed);
    EXPECT_EQ(changed.value()->size(), 0u);
    EXPECT_EQ(ml::Library::emptyList()->size(), 0u);
}
