// A process-wide object that is built on first use and never destroyed. Objects that the Java
// side reaches through handles (registries of live setups and players, for example) must stay
// usable while the JVM's own threads run on during process exit, when static destructors of
// the library would already have torn them down.
#pragma once

#include <memory>
#include <new>
#include <utility>

namespace kestrane {

template <class T>
class NoDestructor {
public:
    template <class... Args>
    explicit NoDestructor(Args&&... args) {
        std::construct_at(reinterpret_cast<T*>(storage_), std::forward<Args>(args)...);
    }
    NoDestructor(const NoDestructor&) = delete;
    NoDestructor& operator=(const NoDestructor&) = delete;
    ~NoDestructor() = default;  // the object inside is left alone on purpose

    T& get() { return *std::launder(reinterpret_cast<T*>(storage_)); }
    T* operator->() { return &get(); }

private:
    alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace kestrane
