// com.kestrane.itlibrary.ITLibPlaylist: a playlist of the library, one export per property of
// its table (playlist.h), its parent, its items and their IDs. Playlist handles carry no
// reference: they are valid while the list they came from lives.
#include <com_kestrane_itlibrary_ITLibPlaylist.h>

#include "catalog_handles.h"

using namespace kestrane::catalog;

namespace {

constinit const kestrane::jni::PeerPointer kPlaylistPointer;

}  // namespace

#define KESTRANE_PLAYLIST_EXPORT(peerMethod, accessor) \
    KESTRANE_CATALOGUE_PROPERTY_EXPORT(ITLibPlaylist, ml::Playlist, kPlaylistPointer, peerMethod, accessor)
KESTRANE_PLAYLIST_PROPERTIES(KESTRANE_PLAYLIST_EXPORT)
#undef KESTRANE_PLAYLIST_EXPORT

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibPlaylist_getId(JNIEnv* env, jobject self) {
    return persistentIdOfPeer<ml::Playlist>(env, self, kPlaylistPointer);
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibPlaylist__1getParentId(JNIEnv* env, jobject self) {
    // The parent's ID in the same form as the parent's getId; 0 without a parent.
    const PeerObject<const ml::Playlist> playlist(env, self, kPlaylistPointer);
    return playlist ? toPersistentId(playlist->parentId()) : 0;
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibPlaylist__1getItems(JNIEnv* env, jobject self) {
    const PeerObject<const ml::Playlist> playlist(env, self, kPlaylistPointer);
    return playlist ? handleOf(playlist->items()) : 0;
}

JNIEXPORT jlongArray JNICALL Java_com_kestrane_itlibrary_ITLibPlaylist_getItemsIds(JNIEnv* env, jobject self) {
    // No playlist, or no item list: an empty array. The items are read where they are; nothing
    // in the copy blocks.
    const PeerObject<const ml::Playlist> playlist(env, self, kPlaylistPointer);
    const ml::Array* items = playlist ? playlist->items() : nullptr;
    if (items == nullptr) return persistentIdArray(env, 0, [](std::uint64_t*) {});
    return persistentIdArray(env, items->size(), [items](std::uint64_t* raw) { ml::copyPersistentIds(*items, raw); });
}
