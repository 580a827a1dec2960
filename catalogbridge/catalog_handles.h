// How the Java peers refer to catalogue objects: a handle (the object's address) in the peer's
// long field "pointer"; 0 means none. Persistent IDs reach Java with bit 63 inverted, so that
// unsigned order becomes signed order (0, and 2^63, map to 0).
#pragma once

#include <jni.h>

#include <cstdint>
#include <optional>

#include "handles.h"
#include "jni_classes.h"
#include "library.h"

namespace kestrane::catalog {

namespace ml = kestrane::musiclibrary;

// The object behind a peer's handle, as the kind the export expects; null for 0 or another
// kind (a wrong-kind handle answers like a zero one instead of misreading memory). pointer is
// the "pointer" field of the peer's class.
template <class T>
T* objectOf(JNIEnv* env, jobject peer, const jni::PeerPointer& pointer) {
    return ml::objectAs<T>(jni::fromHandle<ml::Object>(pointer.read(env, peer)));
}

// An object's handle, handed to the caller without a reference: the calling thread's release
// scope keeps it alive until the thread's next such object.
jlong handleOf(ml::Object* object);

// The Java form of a raw persistent ID.
jlong toPersistentId(std::optional<std::uint64_t> raw);

// The Java form of an object's persistent ID; 0 for none.
template <class T>
jlong persistentIdOf(const T* object) {
    if (object == nullptr) return 0;
    return toPersistentId(object->persistentId());
}

// Milliseconds since 1970, the fraction dropped toward zero; 0 for no date.
jlong millisecondsOf(std::optional<double> seconds);

}  // namespace kestrane::catalog
