#include "large_block.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>
#include <utility>

#if defined(__SANITIZE_ADDRESS__)
#define KESTRANE_BLOCKS_FROM_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTRANE_BLOCKS_FROM_HEAP 1
#endif
#endif

namespace kestrane {

LargeBlock::LargeBlock(std::size_t size) {
    size_ = (size + kPage - 1) / kPage * kPage;
#if defined(KESTRANE_BLOCKS_FROM_HEAP)
    heap_ = std::make_unique_for_overwrite<char[]>(size_);
    data_ = heap_.get();
#else
    // Map a page more than needed and trim both ends, so that the block starts on a huge-page
    // boundary.
    const std::size_t mapped = size_ + kPage;
    void* raw = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    auto* base = static_cast<char*>(raw);
    const auto address = reinterpret_cast<std::uintptr_t>(base);
    const std::size_t lead = (kPage - address % kPage) % kPage;
    if (lead > 0) munmap(base, lead);
    if (kPage - lead > 0) munmap(base + lead + size_, kPage - lead);
    data_ = base + lead;
    madvise(data_, size_, MADV_HUGEPAGE);  // advice only: without huge pages the block still works
#endif
}

LargeBlock::LargeBlock(LargeBlock&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)), heap_(std::move(other.heap_)) {}

LargeBlock& LargeBlock::operator=(LargeBlock&& other) noexcept {
    if (this != &other) {
        free();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        heap_ = std::move(other.heap_);
    }
    return *this;
}

LargeBlock::~LargeBlock() {
    free();
}

void LargeBlock::free() {
#if !defined(KESTRANE_BLOCKS_FROM_HEAP)
    if (data_ != nullptr) munmap(data_, size_);
#endif
    heap_.reset();
    data_ = nullptr;
    size_ = 0;
}

}  // namespace kestrane
