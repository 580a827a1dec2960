// How the Java peers refer to catalogue objects: a handle of the handle table (handles.h) in
// the peer's long field "pointer"; 0 means none. A handle is followed only under a pin
// (PeerObject), so that the object cannot be freed while an export reads it, and a handle that
// is garbage, of another kind, or whose object has ended answers as 0. Persistent IDs reach
// Java with bit 63 inverted, so that unsigned order becomes signed order (0, and 2^63, map to 0).
#pragma once

#include <jni.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <span>

#include "errors.h"
#include "handles.h"
#include "jni_classes.h"
#include "java_string_cache.h"
#include "jni_scoped.h"
#include "library.h"
#include "platform_string.h"

namespace kestrane::catalog {

namespace ml = kestrane::musiclibrary;

// The object of a handle as the kind T, found under the caller's pin; null for 0, garbage, an
// ended object or another kind.
template <class T>
T* objectAt(jlong handle) {
    auto* object = static_cast<ml::Object*>(HandleTable::instance().find(jni::fromJava(handle), T::kKind));
    return ml::objectAs<T>(object);
}

// The object behind a peer's handle, as the kind the export expects, pinned for the life of
// this holder: an export reads it freely until it returns. Null (as for 0) when the handle
// names no live object of that kind. pointer is the "pointer" field of the peer's class.
template <class T>
class PeerObject {
public:
    PeerObject(JNIEnv* env, jobject peer, const jni::PeerPointer& pointer)
        : handle_(pointer.read(env, peer)), object_(objectAt<T>(handle_)) {}
    PeerObject(const PeerObject&) = delete;
    PeerObject& operator=(const PeerObject&) = delete;

    T* get() const { return object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    jlong handle() const { return handle_; }

private:
    jni::HandlePin pin_;  // first: the pin begins before the lookup and ends after the last use
    jlong handle_;
    T* object_;
};

// An object's handle, handed to the caller without a reference: the calling thread's release
// scope keeps it alive until the thread's next such object. 0 for null.
jlong handleOf(ml::Object* object);

// The Java form of a raw persistent ID.
// (Inline: the ID arrays convert every element with it.)
inline jlong toPersistentId(std::optional<std::uint64_t> raw) {
    const std::uint64_t v = raw.value_or(0);
    if (v == 0) return 0;
    return static_cast<jlong>(v ^ (std::uint64_t{1} << 63));
}

// The Java form of an object's persistent ID; 0 for none.
template <class T>
jlong persistentIdOf(const T* object) {
    if (object == nullptr) return 0;
    return toPersistentId(object->persistentId());
}

// Milliseconds since 1970, the fraction dropped toward zero; 0 for no date.
jlong millisecondsOf(std::optional<double> seconds);

// A new Java long[] of n persistent IDs in their Java form (transfer full): fill(raw) writes
// the n raw IDs straight into the array's memory, inside a JNI critical region, so it must
// neither block (no lock, no release of a reference) nor call JNI. Null with the VM's error
// pending when the array cannot be made.
template <class Fill>
jlongArray persistentIdArray(JNIEnv* env, std::size_t n, Fill fill) {
    if (n > static_cast<std::size_t>(std::numeric_limits<jsize>::max())) {
        return jni::throwOutOfMemory(env, "Too many persistent IDs for a Java array."), nullptr;
    }
    jni::LocalRef<jlongArray> array(env, env->NewLongArray(static_cast<jsize>(n)));
    if (!array) return nullptr;  // OutOfMemoryError pending
    if (n == 0) return array.release();
    {
        const jni::ReadWriteCriticalLongs elements(env, array.get());
        if (!elements) return nullptr;
        // jlong and std::uint64_t are a signed and unsigned pair of one size: the array's memory
        // takes the raw IDs as they are, and turns them into their Java form in place.
        jlong* ids = elements.data();
        auto* raw = reinterpret_cast<std::uint64_t*>(ids);
        fill(raw);
        for (std::size_t i = 0; i < n; ++i) ids[i] = toPersistentId(raw[i]);
    }
    return array.release();
}

// The exception the catalogue's errors reach Java as.
inline constinit const jni::JavaClass kITLibException("com/kestrane/itlibrary/ITLibException");

// ---- property exports ------------------------------------------------------------------------

// A property value of the catalogue as the Java result R of its export: strings (null when
// absent), whole numbers in the Java declaration's width (held to its range, not wrapped),
// flags, dates in milliseconds (0 when absent).
template <class R>
R toJava(JNIEnv* env, ml::Text value) {
    return javaStringOfText(env, value);
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
    const PeerObject<const T> object(env, self, pointer);
    if (!object) return R{};
    return toJava<R>(env, (object.get()->*Accessor)());
}

// The Java form of the persistent ID of a peer's object; 0 for none.
template <class T>
jlong persistentIdOfPeer(JNIEnv* env, jobject self, const jni::PeerPointer& pointer) {
    const PeerObject<const T> object(env, self, pointer);
    return persistentIdOf(object.get());
}

// One reference for the Java peer, which gives it back with releasePeer; returns the handle
// (0, taking nothing, for a handle that names no live object of the kind).
template <class T>
jlong retainPeer(JNIEnv* env, jobject self, const jni::PeerPointer& pointer) {
    const PeerObject<const T> object(env, self, pointer);
    // An object whose last reference is going cannot be revived; one whose count of the Java
    // side's references is full takes no more.
    if (!object || !object->tryRetain()) return 0;
    if (!HandleTable::instance().addHolderReference(jni::fromJava(object.handle()), T::kKind)) {
        object->release();
        return 0;
    }
    return object.handle();
}

// Gives back one reference that the Java peer took with retainPeer; a release the Java side
// never took (a second release, a release of a handle never retained) does nothing, so it
// cannot free what the library itself still holds.
template <class T>
void releasePeer(JNIEnv* env, jobject self, const jni::PeerPointer& pointer) {
    const PeerObject<const T> object(env, self, pointer);
    if (!object) return;
    if (HandleTable::instance().dropHolderReference(jni::fromJava(object.handle()), T::kKind)) object->release();
}

}  // namespace kestrane::catalog

// One export per row of a property table (media_item_properties.h, album.h, playlist.h): Peer
// is the Java class, Class the catalogue's, pointer the peer's "pointer" field. The generated
// JNI header gives each export its Java result type, so the compiler checks every row against
// the peer's declaration.
#define KESTRANE_CATALOGUE_EXPORT_NAME(Peer, peerMethod) Java_com_kestrane_itlibrary_##Peer##_##peerMethod
#define KESTRANE_CATALOGUE_PROPERTY_EXPORT(Peer, Class, pointer, peerMethod, accessor)                                 \
    JNIEXPORT decltype(KESTRANE_CATALOGUE_EXPORT_NAME(Peer, peerMethod)(nullptr, nullptr)) JNICALL                      \
    KESTRANE_CATALOGUE_EXPORT_NAME(Peer, peerMethod)(JNIEnv * env, jobject self) {                                     \
        using Result = decltype(KESTRANE_CATALOGUE_EXPORT_NAME(Peer, peerMethod)(nullptr, nullptr));                    \
        return kestrane::catalog::property<Result, &Class::accessor>(env, self, pointer);                              \
    }
