// The reference-counted objects of the catalogue that the Java side holds by handle, and the
// calling thread's release scope that keeps an object handed back without a reference alive.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <type_traits>

namespace kestrane::musiclibrary {

enum class ObjectKind : std::uint8_t { library, array, mediaItem, playlist, album, artist, artwork };

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
    // The elements in order (transfer none).
    virtual std::span<Object* const> elements() const = 0;
    std::size_t size() const { return elements().size(); }
    Object* at(std::size_t index) const { return elements()[index]; }  // transfer none; index < size()
};

// An object (Base is Object or Array) with a reference count of its own, freed by its last
// release. It starts with one reference, its creator's.
template <class Base>
class Counted : public Base {
public:
    using Base::Base;
    void retain() const override { refs_.fetch_add(1, std::memory_order_relaxed); }
    void release() const override {
        if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) std::unique_ptr<const Counted> last(this);
    }

private:
    mutable std::atomic<long> refs_{1};
};

// Puts object (may be null) into the calling thread's release scope and returns it (transfer
// none): it stays valid at least until this thread's next handOut or the thread's end.
Object* handOut(Object* object);

// The same for a new object whose creator's reference (transfer full) the scope takes over:
// the scope then holds the only one.
template <class T>
T* handOutNew(T* created) {
    if (created == nullptr) return nullptr;
    handOut(created);
    created->release();
    return created;
}

}  // namespace kestrane::musiclibrary
