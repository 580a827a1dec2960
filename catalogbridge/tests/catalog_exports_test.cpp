// catalogbridge exports called with a real JVM's environment: the log line of an index outside
// an array, the log lines and errors of change tracking, artwork read from a media file, and
// (in a JVM without the peer classes) init when ITLibException cannot be found.
#include <gtest/gtest.h>

#include <com_kestrane_itlibrary_ITLibAlbum.h>
#include <com_kestrane_itlibrary_ITLibArray.h>
#include <com_kestrane_itlibrary_ITLibArtwork.h>
#include <com_kestrane_itlibrary_ITLibMediaItem.h>
#include <com_kestrane_itlibrary_ITLibrary.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>
#include <vector>

#include "jni_scoped.h"
#include "jvm.h"
#include "test_files.h"
#include "test_media.h"

namespace fs = std::filesystem;
using kestrane::jni::LocalRef;
using kestrane::test::captureStderr;
using kestrane::test::jniEnv;
using kestrane::test::takePendingException;

namespace {

bool peersAvailable(JNIEnv* env) {
    LocalRef<jclass> cls(env, env->FindClass("com/kestrane/itlibrary/ITLibArray"));
    env->ExceptionClear();
    return static_cast<bool>(cls);
}

}  // namespace

TEST(CatalogExports, IndexOutsideTheArrayLogsTheCount) {
    JNIEnv* env = jniEnv();
    if (!peersAvailable(env)) GTEST_SKIP() << "this JVM runs without the peer classes";
    const kestrane::test::TempFolder folder("catalog");
    const fs::path& dir = folder.path();
    std::ofstream(dir / "Library.xml") << "<plist><dict><key>Tracks</key><dict>"
                                          "<key>1</key><dict><key>Name</key><string>a</string></dict>"
                                          "<key>2</key><dict><key>Name</key><string>b</string></dict></dict></dict></plist>";
    setenv("KESTRANE_MUSIC_LIBRARY", (dir / "Library.xml").c_str(), 1);
    LocalRef<jstring> version(env, env->NewStringUTF("1.1"));
    const jlong library = Java_com_kestrane_itlibrary_ITLibrary_init(env, nullptr, version.get());
    ASSERT_NE(library, 0) << takePendingException(env);
    LocalRef<jclass> libraryClass(env, env->FindClass("com/kestrane/itlibrary/ITLibrary"));
    const jmethodID ofHandle = env->GetStaticMethodID(libraryClass.get(), "ofHandle", "(J)Lcom/kestrane/itlibrary/ITLibrary;");
    LocalRef<jobject> libraryPeer(env, env->CallStaticObjectMethod(libraryClass.get(), ofHandle, library));
    const jlong items = Java_com_kestrane_itlibrary_ITLibrary__1getAllMediaItems(env, libraryPeer.get());
    LocalRef<jclass> arrayClass(env, env->FindClass("com/kestrane/itlibrary/ITLibArray"));
    const jmethodID ctor = env->GetMethodID(arrayClass.get(), "<init>", "(J)V");
    LocalRef<jobject> array(env, env->NewObject(arrayClass.get(), ctor, items));
    LocalRef<jobject> none(env, env->NewObject(arrayClass.get(), ctor, jlong{0}));

    const std::string log = captureStderr([&] {
        EXPECT_NE(Java_com_kestrane_itlibrary_ITLibArray__1get(env, array.get(), 1), 0);
        EXPECT_EQ(Java_com_kestrane_itlibrary_ITLibArray__1get(env, array.get(), 2), 0);
        EXPECT_EQ(Java_com_kestrane_itlibrary_ITLibArray__1get(env, array.get(), -1), 0);
        EXPECT_EQ(Java_com_kestrane_itlibrary_ITLibArray__1get(env, none.get(), 0), 0);
    });
    std::istringstream lines(log);
    std::string line;
    std::vector<std::string> messages;
    while (std::getline(lines, line)) messages.push_back(line.substr(line.find("] ") + 2));
    EXPECT_EQ(messages, (std::vector<std::string>{"Weird... array count = 2. Returning 0L.",
                                                  "Weird... array count = 2. Returning 0L.",
                                                  "Weird... array count = 0. Returning 0L."}));
}

