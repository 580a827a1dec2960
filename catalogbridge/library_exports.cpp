// com.kestrane.itlibrary.ITLibrary: opening the library, its settings, reloading, and the
// lists and single objects it hands out.
#include <com_kestrane_itlibrary_ITLibrary.h>

#include "catalog_handles.h"
#include "errors.h"
#include "exported_helpers.h"
#include "library_source.h"
#include "log.h"

using namespace kestrane::catalog;

namespace {

constinit const kestrane::jni::PeerPointer kLibraryPointer;

using LibraryPeer = PeerObject<ml::Library>;

// The Java exception of each failure of the catalogue: a list that cannot be made for want of
// memory is an OutOfMemoryError; every other failure (a file that cannot be read or is not a
// library, a version the catalogue does not offer) an ITLibException.
const kestrane::jni::JavaClass& exceptionFor(const kestrane::Error& error) {
    if (error.is(ml::LibraryError::listUnreadable)) return kestrane::jni::kOutOfMemoryError;
    return kITLibException;
}

// Logs where's failure with the error's message and throws the error's exception with it.
// Without the exception class nothing is logged: the lookup's own error goes to Java.
void reportFailure(JNIEnv* env, const char* where, const kestrane::Error& error) {
    const kestrane::jni::JavaClass& exception = exceptionFor(error);
    if (exception.get(env) == nullptr) return;
    kestrane::logFormat("%s%s", where, error.message.c_str());
    kestrane::jni::throwJava(env, exception, error.message);
}

}  // namespace

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibrary_init(JNIEnv* env, jclass, jstring apiVersion) {
    const PlatformString version = kestrane::jni::platformString(env, apiVersion, "apiVersion");
    if (!version) return 0;
    const kestrane::Expected<ml::Library*> library = ml::openUserLibrary(kestrane::jni::utf8FromUtf16(*version));
    if (library) return kestrane::jni::toJava((*library)->handle());  // lives until the process ends

    // Without the exception class nothing is logged: the lookup's own error goes to Java.
    const kestrane::Error& error = library.error();
    const kestrane::jni::JavaClass& exception = exceptionFor(error);
    if (exception.get(env) == nullptr) return 0;
    // The description, then the error object, on one line: a log line is one message.
    kestrane::logFormat("Failed to init library: %s Error Domain=KestraneMusicLibrary Code=%d \"%s\"",
                        error.message.c_str(), error.code, error.message.c_str());
    kestrane::jni::throwJava(env, exception, error.message);
    return 0;
}

JNIEXPORT jstring JNICALL Java_com_kestrane_itlibrary_ITLibrary__1getMusicFolderLocation(JNIEnv* env, jobject self) {
    const LibraryPeer library(env, self, kLibraryPointer);
    return library ? kestrane::jni::javaStringFromUtf8(env, library->musicFolderLocation()) : nullptr;
}

