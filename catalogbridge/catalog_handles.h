// How the Java peers refer to catalogue objects: a handle (the object's address) in the peer's
// long field "pointer"; 0 means none. Persistent IDs reach Java with bit 63 inverted, so that
// unsigned order becomes signed order (0, and 2^63, map to 0).
#pragma once

#include <jni.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <span>

#include "handles.h"
#include "jni_classes.h"
#include "jni_scoped.h"
#include "library.h"
#include "platform_string.h"

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

// A new Java long[] of persistent IDs, filled in place: room(n) makes the array and gives room
// for n raw IDs inside it, finish() turns them into their Java form and hands the array over.
// No JNI call may come between room() and finish() (the room is the array's own memory).
class PersistentIdArray {
public:
    explicit PersistentIdArray(JNIEnv* env) : env_(env) {}
    // Null when the VM cannot make the array (its OutOfMemoryError is then pending).
    std::uint64_t* room(std::size_t n);
    // The array (transfer full), or null with the VM's error pending; an empty array when room()
    // was never asked for.
    jlongArray finish();

private:
    JNIEnv* env_;
    jlongArray array_ = nullptr;
    std::size_t count_ = 0;
    std::optional<jni::CriticalArray<jlongArray, jlong>> elements_;
};

// The exception the catalogue's errors reach Java as.
inline constinit const jni::JavaClass kITLibException("com/kestrane/itlibrary/ITLibException");

// ---- property exports ------------------------------------------------------------------------

// A property value of the catalogue as the Java result R of its export: strings (null when
// absent), whole numbers in the Java declaration's width (held to its range, not wrapped),
// flags, dates in milliseconds (0 when absent).
template <class R>
R toJava(JNIEnv* env, ml::Text value) {
    return jni::javaStringFromUtf8(env, value);
}
// A whole number beyond the range of the Java result is held to its nearest end.
template <class R>
R toJava(JNIEnv*, ml::Integer value) {
    if constexpr (sizeof(R) < sizeof(ml::Integer)) {
        if (value > std::numeric_limits<R>::max()) return std::numeric_limits<R>::max();
        if (value < std::numeric_limits<R>::min()) return std::numeric_limits<R>::min();
    }
    return static_cast<R>(value);
}
template <class R>
R toJava(JNIEnv*, ml::Flag value) {
    return value ? JNI_TRUE : JNI_FALSE;
}
template <class R>
R toJava(JNIEnv*, ml::Date seconds) {
    return millisecondsOf(seconds);
}

template <class>
struct ClassOf;
template <class C, class V>
struct ClassOf<V (C::*)() const> {
    using type = C;
};

// The steps of every property export: read the handle, ask the object, convert by the kind. A
// zero handle (or one of another kind) answers with the kind's zero: null, 0 or false.
template <class R, auto Accessor>
R property(JNIEnv* env, jobject self, const jni::PeerPointer& pointer) {
    using T = typename ClassOf<decltype(Accessor)>::type;
    const T* object = objectOf<T>(env, self, pointer);
    if (object == nullptr) return R{};
    return toJava<R>(env, (object->*Accessor)());
}

// The Java form of the persistent ID of a peer's object; 0 for none.
template <class T>
jlong persistentIdOfPeer(JNIEnv* env, jobject self, const jni::PeerPointer& pointer) {
    return persistentIdOf(objectOf<T>(env, self, pointer));
}

// One reference for the Java peer, which gives it back with releasePeer; returns the handle.
template <class T>
jlong retainPeer(JNIEnv* env, jobject self, const jni::PeerPointer& pointer) {
    T* object = objectOf<T>(env, self, pointer);
    if (object == nullptr) return 0;
    object->retain();
    return jni::toHandle(object);
}

template <class T>
void releasePeer(JNIEnv* env, jobject self, const jni::PeerPointer& pointer) {
    if (T* object = objectOf<T>(env, self, pointer)) object->release();
}

}  // namespace kestrane::catalog
