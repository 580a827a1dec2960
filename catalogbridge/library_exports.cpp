// com.kestrane.itlibrary.ITLibrary: opening the library, its settings, reloading, and the
// lists and single objects it hands out.
#include <com_kestrane_itlibrary_ITLibrary.h>

#include "catalog_handles.h"
#include "errors.h"
#include "exported_helpers.h"
#include "log.h"

using namespace kestrane::catalog;

namespace {

constinit const kestrane::jni::PeerPointer kLibraryPointer;

ml::Library* libraryOf(JNIEnv* env, jobject self) {
    return objectOf<ml::Library>(env, self, kLibraryPointer);
}

// Logs where's failure with the error's message and throws ITLibException with it. Without
// the exception class nothing is logged: the lookup's own error goes to Java.
void reportFailure(JNIEnv* env, const char* where, const kestrane::Error& error) {
    if (kITLibException.get(env) == nullptr) return;
    kestrane::logFormat("%s%s", where, error.message.c_str());
    kestrane::jni::throwJava(env, kITLibException, error.message);
}

}  // namespace

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibrary_init(JNIEnv* env, jclass, jstring apiVersion) {
    const PlatformString version = kestrane::jni::platformString(env, apiVersion, "apiVersion");
    if (!version) return 0;
    const kestrane::Expected<ml::Library*> library = ml::Library::open(kestrane::jni::utf8FromUtf16(*version));
    if (library) return kestrane::jni::toHandle(*library);  // lives until the process ends

    // Without the exception class nothing is logged: the lookup's own error goes to Java.
    if (kITLibException.get(env) == nullptr) return 0;
    const kestrane::Error& error = library.error();
    // The description, then the error object, on one line: a log line is one message.
    kestrane::logFormat("Failed to init library: %s Error Domain=KestraneMusicLibrary Code=%d \"%s\"",
                        error.message.c_str(), error.code, error.message.c_str());
    kestrane::jni::throwJava(env, kITLibException, error.message);
    return 0;
}

JNIEXPORT jstring JNICALL Java_com_kestrane_itlibrary_ITLibrary__1getMusicFolderLocation(JNIEnv* env, jobject self) {
    ml::Library* library = libraryOf(env, self);
    return library != nullptr ? kestrane::jni::javaStringFromUtf8(env, library->musicFolderLocation()) : nullptr;
}

