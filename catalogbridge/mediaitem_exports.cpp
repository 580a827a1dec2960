// com.kestrane.itlibrary.ITLibMediaItem: one export per property of a media item. Each reads the
// item's handle, asks the catalogue, and converts by the property's kind: strings (null when
// absent), whole numbers (the Java declaration's width of the value), flags, dates in
// milliseconds since 1970 (0 when absent), objects as handles without a reference, IDs in
// their Java form. A handle that names no live media item answers with the kind's zero.
//
// The property exports come from the table in media_item_properties.h.
#include <com_kestrane_itlibrary_ITLibMediaItem.h>

#include "catalog_handles.h"
#include "platform_string.h"

using namespace kestrane::catalog;

namespace {

constinit const kestrane::jni::PeerPointer kItemPointer;

// The handle of an object that the item names (transfer none); 0 without an item.
template <auto Accessor>
jlong relatedObject(JNIEnv* env, jobject self) {
    const PeerObject<const ml::MediaItem> item(env, self, kItemPointer);
    return item ? handleOf((item.get()->*Accessor)()) : 0;
}

}  // namespace

#define KESTRANE_ITEM_EXPORT(peerMethod, Kind, accessor, ...) \
    KESTRANE_CATALOGUE_PROPERTY_EXPORT(ITLibMediaItem, ml::MediaItem, kItemPointer, peerMethod, accessor)
KESTRANE_MEDIA_ITEM_PROPERTIES(KESTRANE_ITEM_EXPORT, KESTRANE_ITEM_EXPORT)
#undef KESTRANE_ITEM_EXPORT

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_getId(JNIEnv* env, jobject self) {
    return persistentIdOfPeer<ml::MediaItem>(env, self, kItemPointer);
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem__1getArtist(JNIEnv* env, jobject self) {
    return relatedObject<&ml::MediaItem::artist>(env, self);
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem__1getAlbum(JNIEnv* env, jobject self) {
    return relatedObject<&ml::MediaItem::album>(env, self);
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem__1getArtwork(JNIEnv* env, jobject self) {
    return relatedObject<&ml::MediaItem::artwork>(env, self);
}

JNIEXPORT jstring JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem__1getProperty(JNIEnv* env, jobject self, jstring key) {
    // The key is converted first: a null key throws whatever the handle.
    const PlatformString name = kestrane::jni::platformString(env, key, "key");
    if (!name) return nullptr;
    const PeerObject<const ml::MediaItem> item(env, self, kItemPointer);
    if (!item) return nullptr;
    return kestrane::jni::javaStringFromUtf8(env, item->valueForProperty(kestrane::jni::utf8FromUtf16(*name)));
}
