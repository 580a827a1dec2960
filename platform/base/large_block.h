// A large block of memory for data that lives as long as its owner and is filled once: taken
// straight from the system in whole 2 MiB pages, marked for transparent huge pages. A large
// catalogue then costs a few hundred page faults where 4 KiB pages would cost tens of
// thousands. Where huge pages are off, the block is ordinary memory.
#pragma once

#include <cstddef>
#include <memory>

namespace kestrane {

class LargeBlock {
public:
    // The huge-page size the blocks are aligned to and rounded up to.
    static constexpr std::size_t kPage = std::size_t{2} << 20;

    LargeBlock() = default;
    // A block of at least size bytes (uninitialised); throws std::bad_alloc without memory.
    explicit LargeBlock(std::size_t size);
    LargeBlock(LargeBlock&& other) noexcept;
    LargeBlock& operator=(LargeBlock&& other) noexcept;
    LargeBlock(const LargeBlock&) = delete;
    LargeBlock& operator=(const LargeBlock&) = delete;
    ~LargeBlock();

    char* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    void free();

    char* data_ = nullptr;
    std::size_t size_ = 0;
    // Under AddressSanitizer the block comes from the heap, so that overruns are still caught.
    std::unique_ptr<char[]> heap_;
};

}  // namespace kestrane
