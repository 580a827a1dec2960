// com.kestrane.itlibrary.ITLibMediaItem: one export per property of a media item. Each reads the
// item's handle, asks the catalogue, and converts by the property's kind: strings (null when
// absent), whole numbers (the Java declaration's width of the value), flags, dates in
// milliseconds since 1970 (0 when absent), objects as handles without a reference, IDs in
// their Java form. A zero handle answers with the kind's zero.
//
// The property exports come from the table in media_item_properties.h; the generated JNI header
// gives each its Java result type, so the compiler checks every one against the peer.
#include <com_kestrane_itlibrary_ITLibMediaItem.h>

#include "catalog_handles.h"
#include "platform_string.h"

using namespace kestrane::catalog;

namespace {

constinit const kestrane::jni::PeerPointer kItemPointer;

const ml::MediaItem* itemOf(JNIEnv* env, jobject self) {
    return objectOf<ml::MediaItem>(env, self, kItemPointer);
}

}  // namespace

#define KESTRANE_ITEM_EXPORT_NAME(peerMethod) Java_com_kestrane_itlibrary_ITLibMediaItem_##peerMethod
#define KESTRANE_ITEM_EXPORT(peerMethod, Kind, accessor, ...)                                                   \
    JNIEXPORT decltype(KESTRANE_ITEM_EXPORT_NAME(peerMethod)(nullptr, nullptr)) JNICALL                         \
    KESTRANE_ITEM_EXPORT_NAME(peerMethod)(JNIEnv * env, jobject self) {                                         \
        return property<decltype(KESTRANE_ITEM_EXPORT_NAME(peerMethod)(nullptr, nullptr)), &ml::MediaItem::accessor>( \
            env, self, kItemPointer);                                                                           \
    }
KESTRANE_MEDIA_ITEM_PROPERTIES(KESTRANE_ITEM_EXPORT, KESTRANE_ITEM_EXPORT)
#undef KESTRANE_ITEM_EXPORT
#undef KESTRANE_ITEM_EXPORT_NAME

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_getId(JNIEnv* env, jobject self) {
    return persistentIdOfPeer<ml::MediaItem>(env, self, kItemPointer);
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem__1getArtist(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? handleOf(item->artist()) : 0;
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem__1getAlbum(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? handleOf(item->album()) : 0;
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem__1getArtwork(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? handleOf(item->artwork()) : 0;
}

JNIEXPORT jstring JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem__1getProperty(JNIEnv* env, jobject self, jstring key) {
    const ml::MediaItem* item = itemOf(env, self);
    const PlatformString name = kestrane::jni::platformString(env, key, "key");
    if (!name || item == nullptr) return nullptr;
    return kestrane::jni::javaStringFromUtf8(env, item->valueForProperty(kestrane::jni::utf8FromUtf16(*name)));
}
