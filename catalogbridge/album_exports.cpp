// com.kestrane.itlibrary.ITLibAlbum and ITLibArtist: the albums and artists that tracks share,
// one export per property of their tables (album.h), and their references.
#include <com_kestrane_itlibrary_ITLibAlbum.h>
#include <com_kestrane_itlibrary_ITLibArtist.h>

#include "catalog_handles.h"

using namespace kestrane::catalog;

namespace {

constinit const kestrane::jni::PeerPointer kAlbumPointer;
constinit const kestrane::jni::PeerPointer kArtistPointer;

}  // namespace

#define KESTRANE_ALBUM_EXPORT(peerMethod, accessor) \
    KESTRANE_CATALOGUE_PROPERTY_EXPORT(ITLibAlbum, ml::Album, kAlbumPointer, peerMethod, accessor)
KESTRANE_ALBUM_PROPERTIES(KESTRANE_ALBUM_EXPORT)
#undef KESTRANE_ALBUM_EXPORT

#define KESTRANE_ARTIST_EXPORT(peerMethod, accessor) \
    KESTRANE_CATALOGUE_PROPERTY_EXPORT(ITLibArtist, ml::Artist, kArtistPointer, peerMethod, accessor)
KESTRANE_ARTIST_PROPERTIES(KESTRANE_ARTIST_EXPORT)
#undef KESTRANE_ARTIST_EXPORT

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibAlbum_getId(JNIEnv* env, jobject self) {
    return persistentIdOfPeer<ml::Album>(env, self, kAlbumPointer);
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

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibArtist__1retain(JNIEnv* env, jobject self) {
    return retainPeer<ml::Artist>(env, self, kArtistPointer);
}

JNIEXPORT void JNICALL Java_com_kestrane_itlibrary_ITLibArtist__1release(JNIEnv* env, jobject self) {
    releasePeer<ml::Artist>(env, self, kArtistPointer);
}
