// com.kestrane.itlibrary.ITLibArray, and the reference operations of ITLibArray, ITLibAlbum,
// ITLibArtist and ITLibArtwork.
#include <com_kestrane_itlibrary_ITLibAlbum.h>
#include <com_kestrane_itlibrary_ITLibArray.h>
#include <com_kestrane_itlibrary_ITLibArtist.h>
#include <com_kestrane_itlibrary_ITLibArtwork.h>

#include "catalog_handles.h"
#include "log.h"

using namespace kestrane::catalog;
using kestrane::jni::PeerPointer;

namespace {

constinit const PeerPointer kArrayPointer;
constinit const PeerPointer kAlbumPointer;
constinit const PeerPointer kArtistPointer;
constinit const PeerPointer kArtworkPointer;

// One reference for the Java peer, which gives it back with release.
template <class T>
jlong retainPeer(JNIEnv* env, jobject self, const PeerPointer& pointer) {
    T* object = objectOf<T>(env, self, pointer);
    if (object == nullptr) return 0;
    object->retain();
    return kestrane::jni::toHandle(object);
}

template <class T>
void releasePeer(JNIEnv* env, jobject self, const PeerPointer& pointer) {
    if (T* object = objectOf<T>(env, self, pointer)) object->release();
}

}  // namespace

JNIEXPORT jint JNICALL Java_com_kestrane_itlibrary_ITLibArray__1size(JNIEnv* env, jobject self) {
    ml::Array* array = objectOf<ml::Array>(env, self, kArrayPointer);
    return array != nullptr ? static_cast<jint>(array->size()) : 0;
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibArray__1get(JNIEnv* env, jobject self, jint index) {
    ml::Array* array = objectOf<ml::Array>(env, self, kArrayPointer);
    const std::size_t count = array != nullptr ? array->size() : 0;
    if (index >= 0 && static_cast<std::uint64_t>(index) < count) return handleOf(array->at(static_cast<std::size_t>(index)));
    kestrane::logFormat("Weird... array count = %lu. Returning 0L.", static_cast<unsigned long>(count));
    return 0;
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibArray__1retain(JNIEnv* env, jobject self) {
    return retainPeer<ml::Array>(env, self, kArrayPointer);
}

JNIEXPORT void JNICALL Java_com_kestrane_itlibrary_ITLibArray__1release(JNIEnv* env, jobject self) {
    releasePeer<ml::Array>(env, self, kArrayPointer);
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibAlbum__1retain(JNIEnv* env, jobject self) {
    return retainPeer<ml::Album>(env, self, kAlbumPointer);
}

JNIEXPORT void JNICALL Java_com_kestrane_itlibrary_ITLibAlbum__1release(JNIEnv* env, jobject self) {
    releasePeer<ml::Album>(env, self, kAlbumPointer);
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibArtist__1retain(JNIEnv* env, jobject self) {
    return retainPeer<ml::Artist>(env, self, kArtistPointer);
}

JNIEXPORT void JNICALL Java_com_kestrane_itlibrary_ITLibArtist__1release(JNIEnv* env, jobject self) {
    releasePeer<ml::Artist>(env, self, kArtistPointer);
}

// No artwork is read yet, so an artwork handle can only be another kind of object; it is
// counted as that object.
JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibArtwork__1retain(JNIEnv* env, jobject self) {
    return retainPeer<ml::Object>(env, self, kArtworkPointer);
}

JNIEXPORT void JNICALL Java_com_kestrane_itlibrary_ITLibArtwork__1release(JNIEnv* env, jobject self) {
    releasePeer<ml::Object>(env, self, kArtworkPointer);
}
