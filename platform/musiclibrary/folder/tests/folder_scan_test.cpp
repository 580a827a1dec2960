// The music library of a folder of audio files: generated files of several formats with tags
// written by TagLib, broken files, hidden folders, a link loop and playlist files; rescans
// against the scan cache; a corrupt, an outdated and an interrupted cache.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "audio_tags.h"
#include "folder_scan.h"
#include "limited_child.h"
#include "loader.h"
#include "library.h"
#include "library_source.h"
#include "location_map.h"
#include "holders.h"
#include "media_item.h"
#include "playlist.h"
#include "scan_cache.h"
#include "sqlite_ptr.h"
#include "test_files.h"
#include "test_media.h"
#include "url.h"
#include "values.h"

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
        EXPECT_TRUE(encodeTone(d / "tone.wv", "wavpackenc"));
        // Three seconds, as the demo's sample folder has them: a Vorbis stream whose last page
        // starts about 1 kB before the end, and an MP3 at a variable bit rate without a Xing
        // header (as lamemp3enc writes it).
        const std::string threeSeconds = "audiotestsrc wave=ticks num-buffers=130 samplesperbuffer=1024 ! audio/x-raw,rate=44100,channels=1";
        EXPECT_TRUE(encodeTone(d / "tone.3s.ogg", "vorbisenc ! oggmux", threeSeconds));
        EXPECT_TRUE(encodeTone(d / "tone.3s.mp3", "lamemp3enc target=quality quality=2", threeSeconds));
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
    // A first scan takes size and time from the open that reads the file, not from the walk:
    // still the file's own.
    struct stat st {};
    ASSERT_EQ(stat((f.music / "Alpha/two.mp3").c_str(), &st), 0);
    EXPECT_EQ(s.value("two.mp3", "Date Modified"), ml::formatDate(static_cast<double>(st.st_mtim.tv_sec)));
    EXPECT_EQ(s.value("two.mp3", "Size"), std::to_string(st.st_size));
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

