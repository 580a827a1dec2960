// com.kestrane.itlibrary.ITLibMediaItem: one export per property of a media item. Each reads the
// item's handle, asks the catalogue, and converts by the property's kind: strings (null when
// absent), whole numbers (the Java declaration's width of the value), flags, dates in
// milliseconds since 1970 (0 when absent), objects as handles without a reference, IDs in
// their Java form. A zero handle answers with the kind's zero.
#include <com_kestrane_itlibrary_ITLibMediaItem.h>

#include "catalog_strings.h"
#include "handles.h"

using namespace kestrane::catalog;

namespace {

const ml::MediaItem* itemOf(JNIEnv* env, jobject self) {
    return objectOf<ml::MediaItem>(env, self);
}

}  // namespace

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_getId(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return persistentIdOf(item);
}

JNIEXPORT jstring JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_getTitle(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? createJavaStringFromNSString(env, item->title()) : nullptr;
}

JNIEXPORT jstring JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_getSortTitle(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? createJavaStringFromNSString(env, item->sortTitle()) : nullptr;
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem__1getArtist(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? handleOf(item->artist()) : 0;
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem__1getAlbum(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? handleOf(item->album()) : 0;
}

JNIEXPORT jstring JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_getComposer(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? createJavaStringFromNSString(env, item->composer()) : nullptr;
}

JNIEXPORT jstring JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_getSortComposer(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? createJavaStringFromNSString(env, item->sortComposer()) : nullptr;
}

JNIEXPORT jint JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_getRating(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? static_cast<jint>(item->rating()) : 0;
}

JNIEXPORT jboolean JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_isRatingComputed(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr && item->isRatingComputed() ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_getStartTime(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? static_cast<jlong>(item->startTime()) : 0;
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_getStopTime(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? static_cast<jlong>(item->stopTime()) : 0;
}

JNIEXPORT jstring JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_getGenre(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? createJavaStringFromNSString(env, item->genre()) : nullptr;
}

JNIEXPORT jstring JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_getKind(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? createJavaStringFromNSString(env, item->kind()) : nullptr;
}

JNIEXPORT jint JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem__1getMediaKind(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? static_cast<jint>(item->mediaKind()) : 0;
}

JNIEXPORT jint JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem__1getLyricsContentRating(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? static_cast<jint>(item->lyricsContentRating()) : 0;
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_getTotalTime(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? static_cast<jlong>(item->totalTime()) : 0;
}

JNIEXPORT jint JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_getTrackNumber(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? static_cast<jint>(item->trackNumber()) : 0;
}

JNIEXPORT jstring JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_getCategory(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? createJavaStringFromNSString(env, item->category()) : nullptr;
}

JNIEXPORT jstring JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_getDescription(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? createJavaStringFromNSString(env, item->description()) : nullptr;
}

JNIEXPORT jstring JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_getContentRating(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? createJavaStringFromNSString(env, item->contentRating()) : nullptr;
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem__1getAddedDate(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? millisecondsOf(item->addedDate()) : 0;
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem__1getModifiedDate(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? millisecondsOf(item->modifiedDate()) : 0;
}

JNIEXPORT jint JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_getBitRate(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? static_cast<jint>(item->bitrate()) : 0;
}

JNIEXPORT jint JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_getSampleRate(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? static_cast<jint>(item->sampleRate()) : 0;
}

JNIEXPORT jint JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_getBeatsPerMinute(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? static_cast<jint>(item->beatsPerMinute()) : 0;
}

JNIEXPORT jint JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_getPlayCount(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? static_cast<jint>(item->playCount()) : 0;
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem__1getLastPlayedDate(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? millisecondsOf(item->lastPlayedDate()) : 0;
}

JNIEXPORT jstring JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem__1getLocation(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? createJavaStringFromNSString(env, item->location()) : nullptr;
}

JNIEXPORT jint JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem__1getLocationType(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? static_cast<jint>(item->locationType()) : 0;
}

JNIEXPORT jboolean JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_isArtworkAvailable(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr && item->hasArtworkAvailable() ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem__1getArtwork(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? handleOf(item->artwork()) : 0;
}

JNIEXPORT jstring JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_getComments(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? createJavaStringFromNSString(env, item->comments()) : nullptr;
}

JNIEXPORT jboolean JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_isPurchased(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr && item->isPurchased() ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jboolean JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_isDRMProtected(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr && item->isDRMProtected() ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jboolean JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_hasVideo(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr && item->isVideo() ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem__1getReleaseDate(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? millisecondsOf(item->releaseDate()) : 0;
}

JNIEXPORT jint JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_getYear(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? static_cast<jint>(item->year()) : 0;
}

JNIEXPORT jint JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_getSkipCount(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? static_cast<jint>(item->skipCount()) : 0;
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem__1getSkipDate(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? millisecondsOf(item->skipDate()) : 0;
}

JNIEXPORT jint JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_getVolumeAdjustment(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? static_cast<jint>(item->volumeAdjustment()) : 0;
}

JNIEXPORT jint JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_getVolumeNormalizationEnergy(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? static_cast<jint>(item->volumeNormalizationEnergy()) : 0;
}

JNIEXPORT jboolean JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_isUserDisabled(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr && item->isUserDisabled() ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jstring JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_getGrouping(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? createJavaStringFromNSString(env, item->grouping()) : nullptr;
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_getFileSize(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? static_cast<jlong>(item->fileSize()) : 0;
}

JNIEXPORT jboolean JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem_isCloud(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr && item->isCloud() ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jint JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem__1getPlayStatus(JNIEnv* env, jobject self) {
    const ml::MediaItem* item = itemOf(env, self);
    return item != nullptr ? static_cast<jint>(item->playStatus()) : 0;
}

JNIEXPORT jstring JNICALL Java_com_kestrane_itlibrary_ITLibMediaItem__1getProperty(JNIEnv* env, jobject self, jstring key) {
    const ml::MediaItem* item = itemOf(env, self);
    const PlatformString name = createNSStringFromJavaString(env, key, "key");
    if (!name || item == nullptr) return nullptr;
    const std::optional<std::u16string> value = item->valueForProperty(kestrane::jni::utf8FromUtf16(*name));
    return createJavaStringFromNSString(env, value);
}
