// catalogbridge exports called with a real JVM's environment: the log line of an index outside
// an array, the log lines and errors of change tracking, artwork read from a media file, and
// (in a JVM without the peer classes) init when ITLibException cannot be found.
#include <gtest/gtest.h>

#include <com_kestrane_itlibrary_ITLibArray.h>
#include <com_kestrane_itlibrary_ITLibArtwork.h>
#include <com_kestrane_itlibrary_ITLibMediaItem.h>
#include <com_kestrane_itlibrary_ITLibrary.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

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

LocalRef<jobject> openLibrary(JNIEnv* env, const fs::path& file) {
    setenv("KESTRANE_MUSIC_LIBRARY", file.c_str(), 1);
    LocalRef<jstring> version(env, env->NewStringUTF("1.1"));
    const jlong library = Java_com_kestrane_itlibrary_ITLibrary_init(env, nullptr, version.get());
    EXPECT_NE(library, 0) << takePendingException(env);
    LocalRef<jclass> libraryClass(env, env->FindClass("com/kestrane/itlibrary/ITLibrary"));
    const jmethodID ofHandle = env->GetStaticMethodID(libraryClass.get(), "ofHandle", "(J)Lcom/kestrane/itlibrary/ITLibrary;");
    return LocalRef<jobject>(env, env->CallStaticObjectMethod(libraryClass.get(), ofHandle, library));
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
