// com.kestrane.itlibrary.ITLibArtwork: the picture of a media item or file, and its references.
#include <com_kestrane_itlibrary_ITLibArtwork.h>

#include "catalog_handles.h"

using namespace kestrane::catalog;

namespace {

constinit const kestrane::jni::PeerPointer kArtworkPointer;

}  // namespace

JNIEXPORT jbyteArray JNICALL Java_com_kestrane_itlibrary_ITLibArtwork_getImageData(JNIEnv* env, jobject self) {
    // No artwork, or no data: an empty array, never null.
    const PeerObject<const ml::Artwork> artwork(env, self, kArtworkPointer);
    const std::string_view data = artwork ? artwork->imageData() : std::string_view();
    const auto n = static_cast<jsize>(data.size());
    jbyteArray bytes = env->NewByteArray(n);
    if (bytes == nullptr) return nullptr;  // OutOfMemoryError pending
    env->SetByteArrayRegion(bytes, 0, n, reinterpret_cast<const jbyte*>(data.data()));
    return bytes;
}

JNIEXPORT jint JNICALL Java_com_kestrane_itlibrary_ITLibArtwork__1getImageDataFormat(JNIEnv* env, jobject self) {
    const PeerObject<const ml::Artwork> artwork(env, self, kArtworkPointer);
    return artwork ? artwork->imageDataFormat() : 0;
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibArtwork__1retain(JNIEnv* env, jobject self) {
    return retainPeer<ml::Artwork>(env, self, kArtworkPointer);
}

JNIEXPORT void JNICALL Java_com_kestrane_itlibrary_ITLibArtwork__1release(JNIEnv* env, jobject self) {
    releasePeer<ml::Artwork>(env, self, kArtworkPointer);
}
