// com.kestrane.itlibrary.ITLibAlbum and ITLibArtist: the albums and artists that tracks share,
// one property per export, and their references.
#include <com_kestrane_itlibrary_ITLibAlbum.h>
#include <com_kestrane_itlibrary_ITLibArtist.h>

#include "catalog_handles.h"

using namespace kestrane::catalog;

namespace {

constinit const kestrane::jni::PeerPointer kAlbumPointer;
constinit const kestrane::jni::PeerPointer kArtistPointer;

template <class R, auto Accessor>
R albumProperty(JNIEnv* env, jobject self) {
    return property<R, Accessor>(env, self, kAlbumPointer);
}

template <class R, auto Accessor>
R artistProperty(JNIEnv* env, jobject self) {
    return property<R, Accessor>(env, self, kArtistPointer);
}

}  // namespace

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibAlbum_getId(JNIEnv* env, jobject self) {
    return persistentIdOfPeer<ml::Album>(env, self, kAlbumPointer);
}

JNIEXPORT jstring JNICALL Java_com_kestrane_itlibrary_ITLibAlbum_getTitle(JNIEnv* env, jobject self) {
    return albumProperty<jstring, &ml::Album::title>(env, self);
}

JNIEXPORT jstring JNICALL Java_com_kestrane_itlibrary_ITLibAlbum_getSortTitle(JNIEnv* env, jobject self) {
    return albumProperty<jstring, &ml::Album::sortTitle>(env, self);
}

JNIEXPORT jint JNICALL Java_com_kestrane_itlibrary_ITLibAlbum_getTrackCount(JNIEnv* env, jobject self) {
    return albumProperty<jint, &ml::Album::trackCount>(env, self);
}

JNIEXPORT jint JNICALL Java_com_kestrane_itlibrary_ITLibAlbum_getRating(JNIEnv* env, jobject self) {
    return albumProperty<jint, &ml::Album::rating>(env, self);
}

JNIEXPORT jboolean JNICALL Java_com_kestrane_itlibrary_ITLibAlbum_isRatingComputed(JNIEnv* env, jobject self) {
    return albumProperty<jboolean, &ml::Album::isRatingComputed>(env, self);
}

JNIEXPORT jboolean JNICALL Java_com_kestrane_itlibrary_ITLibAlbum_isGapless(JNIEnv* env, jobject self) {
    return albumProperty<jboolean, &ml::Album::isGapless>(env, self);
}

JNIEXPORT jint JNICALL Java_com_kestrane_itlibrary_ITLibAlbum_getDiscNumber(JNIEnv* env, jobject self) {
    return albumProperty<jint, &ml::Album::discNumber>(env, self);
}

JNIEXPORT jint JNICALL Java_com_kestrane_itlibrary_ITLibAlbum_getDiscCount(JNIEnv* env, jobject self) {
    return albumProperty<jint, &ml::Album::discCount>(env, self);
}

JNIEXPORT jboolean JNICALL Java_com_kestrane_itlibrary_ITLibAlbum_isCompilation(JNIEnv* env, jobject self) {
    return albumProperty<jboolean, &ml::Album::isCompilation>(env, self);
}

JNIEXPORT jstring JNICALL Java_com_kestrane_itlibrary_ITLibAlbum_getAlbumArtist(JNIEnv* env, jobject self) {
    return albumProperty<jstring, &ml::Album::albumArtist>(env, self);
}

JNIEXPORT jstring JNICALL Java_com_kestrane_itlibrary_ITLibAlbum_getSortAlbumArtist(JNIEnv* env, jobject self) {
    return albumProperty<jstring, &ml::Album::sortAlbumArtist>(env, self);
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibAlbum__1retain(JNIEnv* env, jobject self) {
    return retainPeer<ml::Album>(env, self, kAlbumPointer);
}

JNIEXPORT void JNICALL Java_com_kestrane_itlibrary_ITLibAlbum__1release(JNIEnv* env, jobject self) {
    releasePeer<ml::Album>(env, self, kAlbumPointer);
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibArtist_getId(JNIEnv* env, jobject self) {
    return persistentIdOfPeer<ml::Artist>(env, self, kArtistPointer);
}

JNIEXPORT jstring JNICALL Java_com_kestrane_itlibrary_ITLibArtist_getName(JNIEnv* env, jobject self) {
    return artistProperty<jstring, &ml::Artist::name>(env, self);
}

JNIEXPORT jstring JNICALL Java_com_kestrane_itlibrary_ITLibArtist_getSortName(JNIEnv* env, jobject self) {
    return artistProperty<jstring, &ml::Artist::sortName>(env, self);
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibArtist__1retain(JNIEnv* env, jobject self) {
    return retainPeer<ml::Artist>(env, self, kArtistPointer);
}

JNIEXPORT void JNICALL Java_com_kestrane_itlibrary_ITLibArtist__1release(JNIEnv* env, jobject self) {
    releasePeer<ml::Artist>(env, self, kArtistPointer);
}
