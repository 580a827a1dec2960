// The music library of a folder of audio files: generated files of several formats with tags
// written by TagLib, broken files, hidden folders, a link loop and playlist files; rescans
// against the scan cache; a corrupt, an outdated and an interrupted cache.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <thread>

#include "audio_tags.h"
#include "folder_scan.h"
#include "loader.h"
#include "library.h"
#include "library_source.h"
#include "media_item.h"
#include "playlist.h"
#include "scan_cache.h"
#include "sqlite_ptr.h"
#include "test_files.h"
#include "test_media.h"
#include "url.h"

namespace fs = std::filesystem;
namespace ml = kestrane::musiclibrary;
using kestrane::test::captureStderr;

namespace {

// The generated files, made once and copied into each case's folder.
fs::path templates() {
    static const fs::path dir = [] {
        const fs::path d = fs::temp_directory_path() / ("scantemplates-" + std::to_string(getpid()));
        fs::create_directories(d);
        using kestrane::test::encodeTone;
        EXPECT_TRUE(encodeTone(d / "tone.flac", "flacenc"));
        EXPECT_TRUE(encodeTone(d / "tone.mp3", "lamemp3enc"));
        EXPECT_TRUE(encodeTone(d / "tone.ogg", "vorbisenc ! oggmux"));
        EXPECT_TRUE(encodeTone(d / "tone.opus", "opusenc ! oggmux"));
        EXPECT_TRUE(encodeTone(d / "tone.wav", "wavenc"));
        return d;
    }();
    return dir;
}

void copyTemplate(const std::string& kind, const fs::path& to) {
    fs::create_directories(to.parent_path());
    fs::copy_file(templates() / ("tone." + kind), to, fs::copy_options::overwrite_existing);
}

struct Folder {
    kestrane::test::TempFolder temp{"scan"};
    fs::path music = temp.path() / "Music";
    Folder() {
        setenv("XDG_CACHE_HOME", (temp.path() / "cache").c_str(), 1);
        fs::create_directories(music);
    }
};

// A library of the folder's files in list order, by file name.
struct Scanned {
    ml::SnapshotRef ref;
    std::map<std::string, ml::MediaItem*> byName;
    std::string log;

    explicit Scanned(const fs::path& music) {
        log = captureStderr([&] {
            auto scanned = ml::scanFolder(music.string());
            EXPECT_TRUE(scanned) << scanned.error().message;
            if (scanned) ref = std::move(scanned).value();
        });
        if (!ref) return;
        for (std::size_t i = 0; i < ref.get()->allItems.size(); ++i) {
            auto* item = static_cast<ml::MediaItem*>(ref.get()->allItems.at(i));
            const std::string location = item->valueForProperty("Location").value_or("");
            byName[location.substr(location.find_last_of('/') + 1)] = item;
        }
    }
    std::string value(const std::string& name, const char* key) const {
        const auto it = byName.find(name);
        return it == byName.end() ? "<no item>" : it->second->valueForProperty(key).value_or("<none>");
    }
    std::vector<std::string> playlist(std::size_t index) const {
        const ml::Playlist& p = ref.get()->playlists.at(index);
        std::vector<std::string> names{std::string(p.name().value_or(""))};
        if (ml::Array* items = p.items()) {
            for (std::size_t i = 0; i < items->size(); ++i) {
                const std::string loc = static_cast<ml::MediaItem*>(items->at(i))->valueForProperty("Location").value_or("");
                names.push_back(loc.substr(loc.find_last_of('/') + 1));
            }
        }
        return names;
    }
};

void populate(const fs::path& music) {
    copyTemplate("flac", music / "Alpha/one.flac");
    ASSERT_TRUE(kestrane::test::writeTags(music / "Alpha/one.flac",
                                          {{"TITLE", "One"}, {"ARTIST", "Ann"}, {"ALBUMARTIST", "Ann & Co"}, {"ALBUM", "Alpha"},
                                           {"COMPOSER", "Cid"}, {"GENRE", "Folk"}, {"DATE", "1999"}, {"TRACKNUMBER", "1/2"},
                                           {"DISCNUMBER", "1/1"}, {"COMMENT", "first"}, {"BPM", "120"},
                                           {"TITLESORT", "One, The"}, {"ARTISTSORT", "Ann"}, {"ALBUMARTISTSORT", "Ann"},
                                           {"ALBUMSORT", "Alpha"}, {"COMPOSERSORT", "Cid"}}));
    ASSERT_TRUE(kestrane::test::attachPicture(music / "Alpha/one.flac", kestrane::test::tinyPng()));
    copyTemplate("mp3", music / "Alpha/two.mp3");
    ASSERT_TRUE(kestrane::test::writeTags(music / "Alpha/two.mp3", {{"TITLE", "Two"}, {"ALBUM", "Alpha"}, {"ALBUMARTIST", "Ann & Co"}, {"TRACKNUMBER", "2/2"}, {"DISCNUMBER", "1/1"}}));
    ASSERT_TRUE(kestrane::test::writePopularimeter(music / "Alpha/two.mp3", 196, 7));
    copyTemplate("ogg", music / "Beta/deep/three.ogg");
    ASSERT_TRUE(kestrane::test::writeTags(music / "Beta/deep/three.ogg",
                                          {{"TITLE", "Three"}, {"ALBUM", "Beta"}, {"COMPILATION", "1"}, {"FMPS_PLAYCOUNT", "3"}, {"FMPS_RATING", "0.6"}}));
    copyTemplate("opus", music / "Beta/four.opus");
    copyTemplate("wav", music / "untagged tone.wav");
    copyTemplate("flac", music / ".hidden/secret.flac");
    fs::create_directory_symlink(music, music / "Beta/loop");
    {
        std::ifstream in(templates() / "tone.flac", std::ios::binary);
        std::string head(100, '\0');
        in.read(head.data(), 100);
        std::ofstream(music / "truncated.flac", std::ios::binary) << head;
    }
    std::ofstream(music / "text.mp3") << "not audio at all";
    std::ofstream(music / "notes.txt") << "ignored";
    std::ofstream(music / "Lists/list.m3u8") << "#EXTM3U\n../Alpha/one.flac\n" << (music / "Beta/deep/three.ogg").string()
                                             << "\nmissing.flac\n";
    std::ofstream(music / "mix.pls") << "[playlist]\nFile2=Beta/four.opus\nFile1=Alpha/two.mp3\nNumberOfEntries=2\n";
    std::ofstream(music / "fav.xspf") << "<?xml version=\"1.0\"?><playlist version=\"1\" xmlns=\"http://xspf.org/ns/0/\"><trackList>"
                                         "<track><location>file://" + (music / "untagged%20tone.wav").string().substr(0) +
                                             "</location></track></trackList></playlist>";
}

}  // namespace