TEST(CatalogExports, InitWithoutTheExceptionClassLeavesTheLookupError) {
    JNIEnv* env = jniEnv();
    if (peersAvailable(env)) GTEST_SKIP() << "this JVM has the peer classes";
    LocalRef<jstring> version(env, env->NewStringUTF("9.9"));
    jlong handle = -1;
    const std::string log = captureStderr([&] { handle = Java_com_kestrane_itlibrary_ITLibrary_init(env, nullptr, version.get()); });
    EXPECT_EQ(handle, 0);
    EXPECT_EQ(log, "");  // nothing logged
    EXPECT_EQ(takePendingException(env).rfind("java.lang.NoClassDefFoundError: com/kestrane/itlibrary/ITLibException", 0), 0u);
}

namespace {

// A peer of class className around handle.
LocalRef<jobject> peer(JNIEnv* env, const char* className, jlong handle) {
    LocalRef<jclass> cls(env, env->FindClass(className));
    const jmethodID ctor = env->GetMethodID(cls.get(), "<init>", "(J)V");
    return LocalRef<jobject>(env, env->NewObject(cls.get(), ctor, handle));
}

// An ITLibrary peer around handle.
LocalRef<jobject> libraryPeer(JNIEnv* env, jlong handle) {
    LocalRef<jclass> libraryClass(env, env->FindClass("com/kestrane/itlibrary/ITLibrary"));
    const jmethodID ofHandle = env->GetStaticMethodID(libraryClass.get(), "ofHandle", "(J)Lcom/kestrane/itlibrary/ITLibrary;");
    return LocalRef<jobject>(env, env->CallStaticObjectMethod(libraryClass.get(), ofHandle, handle));
}

LocalRef<jobject> openLibrary(JNIEnv* env, const fs::path& file) {
    setenv("KESTRANE_MUSIC_LIBRARY", file.c_str(), 1);
    LocalRef<jstring> version(env, env->NewStringUTF("1.1"));
    const jlong library = Java_com_kestrane_itlibrary_ITLibrary_init(env, nullptr, version.get());
    EXPECT_NE(library, 0) << takePendingException(env);
    return libraryPeer(env, library);
}

// The messages of the log lines in text.
std::vector<std::string> messages(const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    std::vector<std::string> out;
    while (std::getline(lines, line)) out.push_back(line.substr(line.find("] ") + 2));
    return out;
}

}  // namespace

TEST(ChangeTrackingExports, LogLinesAndTheErrorOfALibraryThatCannotBeReadAgain) {
    JNIEnv* env = jniEnv();
    if (!peersAvailable(env)) GTEST_SKIP() << "this JVM runs without the peer classes";
    const kestrane::test::TempFolder folder("changes");
    const fs::path file = folder.path() / "Library.xml";
    std::ofstream(file) << "<plist><dict><key>Tracks</key><dict><key>1</key><dict><key>Track ID</key><integer>1</integer>"
                           "<key>Date Added</key><date>2001-01-01T00:00:00Z</date></dict></dict><key>Playlists</key><array>"
                           "<dict><key>Name</key><string>bare</string></dict><dict><key>Name</key><string>also bare</string>"
                           "</dict><dict><key>Visible</key><false/></dict></array></dict></plist>";
    LocalRef<jobject> library = openLibrary(env, file);
    jint hash = -1;
    std::string log = captureStderr([&] { hash = Java_com_kestrane_itlibrary_ITLibrary_getPlaylistHash(env, library.get()); });
    EXPECT_EQ(hash, 0);
    // One line for each visible playlist without an item list; none for the hidden one.
    EXPECT_EQ(messages(log), (std::vector<std::string>{"getPlaylistHash: No items found.", "getPlaylistHash: No items found."}));

    // Unloaded, and the file gone: the failure is logged and thrown, with the reason.
    Java_com_kestrane_itlibrary_ITLibrary__1unloadData(env, library.get());
    fs::remove(file);
    jlong newest = -1;
    log = captureStderr([&] { newest = Java_com_kestrane_itlibrary_ITLibrary__1getLastItemModification(env, library.get()); });
    EXPECT_EQ(newest, 0);
    const std::string thrown = takePendingException(env);
    EXPECT_EQ(thrown.rfind("com.kestrane.itlibrary.ITLibException: Cannot read the music library file '" + file.string(), 0), 0u)
        << thrown;
    ASSERT_EQ(messages(log).size(), 1u) << log;
    EXPECT_EQ(messages(log)[0], "getLastItemModification: Failed to get last modification date: " +
                                    thrown.substr(thrown.find(": ") + 2));
    log = captureStderr([&] { Java_com_kestrane_itlibrary_ITLibrary_getPlaylistHash(env, library.get()); });
    EXPECT_EQ(messages(log)[0].rfind("getPlaylistHash: Failed to compute library playlists hash: Cannot read", 0), 0u) << log;
    EXPECT_EQ(takePendingException(env).rfind("com.kestrane.itlibrary.ITLibException: Cannot read", 0), 0u);
}

