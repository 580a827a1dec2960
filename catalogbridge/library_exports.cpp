// com.kestrane.itlibrary.ITLibrary: opening the library, its settings, reloading, and the
// lists and single objects it hands out.
#include <com_kestrane_itlibrary_ITLibrary.h>

#include "catalog_strings.h"
#include "handles.h"
#include "jni_scoped.h"
#include "log.h"

using namespace kestrane::catalog;

namespace {

ml::Library* libraryOf(JNIEnv* env, jobject self) {
    return objectOf<ml::Library>(env, self);
}

// The library's list, reloaded once when it is empty.
ml::Array* listWithReload(ml::Library* library, ml::Array* (ml::Library::*fetch)()) {
    ml::Array* list = (library->*fetch)();
    if (list->size() == 0) {
        library->reloadData();
        list = (library->*fetch)();
    }
    return list;
}

}  // namespace

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibrary_init(JNIEnv* env, jclass, jstring apiVersion) {
    const PlatformString version = createNSStringFromJavaString(env, apiVersion, "apiVersion");
    if (!version) return 0;
    std::string error;
    ml::Library* library = ml::Library::open(kestrane::jni::utf8FromUtf16(*version), error);
    if (library != nullptr) return static_cast<jlong>(reinterpret_cast<std::uintptr_t>(library));  // lives forever

    kestrane::jni::LocalRef<jclass> exceptionClass(env, env->FindClass("com/kestrane/itlibrary/ITLibException"));
    if (!exceptionClass) return 0;  // the lookup's own error is pending
    kestrane::logFormat("Failed to init library: %s\nError Domain=KestraneMusicLibrary Code=1 \"%s\"", error.c_str(),
                        error.c_str());
    env->ThrowNew(exceptionClass.get(), error.c_str());
    return 0;
}

JNIEXPORT jstring JNICALL Java_com_kestrane_itlibrary_ITLibrary__1getMusicFolderLocation(JNIEnv* env, jobject self) {
    ml::Library* library = libraryOf(env, self);
    return library != nullptr ? createJavaStringFromNSString(env, library->musicFolderLocation()) : nullptr;
}

JNIEXPORT jboolean JNICALL Java_com_kestrane_itlibrary_ITLibrary_isShowContentRating(JNIEnv* env, jobject self) {
    ml::Library* library = libraryOf(env, self);
    return library != nullptr && library->shouldShowContentRating() ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jstring JNICALL Java_com_kestrane_itlibrary_ITLibrary_getApplicationVersion(JNIEnv* env, jobject self) {
    ml::Library* library = libraryOf(env, self);
    return library != nullptr ? createJavaStringFromNSString(env, library->applicationVersion()) : nullptr;
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
    if (library == nullptr) return 0;
    return handleOf(listWithReload(library, &ml::Library::allMediaItems));
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibrary__1getAllPlaylists(JNIEnv* env, jobject self) {
    ml::Library* library = libraryOf(env, self);
    if (library == nullptr) return 0;
    return handleOf(listWithReload(library, &ml::Library::allPlaylists));
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibrary__1getMediaItem(JNIEnv* env, jobject self, jlong persistentId) {
    ml::Library* library = libraryOf(env, self);
    if (library == nullptr) return 0;
    ml::Array* items = listWithReload(library, &ml::Library::allMediaItems);
    // The list stays held by this thread's release scope while it is searched.
    const auto n = static_cast<std::int32_t>(items->size());
    for (std::int32_t i = 0; i < n; ++i) {
        auto* item = static_cast<ml::MediaItem*>(items->at(static_cast<std::size_t>(i)));
        if (persistentIdOf(item) == persistentId) return handleOf(item);
    }
    return 0;
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibrary__1artworkForMediaFile(JNIEnv* env, jobject self, jstring url) {
    const PlatformString text = createNSStringFromJavaString(env, url, "url");
    if (!text) return 0;
    ml::Library* library = libraryOf(env, self);
    if (library == nullptr) return 0;
    return 0;  // no artwork reader yet: no file has artwork
}
