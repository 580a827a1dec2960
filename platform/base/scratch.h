// Scratch memory for one native call: on the stack up to a fixed number of elements, and
// above that a buffer owned by the calling thread and reused by its later calls (it grows to
// the largest size the thread has asked for and is freed when the thread ends). So large
// inputs cannot overflow a thread's stack, and repeated calls make no heap allocation.
//
// Only one ScratchBuffer of a given element type may be alive on a thread at a time: a call
// that needs several arrays takes one buffer and carves it.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

namespace kestrane {

template <class T, std::size_t StackCount>
class ScratchBuffer {
public:
    // Throws std::bad_alloc when the thread's buffer cannot grow.
    explicit ScratchBuffer(std::size_t count) {
        if (count <= StackCount) {
            data_ = local_.data();
            return;
        }
        std::vector<T>& shared = threadBuffer();
        if (shared.size() < count) shared.resize(count);
        data_ = shared.data();
    }
    ScratchBuffer(const ScratchBuffer&) = delete;
    ScratchBuffer& operator=(const ScratchBuffer&) = delete;

    T* data() const { return data_; }

private:
    static std::vector<T>& threadBuffer() {
        thread_local std::vector<T> buffer;
        return buffer;
    }

    std::array<T, StackCount> local_;  // left uninitialised: callers write before they read
    T* data_ = nullptr;
};

}  // namespace kestrane