TEST(ArtworkExports, BytesAndFormatOfAnItemsPictureAndOfAFile) {
    JNIEnv* env = jniEnv();
    if (!peersAvailable(env)) GTEST_SKIP() << "this JVM runs without the peer classes";
    const kestrane::test::TempFolder folder("artworkexports");
    const fs::path mp3 = folder.path() / "with cover.mp3";
    ASSERT_TRUE(kestrane::test::encodeTone(mp3, "lamemp3enc"));
    ASSERT_TRUE(kestrane::test::attachPicture(mp3, kestrane::test::tinyJpeg()));
    const std::string url = "file://" + (folder.path() / "with%20cover.mp3").string();
    const fs::path file = folder.path() / "Library.xml";
    std::ofstream(file) << "<plist><dict><key>Tracks</key><dict><key>1</key><dict><key>Location</key><string>" + url +
                               "</string></dict></dict></dict></plist>";
    LocalRef<jobject> library = openLibrary(env, file);
    const jlong items = Java_com_kestrane_itlibrary_ITLibrary__1getAllMediaItems(env, library.get());
    LocalRef<jobject> array = peer(env, "com/kestrane/itlibrary/ITLibArray", items);
    LocalRef<jobject> item = peer(env, "com/kestrane/itlibrary/ITLibMediaItem",
                                  Java_com_kestrane_itlibrary_ITLibArray__1get(env, array.get(), 0));
    LocalRef<jstring> jurl(env, env->NewStringUTF(url.c_str()));
    for (const jlong handle : {Java_com_kestrane_itlibrary_ITLibMediaItem__1getArtwork(env, item.get()),
                               Java_com_kestrane_itlibrary_ITLibrary__1artworkForMediaFile(env, library.get(), jurl.get())}) {
        ASSERT_NE(handle, 0);
        LocalRef<jobject> artwork = peer(env, "com/kestrane/itlibrary/ITLibArtwork", handle);
        EXPECT_EQ(Java_com_kestrane_itlibrary_ITLibArtwork__1getImageDataFormat(env, artwork.get()), 2);  // JPEG
        LocalRef<jbyteArray> bytes(env, Java_com_kestrane_itlibrary_ITLibArtwork_getImageData(env, artwork.get()));
        std::string data(static_cast<std::size_t>(env->GetArrayLength(bytes.get())), '\0');
        env->GetByteArrayRegion(bytes.get(), 0, static_cast<jsize>(data.size()), reinterpret_cast<jbyte*>(data.data()));
        EXPECT_EQ(data, kestrane::test::tinyJpeg());
        EXPECT_EQ(Java_com_kestrane_itlibrary_ITLibArtwork__1retain(env, artwork.get()), handle);
        Java_com_kestrane_itlibrary_ITLibArtwork__1release(env, artwork.get());
    }
    LocalRef<jstring> nowhere(env, env->NewStringUTF("file:///no/such/file.mp3"));
    EXPECT_EQ(Java_com_kestrane_itlibrary_ITLibrary__1artworkForMediaFile(env, library.get(), nowhere.get()), 0);
}

namespace {

// A library file of n tracks whose titles name the load ("<load> <i>").
std::string libraryOf(int n, const std::string& load) {
    std::string tracks;
    for (int i = 1; i <= n; ++i) {
        tracks += "<key>" + std::to_string(i) + "</key><dict><key>Track ID</key><integer>" + std::to_string(i) +
                  "</integer><key>Name</key><string>" + load + " " + std::to_string(i) + "</string><key>Album</key><string>A" +
                  std::to_string(i % 3) + "</string><key>Persistent ID</key><string>" + std::to_string(1000 + i) + "</string></dict>";
    }
    return "<plist><dict><key>Tracks</key><dict>" + tracks + "</dict></dict></plist>";
}

}  // namespace

