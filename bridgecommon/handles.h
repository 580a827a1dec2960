// Handles: the Java long through which the Java side holds a native object; 0 for none. Every
// kind follows one rule, that of the process's handle table (handle_table.h): a handle names a
// slot, its generation and the object's kind, and is checked before it is followed, so that a
// garbage, ended or other-kind value answers as for 0 and never crashes; a handle never names
// an object made after it ended.
//
// Two kinds of lifetime sit on that rule:
//   - objects whose life the Java side ends itself (FFT setups, players, activities) live in a
//     HandleRegistry: ending a handle that is not live does nothing, and an object that one
//     thread ends while others are using it goes only when their calls have returned;
//   - the catalogue's reference-counted objects give out their handles themselves and are
//     followed under a HandlePin (catalogbridge/catalog_handles.h).
#pragma once

#include <jni.h>

#include <memory>
#include <utility>

#include "handle_table.h"

namespace kestrane::jni {

// While alive, no object found through a handle on this thread is freed (see HandleTable::Pin).
using HandlePin = HandleTable::Pin;

// A handle in the Java form, and back: the same 64 bits.
inline jlong toJava(Handle handle) {
    return static_cast<jlong>(handle);
}
inline Handle fromJava(jlong handle) {
    return static_cast<Handle>(handle);
}

// The live objects of one kind that the Java side holds by handle, with shared ownership: the
// registry holds one reference, and every caller that finds an object holds another until it
// drops it. Thread-safe; lookups take no lock.
template <class T, HandleKind Kind>
class HandleRegistry {
public:
    // Registers object (transfer full) and returns its handle; 0 (and the object goes) when the
    // handle table is full.
    jlong add(std::shared_ptr<T> object) {
        auto box = std::make_unique<Box>(std::move(object));
        const Handle handle = table().issue(box.get(), Kind);
        if (handle == 0) return 0;
        box.release();  // the table's until remove() retires it
        return toJava(handle);
    }

    // The object while its handle is live, else null. The caller's reference keeps it alive
    // until the caller drops it, even if remove() runs on another thread meanwhile.
    std::shared_ptr<T> find(jlong handle) const {
        const HandlePin pin;
        const auto* box = static_cast<const Box*>(table().find(fromJava(handle), Kind));
        return box != nullptr ? *box : nullptr;
    }

    // Ends the handle: later find() and remove() with it give null. Returns the registry's
    // reference (null when the handle was not live); the object goes when the last reference
    // does, so calls in progress finish on a living object.
    std::shared_ptr<T> remove(jlong handle) {
        const auto* box = static_cast<const Box*>(table().revoke(fromJava(handle), Kind));
        if (box == nullptr) return nullptr;
        std::shared_ptr<T> object = *box;
        table().retireDelete(box);  // lookups that found it may still be copying it
        return object;
    }

private:
    using Box = std::shared_ptr<T>;
    static HandleTable& table() { return HandleTable::instance(); }
};

}  // namespace kestrane::jni