TEST(FolderScan, EveryKindOfFileBecomesATrackOrIsSkippedWithALine) {
    Folder f;
    fs::create_directories(f.music / "Lists");
    populate(f.music);
    const Scanned s(f.music);
    ASSERT_TRUE(s.ref);
    EXPECT_EQ(s.byName.size(), 5u) << s.log;  // not hidden, not twice through the loop, not broken
    const std::map<std::string, std::string> one = {
        {"Name", "One"}, {"Artist", "Ann"}, {"Album Artist", "Ann & Co"}, {"Album", "Alpha"}, {"Composer", "Cid"},
        {"Genre", "Folk"}, {"Year", "1999"}, {"Track Number", "1"}, {"Track Count", "2"}, {"Disc Number", "1"},
        {"Disc Count", "1"}, {"Comments", "first"}, {"BPM", "120"}, {"Sort Name", "One, The"},
        {"Sort Album", "Alpha"}, {"Sample Rate", "44100"}, {"Kind", "FLAC audio file"}, {"Artwork Count", "1"},
        {"Track Type", "File"}, {"Size", std::to_string(fs::file_size(f.music / "Alpha/one.flac"))},
        {"Location", "file://" + f.music.string() + "/Alpha/one.flac"}};
    for (const auto& [key, value] : one) EXPECT_EQ(s.value("one.flac", key.c_str()), value) << key;
    EXPECT_GT(std::stoll(s.value("one.flac", "Total Time")), 200);
    EXPECT_NE(s.value("one.flac", "Date Added"), "<none>");
    EXPECT_NE(s.value("one.flac", "Date Modified"), "<none>");
    EXPECT_EQ(s.value("two.mp3", "Kind"), "MPEG audio file");
    EXPECT_EQ(s.value("two.mp3", "Play Count"), "7");
    EXPECT_EQ(s.value("two.mp3", "Rating"), "80");
    EXPECT_EQ(s.value("three.ogg", "Play Count"), "3");
    EXPECT_EQ(s.value("three.ogg", "Rating"), "60");
    EXPECT_EQ(s.value("three.ogg", "Compilation"), "1");
    EXPECT_EQ(s.value("four.opus", "Kind"), "Opus audio file");
    EXPECT_EQ(s.value("untagged%20tone.wav", "Name"), "untagged tone");
    EXPECT_EQ(s.value("untagged%20tone.wav", "Kind"), "WAV audio file");
    // Albums and artists are shared as in an exported library.
    EXPECT_EQ(s.byName.at("one.flac")->album(), s.byName.at("two.mp3")->album());
    EXPECT_NE(s.byName.at("one.flac")->album(), s.byName.at("three.ogg")->album());

    // The master playlist first, then the playlist files in the order of their paths.
    ASSERT_EQ(s.ref.get()->playlists.size(), 4u);
    EXPECT_EQ(s.playlist(0).size(), 6u);
    EXPECT_TRUE(s.ref.get()->playlists.front().isMaster());
    EXPECT_EQ(s.playlist(1), (std::vector<std::string>{"list", "one.flac", "three.ogg"}));
    EXPECT_EQ(s.playlist(2), (std::vector<std::string>{"fav", "untagged%20tone.wav"}));
    EXPECT_EQ(s.playlist(3), (std::vector<std::string>{"mix", "two.mp3", "four.opus"}));

    // One line per broken file and one for the playlist's missing entry.
    EXPECT_NE(s.log.find("truncated.flac: skipped: "), std::string::npos) << s.log;
    EXPECT_NE(s.log.find("text.mp3: skipped: "), std::string::npos) << s.log;
    EXPECT_NE(s.log.find("list.m3u8: 1 of 3 entries name no track"), std::string::npos) << s.log;
    EXPECT_EQ(std::count(s.log.begin(), s.log.end(), '\n'), 3) << s.log;
    EXPECT_FALSE(fs::exists(f.music / ".kestrane"));
}