// Lengths are those of the decoded audio; a track without a picture of its own shows its
// folder's cover, and the count, the item's artwork, the file's artwork and the format agree.
TEST(FolderScan, LengthsAreTheDecodedAudiosAndCoversComeFromTheFolder) {
    Folder f;
    const std::string png = kestrane::test::tinyPng(), jpeg = kestrane::test::tinyJpeg();
    const std::string webp = std::string("RIFF\x1a\0\0\0WEBPVP8L", 16) + std::string(14, '\x01');
    for (const char* kind : {"flac", "mp3", "ogg", "opus", "wav", "3s.ogg", "3s.mp3"}) copyTemplate(kind, f.music / "Lengths" / (std::string("t.") + kind));
    struct Case {
        const char* folder;
        std::vector<std::pair<const char*, std::string>> files;  // besides the track
        bool embedded;
        int format;  // of the track's artwork; 0: none
    };
    const Case cases[] = {
        {"Embedded", {{"cover.jpg", jpeg}}, true, 5},                          // the file's own picture first
        {"Ranked", {{"Folder.PNG", png}, {"COVER.jpg", jpeg}, {"front.webp", webp}}, false, 2},
        {"Webp", {{"albumart.webp", webp}}, false, 9},
        {"ByBytes", {{"front.jpeg", png}}, false, 5},                          // the format is the bytes'
        {"Others", {{"back.jpg", jpeg}, {"cover.gif", png}, {"covers.jpg", jpeg}}, false, 0},
        {"Fifo", {}, false, 0},
    };
    for (const Case& c : cases) {
        copyTemplate("flac", f.music / c.folder / "a.flac");
        copyTemplate("mp3", f.music / c.folder / "b.mp3");
        if (c.embedded) {
            ASSERT_TRUE(kestrane::test::attachPicture(f.music / c.folder / "a.flac", png));
        }
        for (const auto& [name, bytes] : c.files) std::ofstream(f.music / c.folder / name, std::ios::binary) << bytes;
    }
    ASSERT_EQ(mkfifo((f.music / "Fifo/cover.jpg").c_str(), 0600), 0);  // never a cover, never waited on
    const Scanned s(f.music);
    // (Tracks of the same name sit in several folders: found by location.)
    const auto item = [&](const char* folder, const char* track) {
        const std::string url = kestrane::url::fileUrlOf((f.music / folder / track).string());
        for (std::size_t i = 0; i < s.ref.get()->allItems.size(); ++i) {
            auto* found = static_cast<ml::MediaItem*>(s.ref.get()->allItems.at(i));
            if (found->valueForProperty("Location") == url) return found;
        }
        return static_cast<ml::MediaItem*>(nullptr);
    };

    for (const char* kind : {"flac", "mp3", "ogg", "opus", "wav", "3s.ogg", "3s.mp3"}) {
        const fs::path file = f.music / "Lengths" / (std::string("t.") + kind);
        const double decoded = kestrane::test::decodedSeconds(file) * 1000;
        const std::string name = std::string("t.") + kind;
        EXPECT_NEAR(std::stod(item("Lengths", name.c_str())->valueForProperty("Total Time").value_or("0")), decoded, std::max(5e-3 * decoded, 20.0)) << name;
    }
    for (const Case& c : cases) {
        for (const char* track : {"a.flac", "b.mp3"}) {
            const std::string url = kestrane::url::fileUrlOf((f.music / c.folder / track).string());
            const ml::MediaItem* found = item(c.folder, track);
            ASSERT_NE(found, nullptr) << url;
            const int format = c.embedded && std::string(track) == "b.mp3" ? 2 : c.format;  // b.mp3 takes the folder's JPEG
            EXPECT_EQ(found->valueForProperty("Artwork Count"), format != 0 ? "1" : "0") << url;
            const ml::Artwork* artwork = found->artwork();
            const ml::Artwork* byFile = ml::Library::artworkForMediaFile(url);
            ASSERT_EQ(artwork != nullptr, format != 0) << url;
            ASSERT_EQ(byFile != nullptr, format != 0) << url;
            if (artwork == nullptr) continue;
            EXPECT_EQ(artwork->imageDataFormat(), format) << url;
            EXPECT_EQ(byFile->imageDataFormat(), format) << url;
            EXPECT_EQ(artwork->imageData(), byFile->imageData()) << url;
        }
    }
    // The folder's cover is read once and shared by its tracks.
    EXPECT_EQ(item("Ranked", "a.flac")->artwork(), item("Ranked", "b.mp3")->artwork());
}