// Threads read lists, items, albums and the ID array while another thread replaces the load
// underneath them again and again, and while they keep handles of loads that have ended: every
// read sees a whole load or answers as for 0, and nothing freed is ever touched (the sanitizer
// build checks every access). The ID array is filled in a critical region that takes no lock.
TEST(CatalogueHandles, ReadersNeverTouchALoadThatEndedUnderThem) {
    JNIEnv* env = jniEnv();
    if (!peersAvailable(env)) GTEST_SKIP() << "this JVM runs without the peer classes";
    const kestrane::test::TempFolder folder("handles");
    const fs::path file = folder.path() / "Library.xml";
    std::ofstream(file) << libraryOf(20, "first");
    LocalRef<jobject> library = openLibrary(env, file);
    LocalRef<jclass> libraryClass(env, env->GetObjectClass(library.get()));
    const jlong libraryHandle = env->CallLongMethod(library.get(), env->GetMethodID(libraryClass.get(), "handle", "()J"));
    ASSERT_NE(libraryHandle, 0);
    JavaVM* vm = nullptr;
    env->GetJavaVM(&vm);

    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0}, idArrays{0};
    auto reader = [&] {
        JNIEnv* e = jniEnv();
        std::vector<jlong> stale;
        while (!stop) {
            kestrane::jni::LocalFrame frame(e, 32);
            LocalRef<jobject> lib = libraryPeer(e, libraryHandle);
            LocalRef<jobject> array = peer(e, "com/kestrane/itlibrary/ITLibArray",
                                           Java_com_kestrane_itlibrary_ITLibrary__1getAllMediaItems(e, lib.get()));
            const jlong held = Java_com_kestrane_itlibrary_ITLibArray__1retain(e, array.get());
            const jint n = Java_com_kestrane_itlibrary_ITLibArray__1size(e, array.get());
            if (n != 20 && n != 30) ++wrong;
            for (jint i = 0; i < n; i += 7) {
                const jlong h = Java_com_kestrane_itlibrary_ITLibArray__1get(e, array.get(), i);
                LocalRef<jobject> item = peer(e, "com/kestrane/itlibrary/ITLibMediaItem", h);
                LocalRef<jstring> title(e, Java_com_kestrane_itlibrary_ITLibMediaItem_getTitle(e, item.get()));
                if (!title) ++wrong;
                LocalRef<jobject> album = peer(e, "com/kestrane/itlibrary/ITLibAlbum",
                                               Java_com_kestrane_itlibrary_ITLibMediaItem__1getAlbum(e, item.get()));
                LocalRef<jstring> albumTitle(e, Java_com_kestrane_itlibrary_ITLibAlbum_getTitle(e, album.get()));
                if (stale.size() < 64) stale.push_back(h);
            }
            // Handles kept from earlier loads: live or ended, never garbage.
            for (const jlong h : stale) {
                LocalRef<jobject> item = peer(e, "com/kestrane/itlibrary/ITLibMediaItem", h);
                LocalRef<jstring> title(e, Java_com_kestrane_itlibrary_ITLibMediaItem_getTitle(e, item.get()));
                if (title && kestrane::test::javaUnits(e, title.get()).find(u" ") == std::u16string::npos) ++wrong;
            }
            LocalRef<jlongArray> ids(e, Java_com_kestrane_itlibrary_ITLibrary_getMediaItemIds(e, lib.get()));
            const jsize count = ids ? e->GetArrayLength(ids.get()) : -1;
            if (count != 20 && count != 30) ++wrong;
            ++idArrays;
            if (held != 0) Java_com_kestrane_itlibrary_ITLibArray__1release(e, array.get());
        }
        if (e->ExceptionCheck()) ++wrong;
        vm->DetachCurrentThread();
    };
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t) readers.emplace_back(reader);
    for (int round = 0; round < 40; ++round) {
        std::ofstream(file, std::ios::trunc) << libraryOf(round % 2 == 0 ? 30 : 20, "round" + std::to_string(round));
        EXPECT_TRUE(Java_com_kestrane_itlibrary_ITLibrary__1reloadData(env, library.get()));
        Java_com_kestrane_itlibrary_ITLibrary__1getAllPlaylists(env, library.get());  // this thread lets go of the old load
    }
    stop = true;
    for (auto& r : readers) r.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_GT(idArrays.load(), 0);
    EXPECT_EQ(takePendingException(env), "");
}