TEST(FolderScan, RescanReadsOnlyWhatChangedAndIdsStay) {
    Folder f;
    fs::create_directories(f.music / "Lists");
    populate(f.music);
    std::map<std::string, std::string> ids;
    {
        const Scanned first(f.music);
        for (const auto& [name, item] : first.byName) ids[name] = item->valueForProperty("Persistent ID").value_or("");
    }
    const std::size_t before = ml::audioFilesOpened;
    const Scanned same(f.music);
    EXPECT_EQ(ml::audioFilesOpened - before, 0u);  // nothing changed: nothing read, the broken files neither
    EXPECT_EQ(same.value("two.mp3", "Persistent ID"), ids["two.mp3"]);

    fs::last_write_time(f.music / "Alpha/two.mp3", fs::last_write_time(f.music / "Alpha/two.mp3") + std::chrono::seconds(5));
    copyTemplate("flac", f.music / "Alpha/five.flac");
    fs::remove(f.music / "Beta/deep/three.ogg");
    const std::size_t opened = ml::audioFilesOpened;
    const Scanned next(f.music);
    EXPECT_EQ(ml::audioFilesOpened - opened, 2u);
    EXPECT_EQ(next.byName.count("three.ogg"), 0u);
    EXPECT_EQ(next.value("one.flac", "Persistent ID"), ids["one.flac"]);
    EXPECT_EQ(next.value("two.mp3", "Persistent ID"), ids["two.mp3"]);
    const std::string fresh = next.value("five.flac", "Persistent ID");
    for (const auto& [name, id] : ids) EXPECT_NE(fresh, id) << name;  // not even the deleted file's

    // Another process finds the same IDs.
    const pid_t child = fork();
    if (child == 0) {
        auto scanned = ml::scanFolder(f.music.string());
        bool same = false;
        if (scanned) {
            for (std::size_t i = 0; i < scanned->get()->allItems.size(); ++i) {
                auto* item = static_cast<ml::MediaItem*>(scanned->get()->allItems.at(i));
                same |= item->valueForProperty("Persistent ID") == fresh;
            }
        }
        _exit(same ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(FolderScan, ACorruptOutdatedOrInterruptedCacheIsNeverAReasonToFail) {
    Folder f;
    copyTemplate("flac", f.music / "a.flac");
    copyTemplate("wav", f.music / "b.wav");
    const std::string id = Scanned(f.music).value("a.flac", "Persistent ID");
    const std::string cache = ml::ScanCache::pathFor(f.music.string());
    ASSERT_TRUE(fs::exists(cache));

    std::ofstream(cache, std::ios::binary | std::ios::trunc) << std::string(4096, 'x');
    for (const char* suffix : {"-wal", "-shm"}) fs::remove(cache + suffix);
    Scanned rebuilt(f.music);
    EXPECT_EQ(rebuilt.byName.size(), 2u);
    EXPECT_NE(rebuilt.log.find("it is made anew"), std::string::npos) << rebuilt.log;
    auto change = [&cache](const char* sql) {
        sqlite3* opened = nullptr;
        const int status = sqlite3_open(cache.c_str(), &opened);
        const ml::DatabasePtr db(opened);
        ASSERT_EQ(status, SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db.get(), sql, nullptr, nullptr, nullptr), SQLITE_OK);
    };
    change("PRAGMA user_version=7");
    Scanned outdated(f.music);
    EXPECT_EQ(outdated.byName.size(), 2u);
    EXPECT_NE(outdated.log.find("is of another version (7)"), std::string::npos) << outdated.log;

    // A scan killed halfway leaves the last complete scan for the next one.
    const std::string kept = Scanned(f.music).value("a.flac", "Persistent ID");
    for (int i = 0; i < 150; ++i) copyTemplate("wav", f.music / ("many/" + std::to_string(i) + ".wav"));
    const pid_t child = fork();
    if (child == 0) {
        (void)ml::scanFolder(f.music.string());
        _exit(0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    const Scanned after(f.music);
    EXPECT_EQ(after.value("a.flac", "Persistent ID"), kept);
    EXPECT_EQ(after.byName.size(), 152u);
    (void)id;
}

TEST(FolderScan, MutatedAudioFilesAreSkippedWithoutACrash) {
    Folder f;
    std::mt19937 random(7);
    int made = 0;
    for (const char* kind : {"flac", "mp3", "ogg", "opus", "wav"}) {
        std::ifstream in(templates() / (std::string("tone.") + kind), std::ios::binary);
        const std::string original((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (int n = 0; n < 60; ++n, ++made) {
            std::string bytes = original;
            if (n % 3 == 0) bytes.resize(random() % bytes.size());
            for (int flips = 0; flips < 1 + n % 20; ++flips) {
                if (!bytes.empty()) bytes[random() % std::min<std::size_t>(bytes.size(), 4096)] ^= static_cast<char>(1 + random() % 255);
            }
            std::ofstream(f.music / (std::to_string(n) + "." + kind), std::ios::binary) << bytes;
        }
    }
    const Scanned s(f.music);
    const auto skipped = static_cast<std::size_t>(std::count(s.log.begin(), s.log.end(), '\n'));
    EXPECT_EQ(s.byName.size() + skipped, static_cast<std::size_t>(made)) << s.log;
}

namespace {

std::string libraryXml(const std::string& musicFolder, const std::vector<std::string>& locations) {
    std::string xml = "<plist version=\"1.0\"><dict><key>Music Folder</key><string>" + musicFolder + "</string><key>Tracks</key><dict>";
    for (std::size_t i = 0; i < locations.size(); ++i) {
        const std::string id = std::to_string(i + 1);
        xml += "<key>" + id + "</key><dict><key>Track ID</key><integer>" + id + "</integer><key>Location</key><string>" +
               locations[i] + "</string></dict>";
    }
    return xml + "</dict></dict></plist>";
}

}  // namespace

TEST(MovedLibraries, LocationsUnderTheOldMusicFolderPointBesideTheFile) {
    Folder f;
    const fs::path exported = f.temp.path() / "Export";
    copyTemplate("flac", exported / "iTunes Media/Music/a.flac");
    const std::string local = kestrane::url::fileUrlOf((exported / "iTunes Media").string());
    for (const std::string old : {"file://localhost/C:/Users/ann/Music/iTunes/iTunes%20Media/", "file:///Users/ann/Music/iTunes/iTunes%20Media/"}) {
        std::ofstream(exported / "Library.xml") << libraryXml(old, {old + "Music/a.flac", old + "Music/gone.flac", "file://localhost/D:/x.mp3"});
        std::optional<ml::SnapshotRef> ref;
        const std::string log = captureStderr([&] {
            auto loaded = ml::loadLibraryFile((exported / "Library.xml").string());
            ASSERT_TRUE(loaded) << loaded.error().message;
            ref = std::move(loaded).value();
        });
        const ml::Snapshot* s = ref->get();
        auto item = [s](std::size_t i) { return static_cast<ml::MediaItem*>(s->allItems.at(i)); };
        EXPECT_EQ(item(0)->location(), local + "/Music/a.flac");
        EXPECT_EQ(item(1)->location(), local + "/Music/gone.flac");  // rewritten, though missing
        EXPECT_EQ(item(2)->location(), "file://localhost/D:/x.mp3");  // outside the old folder
        EXPECT_EQ(item(0)->valueForProperty("Location"), old + "Music/a.flac");  // the file's own text
        EXPECT_EQ(s->localMusicFolder, local + "/");
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
        EXPECT_NE(log.find("2 locations were rewritten"), std::string::npos) << log;
        EXPECT_NE(log.find("1 of them exist"), std::string::npos) << log;
    }
    // The map overrides the guess; a path side is a path.
    setenv("KESTRANE_LIBRARY_PATH_MAP", ("file://localhost/D:/=" + (f.temp.path() / "D").string() + "\n").c_str(), 1);
    auto loaded = ml::loadLibraryFile((exported / "Library.xml").string());
    unsetenv("KESTRANE_LIBRARY_PATH_MAP");
    ASSERT_TRUE(loaded);
    EXPECT_EQ(static_cast<ml::MediaItem*>(loaded->get()->allItems.at(2))->location(), kestrane::url::fileUrlOf((f.temp.path() / "D").string()) + "/x.mp3");
    EXPECT_EQ(static_cast<ml::MediaItem*>(loaded->get()->allItems.at(0))->location(), "file:///Users/ann/Music/iTunes/iTunes%20Media/Music/a.flac");
    // A library whose music folder exists here is left alone.
    std::ofstream(exported / "Library.xml") << libraryXml(local + "/", {local + "/Music/a.flac"});
    EXPECT_EQ(static_cast<ml::MediaItem*>(ml::loadLibraryFile((exported / "Library.xml").string())->get()->allItems.at(0))->location(),
              local + "/Music/a.flac");
}

TEST(LibrarySource, TheExportedFileOrTheMusicFolderChosenAtEachLoad) {
    Folder f;
    unsetenv("KESTRANE_MUSIC_LIBRARY");
    setenv("HOME", f.temp.path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (f.temp.path() / "config").c_str(), 1);
    fs::create_directories(f.temp.path() / "config");
    std::ofstream(f.temp.path() / "config/user-dirs.dirs") << "XDG_MUSIC_DIR=\"$HOME/Tunes\"\n";
    auto missing = ml::openUserLibrary("1.1");
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.error().message.find((f.temp.path() / "Tunes").string()), std::string::npos) << missing.error().message;

    copyTemplate("wav", f.temp.path() / "Tunes/a.wav");
    auto opened = ml::openUserLibrary("1.1");
    ASSERT_TRUE(opened) << opened.error().message;
    ml::Library* library = *opened;
    EXPECT_EQ(library->allMediaItems()->size(), 1u);
    // The user exports a library: the next load reads it; deleting it goes back to the scan.
    const fs::path exportFile = f.temp.path() / "Tunes/iTunes/iTunes Music Library.xml";
    fs::create_directories(exportFile.parent_path());
    std::ofstream(exportFile) << libraryXml(kestrane::url::fileUrlOf((f.temp.path() / "Tunes").string()) + "/", {"file:///x/1.mp3", "file:///x/2.mp3"});
    ASSERT_TRUE(library->reloadData());
    EXPECT_EQ(library->allMediaItems()->size(), 2u);
    fs::remove(exportFile);
    ASSERT_TRUE(library->reloadData());
    EXPECT_EQ(library->allMediaItems()->size(), 1u);
    // KESTRANE_MUSIC_LIBRARY naming a folder scans it.
    copyTemplate("flac", f.temp.path() / "Other/b.flac");
    copyTemplate("flac", f.temp.path() / "Other/c.flac");
    setenv("KESTRANE_MUSIC_LIBRARY", (f.temp.path() / "Other").c_str(), 1);
    ASSERT_TRUE(library->reloadData());
    EXPECT_EQ(library->allMediaItems()->size(), 2u);
    unsetenv("KESTRANE_MUSIC_LIBRARY");
}

// Inputs the audio-tag fuzzer has found or started from (the first byte picks the kind, as
// the fuzzer does) give values or a reason, never a crash.
TEST(FolderScan, AudioFuzzRegressionInputsReadOrAreSkipped) {
    static const char* kExtensions[] = {"mp3", "flac", "ogg", "opus", "m4a", "wav", "aiff", "wv", "ape", "mpc", "wma"};
    kestrane::test::TempFolder temp{"audioregressions"};
    int read = 0;
    for (const auto& entry : fs::directory_iterator(KESTRANE_AUDIO_FUZZ_REGRESSIONS)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (bytes.empty()) continue;
        const fs::path file = temp.path() / (std::string("input.") + kExtensions[static_cast<unsigned char>(bytes[0]) % 11]);
        std::ofstream(file, std::ios::binary) << bytes.substr(1);
        read += ml::readAudioFile(file.string()).hasValue();
    }
    EXPECT_GE(read, 3);
}