JNIEXPORT jboolean JNICALL Java_com_kestrane_itlibrary_ITLibrary_isShowContentRating(JNIEnv* env, jobject self) {
    ml::Library* library = libraryOf(env, self);
    return library != nullptr && library->shouldShowContentRating() ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jstring JNICALL Java_com_kestrane_itlibrary_ITLibrary_getApplicationVersion(JNIEnv* env, jobject self) {
    ml::Library* library = libraryOf(env, self);
    return library != nullptr ? kestrane::jni::javaStringFromUtf8(env, library->applicationVersion()) : nullptr;
}

JNIEXPORT jint JNICALL Java_com_kestrane_itlibrary_ITLibrary_getAPIMajorVersion(JNIEnv* env, jobject self) {
    ml::Library* library = libraryOf(env, self);
    return library != nullptr ? library->apiMajorVersion() : 0;
}

JNIEXPORT jint JNICALL Java_com_kestrane_itlibrary_ITLibrary_getAPIMinorVersion(JNIEnv* env, jobject self) {
    ml::Library* library = libraryOf(env, self);
    return library != nullptr ? library->apiMinorVersion() : 0;
}

JNIEXPORT jboolean JNICALL Java_com_kestrane_itlibrary_ITLibrary__1reloadData(JNIEnv* env, jobject self) {
    ml::Library* library = libraryOf(env, self);
    return library != nullptr && library->reloadData() ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT void JNICALL Java_com_kestrane_itlibrary_ITLibrary__1unloadData(JNIEnv* env, jobject self) {
    if (ml::Library* library = libraryOf(env, self)) library->unloadData();
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibrary__1getAllMediaItems(JNIEnv* env, jobject self) {
    ml::Library* library = libraryOf(env, self);
    return library != nullptr ? kestrane::jni::toHandle(library->allMediaItemsReloadingIfEmpty()) : 0;
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibrary__1getAllPlaylists(JNIEnv* env, jobject self) {
    ml::Library* library = libraryOf(env, self);
    return library != nullptr ? kestrane::jni::toHandle(library->allPlaylistsReloadingIfEmpty()) : 0;
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibrary__1getMediaItem(JNIEnv* env, jobject self, jlong persistentId) {
    ml::Library* library = libraryOf(env, self);
    if (library == nullptr) return 0;
    // The raw IDs whose Java form this is: one, but two for 0 (no ID, and 2^63).
    const std::uint64_t raw = static_cast<std::uint64_t>(persistentId) ^ (std::uint64_t{1} << 63);
    ml::MediaItem* item = persistentId != 0 ? library->mediaItemWithPersistentId({raw})
                                            : library->mediaItemWithPersistentId({raw, 0});
    return kestrane::jni::toHandle(item);
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibrary__1artworkForMediaFile(JNIEnv* env, jobject self, jstring url) {
    // The URL is converted before the handle is read; text that is no file URL finds nothing.
    const PlatformString text = kestrane::jni::platformString(env, url, "url");
    if (!text) return 0;
    if (libraryOf(env, self) == nullptr) return 0;
    return kestrane::jni::toHandle(ml::Library::artworkForMediaFile(kestrane::jni::utf8FromUtf16(*text)));
}

// ---- change tracking ---------------------------------------------------------------------------

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibrary__1getLastItemModification(JNIEnv* env, jobject self) {
    ml::Library* library = libraryOf(env, self);
    if (library == nullptr) {
        return kestrane::jni::throwJava(env, kITLibException, "Failed get last modification date. No library."), 0;
    }
    const kestrane::Expected<std::optional<double>> newest = library->lastItemModification();
    if (!newest) return reportFailure(env, "getLastItemModification: Failed to get last modification date: ", newest.error()), 0;
    return millisecondsOf(*newest);
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibrary__1getMediaItemsChangedSince(JNIEnv* env, jobject self,
                                                                                          jlong sinceMillis) {
    // A zero handle gives an empty list, which is a list all the same.
    ml::Library* library = libraryOf(env, self);
    if (library == nullptr) return kestrane::jni::toHandle(ml::Library::emptyList());
    const kestrane::Expected<ml::Array*> changed = library->mediaItemsChangedSince(static_cast<double>(sinceMillis));
    if (!changed) return kestrane::jni::throwOutOfMemory(env, changed.error().message.c_str()), 0;
    return kestrane::jni::toHandle(*changed);
}

JNIEXPORT jlongArray JNICALL Java_com_kestrane_itlibrary_ITLibrary_getMediaItemIds(JNIEnv* env, jobject self) {
    // The IDs go straight into the new array; no library gives an empty one.
    PersistentIdArray ids(env);
    if (ml::Library* library = libraryOf(env, self)) library->mediaItemIds([&ids](std::size_t n) { return ids.room(n); });
    return ids.finish();
}

JNIEXPORT jint JNICALL Java_com_kestrane_itlibrary_ITLibrary_getPlaylistHash(JNIEnv* env, jobject self) {
    ml::Library* library = libraryOf(env, self);
    if (library == nullptr) return kestrane::jni::throwJava(env, kITLibException, "Failed to compute playlist hash. No library."), 0;
    const kestrane::Expected<ml::PlaylistHash> hash = library->playlistHash();
    if (!hash) return reportFailure(env, "getPlaylistHash: Failed to compute library playlists hash: ", hash.error()), 0;
    for (std::size_t i = 0; i < hash->visibleWithoutItems; ++i) kestrane::logLine("getPlaylistHash: No items found.");
    return static_cast<jint>(hash->hash);  // the same 32 bits
}
