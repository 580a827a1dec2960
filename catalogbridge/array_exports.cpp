// com.kestrane.itlibrary.ITLibArray: a list of media items or playlists, and its references.
#include <com_kestrane_itlibrary_ITLibArray.h>

#include "catalog_handles.h"
#include "log.h"

using namespace kestrane::catalog;

namespace {

constinit const kestrane::jni::PeerPointer kArrayPointer;

}  // namespace

JNIEXPORT jint JNICALL Java_com_kestrane_itlibrary_ITLibArray__1size(JNIEnv* env, jobject self) {
    const PeerObject<const ml::Array> array(env, self, kArrayPointer);
    return array ? static_cast<jint>(array->size()) : 0;
}

JNIEXPORT jlong JNICALL Java_com_kestrane_itlibrary_ITLibArray__1get(JNIEnv* env, jobject self, jint index) {
    const PeerObject<const ml::Array> array(env, self, kArrayPointer);
    const std::size_t count = array ? array->size() : 0;
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
