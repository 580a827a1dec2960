// com.kestrane.itlibrary.ITLibrary: opening the library, its settings, reloading, and the
// lists and single objects it hands out.
#include <com_kestrane_itlibrary_ITLibrary.h>

#include "catalog_handles.h"
#include "errors.h"
#include "exported_helpers.h"
#include "log.h"

using namespace kestrane::catalog;

namespace {

constinit const kestrane::jni::JavaClass kITLibException("com/kestrane/itlibrary/ITLibException");
constinit const kestrane::jni::PeerPointer kLibraryPointer;

ml::Library* libraryOf(JNIEnv* env, jobject self) {
    return objectOf<ml::Library>(env, self, kLibraryPointer);
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
    kestrane::logFormat("Failed to init library: %s\nError Domain=KestraneMusicLibrary Code=%d \"%s\"",
                        error.message.c_str(), error.code, error.message.c_str());
    kestrane::jni::throwJava(env, kITLibException, error.message.c_str());
    return 0;
}

JNIEXPORT jstring JNICALL Java_com_kestrane_itlibrary_ITLibrary__1getMusicFolderLocation(JNIEnv* env, jobject self) {
    ml::Library* library = libraryOf(env, self);
    return library != nullptr ? kestrane::jni::javaString(env, library->musicFolderLocation()) : nullptr;
}

JNIEXPORT jboolean JNICALL Java_com_kestrane_itlibrary_ITLibrary_isShowContentRating(JNIEnv* env, jobject self) {
    ml::Library* library = libraryOf(env, self);
    return library != nullptr && library->shouldShowContentRating() ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jstring JNICALL Java_com_kestrane_itlibrary_ITLibrary_getApplicationVersion(JNIEnv* env, jobject self) {
    ml::Library* library = libraryOf(env, self);
    return library != nullptr ? kestrane::jni::javaString(env, library->applicationVersion()) : nullptr;
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
    const PlatformString text = kestrane::jni::platformString(env, url, "url");
    if (!text) return 0;
    ml::Library* library = libraryOf(env, self);
    if (library == nullptr) return 0;
    return 0;  // no artwork reader yet: no file has artwork
}