JNIEXPORT jboolean JNICALL Java_com_kestrane_itlibrary_ITLibrary_isShowContentRating(JNIEnv* env, jobject self) {
    const LibraryPeer library(env, self, kLibraryPointer);
    return library && library->shouldShowContentRating() ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jstring JNICALL Java_com_kestrane_itlibrary_ITLibrary_getApplicationVersion(JNIEnv* env, jobject self) {
    const LibraryPeer library(env, self, kLibraryPointer);
    return library ? kestrane::jni::javaStringFromUtf8(env, library->applicationVersion()) : nullptr;
}

JNIEXPORT jint JNICALL Java_com_kestrane_itlibrary_ITLibrary_getAPIMajorVersion(JNIEnv* env, jobject self) {
    const LibraryPeer library(env, self, kLibraryPointer);
    return library ? library->apiMajorVersion() : 0;
}

JNIEXPORT jint JNICALL Java_com_kestrane_itlibrary_ITLibrary_getAPIMinorVersion(JNIEnv* env, jobject self) {
    const LibraryPeer library(env, self, kLibraryPointer);
    return library ? library->apiMinorVersion() : 0;
}

JNIEXPORT jboolean JNICALL Java_com_kestrane_itlibrary_ITLibrary__1reloadData(JNIEnv* env, jobject self) {
    const LibraryPeer library(env, self, kLibraryPointer);
    return library && library->reloadData() ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT void JNICALL Java_com_kestrane_itlibrary_ITLibrary__1unloadData(JNIEnv* env, jobject self) {
    const LibraryPeer library(env, self, kLibraryPointer);
    if (library) library->unloadData();
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibrary__1getAllMediaItems(JNIEnv* env, jobject self) {
    const LibraryPeer library(env, self, kLibraryPointer);
    return library ? handleOf(library->allMediaItemsReloadingIfEmpty()) : 0;
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibrary__1getAllPlaylists(JNIEnv* env, jobject self) {
    const LibraryPeer library(env, self, kLibraryPointer);
    return library ? handleOf(library->allPlaylistsReloadingIfEmpty()) : 0;
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibrary__1getMediaItem(JNIEnv* env, jobject self, jlong persistentId) {
    const LibraryPeer library(env, self, kLibraryPointer);
    if (!library) return 0;
    // The raw IDs whose Java form this is: one, but two for 0 (no ID, and 2^63).
    const std::uint64_t raw = static_cast<std::uint64_t>(persistentId) ^ (std::uint64_t{1} << 63);
    ml::MediaItem* item = persistentId != 0 ? library->mediaItemWithPersistentId({raw})
                                            : library->mediaItemWithPersistentId({raw, 0});
    return handleOf(item);
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibrary__1artworkForMediaFile(JNIEnv* env, jobject self, jstring url) {
    // The URL is converted before the handle is read; text that is no file URL finds nothing.
    const PlatformString text = kestrane::jni::platformString(env, url, "url");
    if (!text) return 0;
    const LibraryPeer library(env, self, kLibraryPointer);
    if (!library) return 0;
    return handleOf(ml::Library::artworkForMediaFile(kestrane::jni::utf8FromUtf16(*text)));
}

// ---- change tracking ---------------------------------------------------------------------------

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibrary__1getLastItemModification(JNIEnv* env, jobject self) {
    const LibraryPeer library(env, self, kLibraryPointer);
    if (!library) return kestrane::jni::throwJava(env, kITLibException, "Failed get last modification date. No library."), 0;
    const kestrane::Expected<std::optional<double>> newest = library->lastItemModification();
    if (!newest) return reportFailure(env, "getLastItemModification: Failed to get last modification date: ", newest.error()), 0;
    return millisecondsOf(*newest);
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibrary__1getMediaItemsChangedSince(JNIEnv* env, jobject self,
                                                                                          jlong sinceMillis) {
    // A library handle that names nothing gives an empty list, which is a list all the same.
    const LibraryPeer library(env, self, kLibraryPointer);
    if (!library) return handleOf(ml::Library::emptyList());
    const kestrane::Expected<ml::Array*> changed = library->mediaItemsChangedSince(static_cast<double>(sinceMillis));
    if (!changed) return kestrane::jni::throwJava(env, exceptionFor(changed.error()), changed.error().message), 0;
    return handleOf(*changed);
}

JNIEXPORT jlongArray JNICALL Java_com_kestrane_itlibrary_ITLibrary_getMediaItemIds(JNIEnv* env, jobject self) {
    // No library gives an empty array. The snapshot that holds the IDs is let go only after the
    // copy's critical region has ended: its last release may take locks.
    const LibraryPeer library(env, self, kLibraryPointer);
    if (!library) return persistentIdArray(env, 0, [](std::uint64_t*) {});
    const ml::Library::ItemIds ids = library->mediaItemIdsView();
    return persistentIdArray(env, ids.ids.size(), [&ids](std::uint64_t* raw) { std::copy(ids.ids.begin(), ids.ids.end(), raw); });
}

JNIEXPORT jint JNICALL Java_com_kestrane_itlibrary_ITLibrary_getPlaylistHash(JNIEnv* env, jobject self) {
    const LibraryPeer library(env, self, kLibraryPointer);
    if (!library) return kestrane::jni::throwJava(env, kITLibException, "Failed to compute playlist hash. No library."), 0;
    const kestrane::Expected<ml::PlaylistHash> hash = library->playlistHash();
    if (!hash) return reportFailure(env, "getPlaylistHash: Failed to compute library playlists hash: ", hash.error()), 0;
    for (std::size_t i = 0; i < hash->visibleWithoutItems; ++i) kestrane::logLine("getPlaylistHash: No items found.");
    return static_cast<jint>(hash->hash);  // the same 32 bits
}
