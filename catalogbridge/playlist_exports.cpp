// com.kestrane.itlibrary.ITLibPlaylist: a playlist of the library, one property per export.
// Playlist handles carry no reference: they are valid while the list they came from lives.
#include <com_kestrane_itlibrary_ITLibPlaylist.h>

#include "catalog_handles.h"

using namespace kestrane::catalog;

namespace {

constinit const kestrane::jni::PeerPointer kPlaylistPointer;

const ml::Playlist* playlistOf(JNIEnv* env, jobject self) {
    return objectOf<ml::Playlist>(env, self, kPlaylistPointer);
}

template <class R, auto Accessor>
R playlistProperty(JNIEnv* env, jobject self) {
    return property<R, Accessor>(env, self, kPlaylistPointer);
}

}  // namespace

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibPlaylist_getId(JNIEnv* env, jobject self) {
    return persistentIdOfPeer<ml::Playlist>(env, self, kPlaylistPointer);
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibPlaylist__1getParentId(JNIEnv* env, jobject self) {
    // The parent's ID in the same form as the parent's getId; 0 without a parent.
    const ml::Playlist* playlist = playlistOf(env, self);
    return playlist != nullptr ? toPersistentId(playlist->parentId()) : 0;
}

JNIEXPORT jboolean JNICALL Java_com_kestrane_itlibrary_ITLibPlaylist_isVisible(JNIEnv* env, jobject self) {
    return playlistProperty<jboolean, &ml::Playlist::isVisible>(env, self);
}

JNIEXPORT jstring JNICALL Java_com_kestrane_itlibrary_ITLibPlaylist_getName(JNIEnv* env, jobject self) {
    return playlistProperty<jstring, &ml::Playlist::name>(env, self);
}

JNIEXPORT jboolean JNICALL Java_com_kestrane_itlibrary_ITLibPlaylist_isMaster(JNIEnv* env, jobject self) {
    return playlistProperty<jboolean, &ml::Playlist::isMaster>(env, self);
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibPlaylist__1getItems(JNIEnv* env, jobject self) {
    // The playlist's own list: it lives as long as the playlist does, so no release scope is needed.
    const ml::Playlist* playlist = playlistOf(env, self);
    return playlist != nullptr ? kestrane::jni::toHandle(playlist->items()) : 0;
}

JNIEXPORT jlongArray JNICALL Java_com_kestrane_itlibrary_ITLibPlaylist_getItemsIds(JNIEnv* env, jobject self) {
    // No playlist, or no item list: an empty array.
    const ml::Playlist* playlist = playlistOf(env, self);
    const ml::Array* items = playlist != nullptr ? playlist->items() : nullptr;
    PersistentIdArray ids(env);
    if (items != nullptr) {
        if (std::uint64_t* room = ids.room(items->size())) ml::copyPersistentIds(*items, room);
    }
    return ids.finish();
}

JNIEXPORT jint JNICALL Java_com_kestrane_itlibrary_ITLibPlaylist__1getDistinguishedKind(JNIEnv* env, jobject self) {
    return playlistProperty<jint, &ml::Playlist::distinguishedKind>(env, self);
}

JNIEXPORT jint JNICALL Java_com_kestrane_itlibrary_ITLibPlaylist__1getKind(JNIEnv* env, jobject self) {
    return playlistProperty<jint, &ml::Playlist::kind>(env, self);
}
