// Handles: the Java long through which the Java side holds a native object. A handle is the
// object's address, 0 for none. These are the only places that turn one into the other.
//
// Objects whose lifetime the Java side ends explicitly (FFT setups, players) live in a
// HandleRegistry, so that a mistaken handle (destroyed already, closed twice, never made)
// is recognised instead of being followed into freed memory, and so that an object stays
// alive until every call that is using it has returned.
#pragma once

#include <jni.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>
#include <utility>

namespace kestrane::jni {

template <class T>
jlong toHandle(T* object) {
    return static_cast<jlong>(reinterpret_cast<std::uintptr_t>(object));
}

// The object a handle names, unchecked: for kinds whose lifetime the Java side manages by
// reference counts (the catalogue's objects), where the caller checks the kind.
template <class T>
T* fromHandle(jlong handle) {
    return reinterpret_cast<T*>(static_cast<std::uintptr_t>(handle));
}

// The live objects of one kind that the Java side holds by handle. Thread-safe; lookups from
// many threads proceed side by side.
template <class T>
class HandleRegistry {
public:
    // Registers object (transfer full) and returns its handle.
    jlong add(std::shared_ptr<T> object) {
        const jlong handle = toHandle(object.get());
        std::unique_lock lock(mutex_);
        live_.insert_or_assign(handle, std::move(object));
        return handle;
    }

    // The object while its handle is live, else null. The caller's reference keeps it alive
    // until the caller drops it, even if remove() runs on another thread meanwhile.
    std::shared_ptr<T> find(jlong handle) const {
        if (handle == 0) return nullptr;
        std::shared_lock lock(mutex_);
        const auto it = live_.find(handle);
        return it != live_.end() ? it->second : nullptr;
    }

    // Ends the handle: later find() and remove() with it give null. Returns the registry's
    // reference (null when the handle was not live); the object goes when the last
    // reference does, so calls in progress finish on a living object.
    std::shared_ptr<T> remove(jlong handle) {
        if (handle == 0) return nullptr;
        std::unique_lock lock(mutex_);
        const auto it = live_.find(handle);
        if (it == live_.end()) return nullptr;
        std::shared_ptr<T> object = std::move(it->second);
        live_.erase(it);
        return object;
    }

private:
    mutable std::shared_mutex mutex_;
    std::unordered_map<jlong, std::shared_ptr<T>> live_;
};

}  // namespace kestrane::jni
