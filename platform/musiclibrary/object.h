// The reference-counted objects of the catalogue that the Java side holds by handle, and the
// calling thread's release scope that keeps an object handed back without a reference alive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace kestrane::musiclibrary {

enum class ObjectKind : std::uint8_t { library, array, mediaItem, playlist, album, artist };

// A reference-counted object of the catalogue. retain/release are safe from any thread.
class Object {
public:
    explicit Object(ObjectKind kind) : kind_(kind) {}
    virtual ~Object() = default;
    virtual void retain() const = 0;
    virtual void release() const = 0;

    ObjectKind kind() const { return kind_; }

private:
    ObjectKind kind_;
};

// The object as the type T when it is one (T::kKind), else null; a null object gives null.
// Any object is an Object.
template <class T>
T* objectAs(Object* object) {
    if constexpr (std::is_same_v<T, Object>) {
        return object;
    } else {
        return object != nullptr && object->kind() == T::kKind ? static_cast<T*>(object) : nullptr;
    }
}

class Snapshot;

// An object that a load of the library file made: references to it count on that load (the
// snapshot), which goes with its last reference.
class SnapshotObject : public Object {
public:
    using Object::Object;
    void retain() const override;
    void release() const override;

protected:
    friend class LibraryLoader;
    const Snapshot* snapshot_ = nullptr;
};

// An ordered list of media items or playlists.
class Array : public Object {
public:
    static constexpr ObjectKind kKind = ObjectKind::array;
    Array() : Object(kKind) {}
    virtual std::size_t size() const = 0;
    virtual Object* at(std::size_t index) const = 0;  // transfer none; index < size()
};

// Puts object (may be null) into the calling thread's release scope and returns it (transfer
// none): it stays valid at least until this thread's next handOut or the thread's end.
Object* handOut(Object* object);

}  // namespace kestrane::musiclibrary