// Hostile files: one swapped for a FIFO after the walk saw a file, 2 GB sparse files of every
// extension (zeros, or a real head then zeros), junk named as every format. Each is answered
// in a child process held to little memory and a few seconds.
TEST(FolderScan, HostileFilesAreSkippedInBoundedTimeAndMemory) {
    kestrane::test::TempFolder temp{"hostile"};
    const fs::path dir = temp.path();
    ASSERT_EQ(mkfifo((dir / "fifo.mp3").c_str(), 0600), 0);
    std::vector<std::pair<fs::path, bool>> cases = {{dir / "fifo.mp3", false}};
    std::mt19937 random(5);
    std::string noise(100000, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    static const char* kExtensions[] = {"mp3", "flac", "ogg", "opus", "m4a", "wav", "aiff", "wv", "ape", "mpc", "wma"};
    for (const char* ext : kExtensions) {
        const fs::path sparse = dir / (std::string("sparse.") + ext);
        std::ofstream(sparse, std::ios::binary).close();
        fs::resize_file(sparse, std::uintmax_t{2} << 30);
        cases.push_back({sparse, false});
        const std::pair<const char*, std::string> junk[] = {{"text", "just some text, not audio\n"}, {"zeros", std::string(65536, '\0')}, {"random", noise}};
        for (const auto& [what, bytes] : junk) {
            const fs::path path = dir / (std::string(what) + "." + ext);
            std::ofstream(path, std::ios::binary) << bytes;
            cases.push_back({path, false});
        }
    }
    for (const char* kind : {"mp3", "flac", "ogg", "wv"}) {
        const fs::path headed = dir / (std::string("headed.") + kind);
        fs::copy_file(templates() / (std::string("tone.") + kind), headed);
        fs::resize_file(headed, std::uintmax_t{2} << 30);
        cases.push_back({headed, true});
    }
    for (const auto& [path, isAudio] : cases) {
        const auto end = kestrane::test::runLimited(
            [&path = path] {
                const auto values = ml::readAudioFile(path.string());
                if (!values) return 2;
                for (const ml::TrackValue& v : *values) {
                    if (v.key == "Total Time" && std::stoll(v.text) > 10 * 60 * 1000) return 3;  // not hours of junk
                }
                return 1;
            },
            256, 20);
        EXPECT_TRUE(end.exited) << path << ": ended by signal " << end.signal;
        EXPECT_EQ(end.status, isAudio ? 1 : 2) << path;
    }
}

namespace {

// Runs body in a child process with a memory limit (not under the sanitizers, whose shadow
// memory takes more address space than any limit would leave) and a timeout, so that a hang or
// an abort fails the test instead of the runner. body's text comes back; exited says whether
// the child ended by itself.
struct ChildRun {
    bool exited = false;
    std::string out;
};

struct Child {
    pid_t pid = -1;
    kestrane::UniqueFd output;
};

Child startChild(const std::function<void(std::string&)>& body, unsigned seconds, rlim_t fileSizeLimit) {
    int ends[2];
    if (pipe(ends) != 0) return {};
    kestrane::UniqueFd readEnd(ends[0]), writeEnd(ends[1]);
    const pid_t child = fork();
    if (child == 0) {
        readEnd.reset();
        dup2(writeEnd.get(), STDERR_FILENO);  // the child's log comes back with its text
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
        const rlimit memory{rlim_t{1} << 30, rlim_t{1} << 30};
        setrlimit(RLIMIT_AS, &memory);
#endif
        signal(SIGXFSZ, SIG_IGN);  // a write past the file size limit fails, as on a full disk
        const rlimit fileSize{fileSizeLimit, fileSizeLimit};
        setrlimit(RLIMIT_FSIZE, &fileSize);
        alarm(seconds);
        std::string out;
        body(out);
        for (std::size_t done = 0; done < out.size();) {
            const ssize_t n = write(writeEnd.get(), out.data() + done, out.size() - done);
            if (n <= 0) _exit(3);
            done += static_cast<std::size_t>(n);
        }
        _exit(0);
    }
    return {child, std::move(readEnd)};
}

ChildRun finishChild(Child child) {
    ChildRun run;
    char buffer[4096];
    for (ssize_t n; (n = read(child.output.get(), buffer, sizeof buffer)) > 0;) run.out.append(buffer, static_cast<std::size_t>(n));
    int status = 0;
    waitpid(child.pid, &status, 0);
    run.exited = child.pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

ChildRun inChild(const std::function<void(std::string&)>& body, unsigned seconds = 120, rlim_t fileSizeLimit = RLIM_INFINITY) {
    return finishChild(startChild(body, seconds, fileSizeLimit));
}

// "name=track-id/persistent-id" per track, sorted, one line; then the scan's log.
std::string idsOf(const Scanned& s) {
    std::string line;
    for (const auto& [name, item] : s.byName) {
        line += name + "=" + item->valueForProperty("Track ID").value_or("?") + "/" + item->valueForProperty("Persistent ID").value_or("?") + " ";
    }
    return line + "\n";
}

std::map<std::string, std::string> parseIds(const std::string& line) {
    std::map<std::string, std::string> ids;
    std::istringstream words(line);
    for (std::string w; words >> w;) ids[w.substr(0, w.find('='))] = w.substr(w.find('=') + 1);
    return ids;
}

void changeCache(const std::string& cache, const char* sql) {
    sqlite3* opened = nullptr;
    const int status = sqlite3_open(cache.c_str(), &opened);
    const ml::DatabasePtr db(opened);
    ASSERT_EQ(status, SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db.get(), sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql;
}

}  // namespace

// Each damage, then a new file: the files that the damaged cache still names keep their IDs,
// every ID is distinct and positive, and the repair happens once (the next scan is quiet and
// finds the same IDs).
TEST(ScanCache, ADamagedCacheIsRebuiltOnceKeepingEveryIdItCanRead) {
    const std::vector<std::string> all = {"a.flac", "b.wav", "c.wav"};
    const std::vector<std::string> notB = {"a.flac", "c.wav"};
    struct Case {
        const char* damage;
        std::vector<std::string> kept;
        const char* line;
    };
    const std::vector<Case> cases = {
        {"DELETE FROM counters WHERE name='next_track_id'", all, "has damaged counters; it is rebuilt, keeping the IDs of 3 files"},
        {"DELETE FROM counters", all, "has damaged counters"},
        {"UPDATE counters SET value=2 WHERE name='next_track_id'", all, "has damaged counters"},
        {"UPDATE files SET path=NULL WHERE path LIKE '%b.wav'", notB, "has 1 damaged rows"},
        {"UPDATE files SET track_id='x' WHERE path LIKE '%b.wav'", notB, "has 1 damaged rows"},
        {"UPDATE files SET track_id=-1 WHERE path LIKE '%b.wav'", notB, "has 1 damaged rows"},
        {"UPDATE files SET persistent_id=(SELECT persistent_id FROM files WHERE path LIKE '%a.flac') WHERE path LIKE '%b.wav'", notB, "has 1 damaged rows"},
        {"UPDATE files SET track_id=(SELECT track_id FROM files WHERE path LIKE '%a.flac') WHERE path LIKE '%b.wav'", notB, "has 1 damaged rows"},
        {"UPDATE files SET fields=42, size='big', date_added=NULL", all, ""},
        {"ALTER TABLE files ADD COLUMN extra", all, "has tables of another layout; it is rebuilt, keeping the IDs of 3 files"},
        {"PRAGMA user_version=7", all, "is of another version (7); it is rebuilt"},
        {"DROP TABLE files", {}, "has tables of another layout"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.damage);
        Folder f;
        for (const std::string& name : all) copyTemplate(name.substr(name.find('.') + 1), f.music / name);
        const auto before = parseIds(idsOf(Scanned(f.music)));
        changeCache(ml::ScanCache::pathFor(f.music.string()), c.damage);
        copyTemplate("flac", f.music / "d.flac");
        const ChildRun run = inChild([&](std::string& out) {
            const Scanned first(f.music), second(f.music);
            out = idsOf(first) + idsOf(second) + first.log + "\n--\n" + second.log;
        });
        ASSERT_TRUE(run.exited) << run.out;
        std::istringstream lines(run.out);
        std::string firstLine, secondLine;
        std::getline(lines, firstLine);
        std::getline(lines, secondLine);
        const auto after = parseIds(firstLine);
        ASSERT_EQ(after.size(), 4u) << run.out;
        EXPECT_EQ(parseIds(secondLine), after);
        for (const std::string& name : c.kept) EXPECT_EQ(after.at(name), before.at(name)) << name;
        std::set<std::string> trackIds, persistentIds;
        for (const auto& [name, id] : after) {
            const std::string track = id.substr(0, id.find('/')), persistent = id.substr(id.find('/') + 1);
            EXPECT_GT(std::stoll(track), 0) << name;
            EXPECT_NE(persistent, "0000000000000000") << name;
            trackIds.insert(track);
            persistentIds.insert(persistent);
        }
        EXPECT_EQ(trackIds.size(), 4u) << run.out;
        EXPECT_EQ(persistentIds.size(), 4u) << run.out;
        const std::string secondLog = run.out.substr(run.out.find("\n--\n"));
        EXPECT_EQ(secondLog.find("scan cache"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find(c.line), std::string::npos) << run.out;
    }
}

// Two processes scanning a folder for the first time at once give its files the same IDs, and
// the cache keeps them.
TEST(ScanCache, ConcurrentFirstScansAgree) {
    for (int round = 0; round < 3; ++round) {
        Folder f;
        for (int i = 0; i < 40; ++i) copyTemplate("wav", f.music / ("t" + std::to_string(i) + ".wav"));
        // Both children wait at a gate, so that their scans overlap.
        int gate[2];
        ASSERT_EQ(pipe(gate), 0);
        kestrane::UniqueFd gateRead(gate[0]), gateWrite(gate[1]);
        std::vector<Child> both;
        for (int p = 0; p < 2; ++p) {
            both.push_back(startChild(
                [&](std::string& out) {
                    gateWrite.reset();
                    char c;
                    (void)!read(gateRead.get(), &c, 1);
                    out = idsOf(Scanned(f.music));
                },
                120, RLIM_INFINITY));
        }
        gateWrite.reset();
        std::vector<std::string> outs;
        for (Child& child : both) {
            const ChildRun run = finishChild(std::move(child));
            outs.push_back(run.exited ? run.out : "failed");
        }
        EXPECT_EQ(outs[0], outs[1]);
        EXPECT_EQ(parseIds(outs[0]).size(), 40u);
        EXPECT_EQ(idsOf(Scanned(f.music)), outs[0]);
    }
}

// However the folder is spelled, it has one cache and its files one set of IDs and locations.
TEST(ScanCache, OneFolderOneCacheHoweverItIsSpelled) {
    Folder f;
    copyTemplate("wav", f.music / "a.wav");
    fs::create_directory_symlink(f.music, f.temp.path() / "link");
    const std::string t = f.temp.path().string();
    const fs::path cwd = fs::current_path();
    fs::current_path(f.temp.path());
    std::set<std::string> seen;
    for (const std::string& spelling : {t + "/Music", t + "/Music/", t + "//Music", t + "/./Music", t + "/Music/../Music", t + "/link", std::string("Music"), std::string("./link/")}) {
        const Scanned s{fs::path(spelling)};
        seen.insert(s.value("a.wav", "Persistent ID") + " " + s.value("a.wav", "Location"));
    }
    fs::current_path(cwd);
    EXPECT_EQ(seen.size(), 1u) << *seen.begin();
    EXPECT_EQ(seen.begin()->substr(17), kestrane::url::fileUrlOf(f.music.string()) + "/a.wav");
    std::size_t caches = 0;
    for (const auto& entry : fs::directory_iterator(f.temp.path() / "cache/kestrane")) caches += entry.path().extension() == ".sqlite";
    EXPECT_EQ(caches, 1u);
}

// A cache that cannot be written (a full disk: no file may grow): the files it knows keep
// their IDs, a new file has one for the run, said once; once the disk has room the new file
// keeps an ID of its own.
TEST(ScanCache, ACacheThatCannotBeWrittenKeepsItsIds) {
    Folder f;
    copyTemplate("wav", f.music / "a.wav");
    copyTemplate("wav", f.music / "b.wav");
    const auto before = parseIds(idsOf(Scanned(f.music)));
    copyTemplate("flac", f.music / "c.flac");
    const ChildRun run = inChild(
        [&](std::string& out) {
            ml::FolderScanner scanner(f.music.string(), false);
            for (int i = 0; i < 2; ++i) {
                auto scanned = scanner.scan();
                for (std::size_t k = 0; scanned && k < scanned->get()->allItems.size(); ++k) {
                    auto* item = static_cast<ml::MediaItem*>(scanned->get()->allItems.at(k));
                    out += "id " + item->valueForProperty("Persistent ID").value_or("?") + "\n";
                }
            }
        },
        120, 0);
    ASSERT_TRUE(run.exited) << run.out;
    EXPECT_NE(run.out.find(before.at("a.wav").substr(before.at("a.wav").find('/') + 1)), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(before.at("b.wav").substr(before.at("b.wav").find('/') + 1)), std::string::npos) << run.out;
    std::set<std::string> persistentIds;  // the same three in both scans
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("id ", 0) == 0) persistentIds.insert(line.substr(3));
    }
    EXPECT_EQ(persistentIds.size(), 3u) << run.out;
    std::size_t said = 0;
    for (std::size_t at = 0; (at = run.out.find("cannot be written", at)) != std::string::npos; ++at) ++said;
    EXPECT_EQ(said, 1u) << run.out;
    const Scanned later(f.music), again(f.music);
    EXPECT_EQ(parseIds(idsOf(later)).at("a.wav"), before.at("a.wav"));
    EXPECT_EQ(parseIds(idsOf(later)).size(), 3u);
    EXPECT_EQ(idsOf(later), idsOf(again));
}

// Names that are not UTF-8, Latin-1 playlists, strict .pls keys, a relative library folder.
TEST(FolderScan, NamesAndPlaylistEntriesAsUsersHaveThem) {
    Folder f;
    copyTemplate("wav", f.music / "caf\xe9.wav");
    copyTemplate("wav", f.music / "caf\xc3\xa9.wav");
    for (const char* name : {"a", "b", "c", "d", "e"}) copyTemplate("wav", f.music / (std::string(name) + ".wav"));
    std::ofstream(f.music / "latin.m3u", std::ios::binary) << "caf\xe9.wav\r\n";
    std::ofstream(f.music / "keys.pls") << "[playlist]\nFile1=a.wav\nFilex=b.wav\nFile-1=c.wav\nFile0=d.wav\nFile2=e.wav\n";
    const Scanned s(f.music);
    EXPECT_EQ(s.value("caf%E9.wav", "Name"), "caf\xef\xbf\xbd");
    EXPECT_EQ(s.value("caf%C3%A9.wav", "Name"), "caf\xc3\xa9");
    EXPECT_EQ(s.playlist(2), (std::vector<std::string>{"latin", "caf%E9.wav"}));
    EXPECT_EQ(s.playlist(1), (std::vector<std::string>{"keys", "a.wav", "e.wav"}));

    const fs::path cwd = fs::current_path();
    fs::current_path(f.temp.path());
    setenv("KESTRANE_MUSIC_LIBRARY", "Music", 1);
    auto loaded = ml::loadUserLibrary();
    unsetenv("KESTRANE_MUSIC_LIBRARY");
    fs::current_path(cwd);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(static_cast<ml::MediaItem*>(loaded->get()->allItems.at(0))->location(), kestrane::url::fileUrlOf(f.music.string()) + "/a.wav");
}

TEST(MovedLibraries, PathMapLinesAreTrimmedCheckedAndEndInOneSlash) {
    const std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> cases = {
        {" /old/ = /new \n", {{"file:///old/", "file:///new/"}}},
        {"file://localhost/D:=/d//\r\n# note\n\n", {{"file://localhost/D:/", "file:///d/"}}},
        {"/old=relative\n=/x\n/y=\nno separator\nhttp://h/=/z\n", {}},
    };
    for (const auto& [text, expected] : cases) {
        std::vector<std::pair<std::string, std::string>> parsed;
        const std::string log = captureStderr([&] { parsed = ml::parsePathMap(text); });
        EXPECT_EQ(parsed, expected) << text;
        EXPECT_EQ(static_cast<std::size_t>(std::count(log.begin(), log.end(), '\n')), expected.empty() ? 5u : 0u) << log;
    }
}

// Playlists no user made: one line each, bounded time and memory.
TEST(FolderScan, HostilePlaylistsAreSkippedOrCostWhatOthersCost) {
    Folder f;
    copyTemplate("wav", f.music / "a.wav");
    {
        const kestrane::UniqueFd zeros(open((f.music / "zeros.m3u").c_str(), O_WRONLY | O_CREAT, 0644));
        ASSERT_EQ(ftruncate(zeros.get(), 1ll << 30), 0);
    }
    {
        std::ofstream missing(f.music / "missing.m3u");
        for (int i = 0; i < 1000000; ++i) missing << "m" << (i % 10) << "\n";
        missing << "a.wav\n";
    }
    const ChildRun run = inChild([&](std::string& out) {
        const Scanned s(f.music);
        out = s.log + "playlists=" + std::to_string(s.ref ? s.ref.get()->playlists.size() : 0) + "\n";
    });
    ASSERT_TRUE(run.exited) << run.out.substr(0, 2000);
    EXPECT_NE(run.out.find("zeros.m3u: skipped: is larger than 4 MB"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("missing.m3u: 1000000 of 1000001 entries name no track"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("playlists=2\n"), std::string::npos) << run.out;
}

// A scanner follows its folder: a scan with nothing changed hands back the same snapshot
// without listing a folder or reading a file; after changes it reads only the changed files and
// lists only new folders, and change tracking sees the changes.
TEST(FolderScanner, FollowsTheFolderWithoutWalkingIt) {
    Folder f;
    copyTemplate("wav", f.music / "A/a.wav");
    copyTemplate("wav", f.music / "A/b.wav");
    copyTemplate("flac", f.music / "B/c.flac");
    copyTemplate("wav", f.music / "Gone/g.wav");
    auto scanner = std::make_shared<ml::FolderScanner>(f.music.string());
    auto opened = ml::Library::open("1.1", [scanner] { return scanner->scan(); });
    ASSERT_TRUE(opened);
    ml::Library* library = *opened;
    EXPECT_EQ(library->allMediaItems()->size(), 4u);
    const auto firstIds = parseIds(idsOf(Scanned(f.music)));
    const std::size_t listed = ml::foldersListed, opened0 = ml::audioFilesOpened;
    const double before = library->lastItemModification()->value_or(0);
    const std::uint32_t hashBefore = library->playlistHash()->hash;

    ASSERT_TRUE(library->reloadData());
    EXPECT_EQ(ml::foldersListed, listed);
    EXPECT_EQ(ml::audioFilesOpened, opened0);

    const auto later = fs::last_write_time(f.music / "A/a.wav") + std::chrono::hours(1);
    fs::last_write_time(f.music / "A/a.wav", later);
    copyTemplate("flac", f.music / "New/deeper/n.flac");
    fs::remove_all(f.music / "Gone");
    fs::remove(f.music / "A/b.wav");
    std::ofstream(f.music / "B/list.m3u") << "c.flac\n../A/a.wav\n";
    ASSERT_TRUE(library->reloadData());
    EXPECT_LE(ml::foldersListed - listed, 2u);  // New and New/deeper, when made before their watch
    EXPECT_EQ(ml::audioFilesOpened - opened0, 2u);
    std::map<std::string, std::string> names;
    ml::Array* items = library->allMediaItems();
    for (std::size_t i = 0; i < items->size(); ++i) {
        auto* item = static_cast<ml::MediaItem*>(items->at(i));
        const std::string location = item->valueForProperty("Location").value_or("");
        names[location.substr(location.find_last_of('/') + 1)] =
            item->valueForProperty("Track ID").value_or("") + "/" + item->valueForProperty("Persistent ID").value_or("");
    }
    EXPECT_EQ(names.size(), 3u);
    EXPECT_EQ(names["a.wav"], firstIds.at("a.wav"));
    EXPECT_EQ(names["c.flac"], firstIds.at("c.flac"));
    EXPECT_EQ(names.count("n.flac"), 1u);
    EXPECT_EQ(library->allPlaylists()->size(), 2u);
    EXPECT_GT(library->lastItemModification()->value_or(0), before);
    ml::Array* changed = *library->mediaItemsChangedSince(before);
    ASSERT_GE(changed->size(), 1u);
    EXPECT_EQ(static_cast<ml::MediaItem*>(changed->at(0))->valueForProperty("Persistent ID"), firstIds.at("a.wav").substr(firstIds.at("a.wav").find('/') + 1));
    EXPECT_NE(library->playlistHash()->hash, hashBefore);
    // What the scanner found is what a walk finds.
    EXPECT_EQ(parseIds(idsOf(Scanned(f.music))), names);

    // A cover put beside a track, then taken away, is followed too.
    const auto artworkCountOfC = [&] {
        ml::Array* now = library->allMediaItems();
        for (std::size_t i = 0; i < now->size(); ++i) {
            auto* item = static_cast<ml::MediaItem*>(now->at(i));
            if (item->valueForProperty("Location").value_or("").ends_with("/c.flac")) return item->valueForProperty("Artwork Count");
        }
        return std::optional<std::string>();
    };
    std::ofstream(f.music / "B/Cover.PNG", std::ios::binary) << kestrane::test::tinyPng();
    ASSERT_TRUE(library->reloadData());
    EXPECT_EQ(artworkCountOfC(), "1");
    fs::remove(f.music / "B/Cover.PNG");
    ASSERT_TRUE(library->reloadData());
    EXPECT_EQ(artworkCountOfC(), "0");
}

namespace {

// Everything a library shows of a snapshot: every value of every item in list order, its
// artist and album, and every playlist with its members.
std::string everythingShown(const ml::Snapshot& s) {
    std::ostringstream out;
    for (std::size_t i = 0; i < s.allItems.size(); ++i) {
        const auto* item = static_cast<const ml::MediaItem*>(s.allItems.at(i));
        out << "item " << std::hex << item->persistentId() << std::dec << "\n";
        for (std::uint32_t k = 0; k < ml::kKnownKeyCount; ++k) {
            const std::string_view key = ml::keyText(static_cast<ml::TrackKey>(k));
            if (const auto value = item->valueForProperty(key)) out << "  " << key << "=" << *value << "\n";
        }
        for (const auto& [key, number] : s.unknownKeys) {
            if (const auto value = item->valueForProperty(key)) out << "  " << key << "=" << *value << "\n";
        }
        if (const ml::Artist* a = item->artist()) out << "  artist " << a->persistentId() << " " << a->name().value_or("") << "\n";
        if (const ml::Album* a = item->album()) {
            out << "  album " << a->persistentId() << " " << a->title().value_or("") << "/" << a->albumArtist().value_or("") << "/"
                << a->trackCount() << "/" << a->discNumber() << "\n";
        }
    }
    for (std::size_t i = 0; i < s.allPlaylists.size(); ++i) {
        const auto* p = static_cast<const ml::Playlist*>(s.allPlaylists.at(i));
        out << "playlist " << p->name().value_or("") << " " << p->persistentId() << ":";
        if (ml::Array* items = p->items()) {
            for (std::size_t j = 0; j < items->size(); ++j) out << " " << static_cast<ml::MediaItem*>(items->at(j))->persistentId();
        }
        out << "\n";
    }
    return out.str();
}

}  // namespace

// A followed rescan hands unchanged tracks on from the last snapshot and builds the others:
// after each change, in turn on one scanner, it shows exactly what a scan of the folder from
// the cache shows.
TEST(FolderScanner, ARescanShowsWhatAFullScanShows) {
    Folder f;
    populate(f.music);
    ml::FolderScanner scanner(f.music.string());
    std::string log = captureStderr([&] { ASSERT_TRUE(scanner.scan()); });
    const std::pair<const char*, std::function<void()>> changes[] = {
        {"touched", [&] { fs::last_write_time(f.music / "Alpha/one.flac", fs::last_write_time(f.music / "Alpha/one.flac") + std::chrono::hours(1)); }},
        {"retagged", [&] { ASSERT_TRUE(kestrane::test::writeTags(f.music / "Alpha/two.mp3", {{"TITLE", "Deux"}, {"ALBUM", "Gamma"}, {"ARTIST", "Bo"}})); }},
        {"added", [&] { copyTemplate("flac", f.music / "Alpha/five.flac"); }},
        {"removed", [&] { fs::remove(f.music / "Beta/four.opus"); }},
        {"renamed", [&] { fs::rename(f.music / "Beta/deep/three.ogg", f.music / "Beta/deep/drei.ogg"); }},
        {"folder renamed", [&] { fs::rename(f.music / "Beta", f.music / "Zeta"); }},
        {"playlist edited", [&] { std::ofstream(f.music / "mix.pls") << "[playlist]\nFile1=Alpha/five.flac\nNumberOfEntries=1\n"; }},
        {"cover added", [&] { std::ofstream(f.music / "Alpha/folder.jpg", std::ios::binary) << kestrane::test::tinyJpeg(); }},
        {"nothing", [] {}},
    };
    for (const auto& [name, change] : changes) {
        change();
        ml::SnapshotRef followed, walked;
        log = captureStderr([&] {
            auto rescanned = scanner.scan();
            auto scanned = ml::scanFolder(f.music.string());
            ASSERT_TRUE(rescanned && scanned);
            followed = std::move(rescanned).value();
            walked = std::move(scanned).value();
        });
        ASSERT_TRUE(followed && walked) << name << log;
        EXPECT_EQ(everythingShown(*followed.get()), everythingShown(*walked.get())) << name;
    }
}
