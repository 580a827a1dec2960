// The reference-counted objects of the catalogue that the Java side holds by handle, and the
// calling thread's release scope that keeps an object handed back without a reference alive.
//
// Every object gets a handle of the process's handle table (handle_table.h) when it is first
// handed out, and every object ends the same way: its handle is revoked, then the table frees
// it once no lookup can still be using it. So a handle that the Java side keeps past its
// object's end finds nothing, instead of memory that has been freed or reused.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <type_traits>

#include "handle_table.h"

namespace kestrane::musiclibrary {

// The kinds of catalogue object are kinds of handle.
using ObjectKind = HandleKind;

// A reference-counted object of the catalogue. retain/release are safe from any thread.
class Object {
public:
    explicit Object(ObjectKind kind) : kind_(kind) {}
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    virtual ~Object() = default;
    virtual void retain() const = 0;
    virtual void release() const = 0;
    // A new reference, unless the last one has gone already and the object is on its way out.
    virtual bool tryRetain() const = 0;

    ObjectKind kind() const { return kind_; }

    // The object's handle for the Java side, made on first use (the same one every time); 0
    // when the handle table is full.
    Handle handle() const;

    // Ends the object's handle, if it has one: called once, when the object's end begins (its
    // last reference, or its snapshot's, is gone).
    void revokeHandle() const;

private:
    ObjectKind kind_;
    mutable std::atomic<Handle> handle_{0};
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

class SnapshotStore;

// An object that a load of the library file made: references to it count on that load (the
// snapshot's store, snapshot_store.h), which goes with its last reference.
class SnapshotObject : public Object {
public:
    using Object::Object;
    void retain() const override;
    void release() const override;
    bool tryRetain() const override;

protected:
    friend class CatalogueBuilder;
    friend class CatalogueLinker;
    const SnapshotStore* snapshot_ = nullptr;
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
// release (through the handle table, once no lookup can be using it). It starts with one
// reference, its creator's.
template <class Base>
class Counted : public Base {
public:
    using Base::Base;
    void retain() const override { refs_.fetch_add(1, std::memory_order_relaxed); }
    void release() const override {
        if (refs_.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
        this->revokeHandle();
        HandleTable::instance().retireDelete(this);
    }
    bool tryRetain() const override {
        long n = refs_.load(std::memory_order_relaxed);
        while (n > 0) {
            if (refs_.compare_exchange_weak(n, n + 1, std::memory_order_relaxed)) return true;
        }
        return false;
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
