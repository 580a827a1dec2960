// How a snapshot stores what it read: every value of every track as a 12-byte field, strings
// and data as UTF-8 bytes (as the file has them) in large pooled chunks. Nothing here
// reallocates a whole store as it grows, so a load never holds twice its memory, and
// addresses stay put.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <iterator>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "large_block.h"

namespace kestrane::musiclibrary {

enum class FieldType : std::uint8_t { string, integer, real, date, boolean, data, array, dict };

// A pooled string's place: see StringPool.
struct PoolRef {
    std::uint32_t position = 0;
    std::uint32_t length = 0;
};

// One value of a track, in 12 bytes: two thirds of the memory a catalogue holds is fields.
struct Field {
    static constexpr std::uint8_t kUnsigned = 1;  // an integer of 2^63 or more, kept unsigned

    std::uint16_t key = 0;  // TrackKey number, or a number the snapshot gave an unknown key
    FieldType type = FieldType::string;
    std::uint8_t flags = 0;
    std::uint32_t words[2] = {0, 0};  // the value: 8 bytes of an integer or double, or a PoolRef

    static Field ofInteger(std::uint16_t key, std::uint64_t bits, bool isUnsigned) {
        Field f = with(key, FieldType::integer, bits);
        f.flags = isUnsigned ? kUnsigned : 0;
        return f;
    }
    static Field ofDouble(std::uint16_t key, FieldType type, double value) {
        std::uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        return with(key, type, bits);
    }
    static Field ofString(std::uint16_t key, FieldType type, PoolRef ref) {
        Field f{key, type, 0, {ref.position, ref.length}};
        return f;
    }
    static Field ofBoolean(std::uint16_t key, bool value) { return with(key, FieldType::boolean, value ? 1 : 0); }
    static Field ofContainer(std::uint16_t key, FieldType type) { return with(key, type, 0); }

    std::uint64_t bits() const { return (static_cast<std::uint64_t>(words[1]) << 32) | words[0]; }
    bool isUnsigned() const { return (flags & kUnsigned) != 0; }
    // An integer or a boolean; an unsigned integer beyond the signed range reads as the
    // largest signed value.
    std::int64_t integer() const {
        if (isUnsigned()) return INT64_MAX;
        return static_cast<std::int64_t>(bits());
    }
    double real() const {  // a real or a date
        const std::uint64_t b = bits();
        double value;
        std::memcpy(&value, &b, sizeof value);
        return value;
    }
    PoolRef ref() const { return PoolRef{words[0], words[1]}; }

private:
    static Field with(std::uint16_t key, FieldType type, std::uint64_t bits) {
        Field f{key, type, 0, {static_cast<std::uint32_t>(bits), static_cast<std::uint32_t>(bits >> 32)}};
        return f;
    }
};
static_assert(sizeof(Field) == 12);

// A vector of trivially copyable values that grows in chunks of one huge page each (the values
// never move).
template <class T>
class ChunkedStore {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    static constexpr std::size_t kChunkSize = LargeBlock::kPage / sizeof(T);

    std::size_t size() const { return size_; }
    T& push_back(const T& value) {
        if (size_ == chunks_.size() * kChunkSize) chunks_.emplace_back(LargeBlock::kPage);
        T* slot = chunkAt(size_ / kChunkSize) + size_ % kChunkSize;
        ++size_;
        return *new (slot) T(value);
    }
    // Moves other's values after these, from a chunk of their own (the rest of the last chunk
    // here stays unused, and is never read): returns the index other's first value now has.
    std::size_t append(ChunkedStore&& other) {
        const std::size_t base = chunks_.size() * kChunkSize;
        for (LargeBlock& chunk : other.chunks_) chunks_.push_back(std::move(chunk));
        size_ = base + other.size_;
        other.chunks_.clear();
        other.size_ = 0;
        return base;
    }
    // Calls f with each value from index first on, a chunk at a time.
    template <class F>
    void forEachFrom(std::size_t first, F f) {
        for (std::size_t c = first / kChunkSize; c < chunks_.size(); ++c) {
            T* chunk = chunkAt(c);
            const std::size_t from = c == first / kChunkSize ? first % kChunkSize : 0;
            const std::size_t to = std::min(kChunkSize, size_ - c * kChunkSize);
            for (std::size_t i = from; i < to; ++i) f(chunk[i]);
        }
    }
    T& operator[](std::size_t i) { return chunkAt(i / kChunkSize)[i % kChunkSize]; }
    const T& operator[](std::size_t i) const { return chunkAt(i / kChunkSize)[i % kChunkSize]; }

private:
    T* chunkAt(std::size_t c) const { return reinterpret_cast<T*>(chunks_[c].data()); }

    std::vector<LargeBlock> chunks_;
    std::size_t size_ = 0;
};

// A list of objects that never move, as in a std::deque, which can take another list's objects
// without moving them either (a load read by two threads joins what each one made this way):
// the objects stay in the deques they were made in, one after the other.
template <class T>
class StableList {
public:
    StableList() { parts_.push_back(std::make_unique<std::deque<T>>()); }

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    T& emplace_back() {
        ++size_;
        return parts_.back()->emplace_back();
    }
    T& back() { return parts_.back()->back(); }
    T& operator[](std::size_t i) {
        for (const auto& part : parts_) {
            if (i < part->size()) return (*part)[i];
            i -= part->size();
        }
        return parts_.back()->at(i);  // out of range: throws
    }
    const T& operator[](std::size_t i) const { return const_cast<StableList&>(*this)[i]; }

    // Other's objects after these (other is left empty).
    void append(StableList&& other) {
        if (other.size_ == 0) return;
        parts_.insert(parts_.end() - (parts_.back()->empty() ? 1 : 0), std::make_move_iterator(other.parts_.begin()),
                      std::make_move_iterator(other.parts_.end()));
        if (!parts_.back()->empty()) parts_.push_back(std::make_unique<std::deque<T>>());
        size_ += std::exchange(other.size_, 0);
        other.parts_.clear();
        other.parts_.push_back(std::make_unique<std::deque<T>>());
    }

    // Walks each part with the deque's own iterator, so that a walk costs what one over a
    // deque does.
    template <class Value, class Inner>
    class Iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = Value*;
        using reference = Value&;
        using Part = typename std::vector<std::unique_ptr<std::deque<T>>>::const_iterator;
        Iterator(Part part, Part partsEnd) : part_(part), end_(partsEnd) {
            if (part_ != end_) inner_ = (*part_)->begin();
            settle();
        }
        Value& operator*() const { return *inner_; }
        Value* operator->() const { return &*inner_; }
        Iterator& operator++() {
            ++inner_;
            settle();
            return *this;
        }
        bool operator==(const Iterator& other) const {
            return part_ == other.part_ && (part_ == end_ || inner_ == other.inner_);
        }

    private:
        void settle() {
            while (part_ != end_ && inner_ == (*part_)->end()) {
                if (++part_ != end_) inner_ = (*part_)->begin();
            }
        }
        Part part_, end_;
        Inner inner_{};
    };
    using Parts = std::vector<std::unique_ptr<std::deque<T>>>;
    using iterator = Iterator<T, typename std::deque<T>::iterator>;
    using const_iterator = Iterator<const T, typename std::deque<T>::iterator>;
    iterator begin() { return iterator(parts_.cbegin(), parts_.cend()); }
    iterator end() { return iterator(parts_.cend(), parts_.cend()); }
    const_iterator begin() const { return const_iterator(parts_.cbegin(), parts_.cend()); }
    const_iterator end() const { return const_iterator(parts_.cend(), parts_.cend()); }

private:
    Parts parts_;  // never empty; objects are added to the last part
    std::size_t size_ = 0;
};

// The first position of each value of a list, found in O(log n): the pairs sorted. A million
// items cost 16 MB and a sort, where a hash map costs a million allocations and 40 MB.
class PositionIndex {
public:
    void index(std::span<const std::uint64_t> values) {
        entries_.clear();
        entries_.reserve(values.size());
        for (std::size_t i = 0; i < values.size(); ++i) entries_.push_back(Entry{values[i], static_cast<std::uint32_t>(i)});
        std::sort(entries_.begin(), entries_.end());
        // The first position of each value is the first of its run.
        entries_.erase(std::unique(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) { return a.value == b.value; }),
                       entries_.end());
        entries_.shrink_to_fit();
    }
    std::optional<std::uint32_t> find(std::uint64_t value) const {
        const auto it = std::lower_bound(entries_.begin(), entries_.end(), Entry{value, 0});
        if (it == entries_.end() || it->value != value) return std::nullopt;
        return it->position;
    }

private:
    struct Entry {
        std::uint64_t value;
        std::uint32_t position;
        auto operator<=>(const Entry&) const = default;
    };
    std::vector<Entry> entries_;
};

// UTF-8 text and data bytes in chunks of 2 MiB (one huge page); a position packs the chunk
// (10 bits) and the offset (21 bits). A value longer than a chunk gets a chunk of its own size
// at offset 0. Every value is followed by a NUL byte.
class StringPool {
public:
    static constexpr std::size_t kChunk = LargeBlock::kPage;
    static constexpr unsigned kOffsetBits = 21;
    static_assert(kChunk == std::size_t{1} << kOffsetBits);
    static constexpr std::size_t kMaxChunks = std::size_t{1} << 10;  // 2 GiB of text in all

    // The place of a copy of bytes; none when the pool is full.
    std::optional<PoolRef> add(std::string_view bytes) {
        if (bytes.size() >= UINT32_MAX) return std::nullopt;
        const std::size_t need = bytes.size() + 1;
        if (chunks_.empty() || chunks_.back().block.size() - chunks_.back().used < need) {
            if (chunks_.size() == kMaxChunks) return std::nullopt;
            chunks_.push_back(Chunk{LargeBlock(std::max(kChunk, need)), 0});
        }
        Chunk& chunk = chunks_.back();
        const PoolRef ref{static_cast<std::uint32_t>(((chunks_.size() - 1) << kOffsetBits) | chunk.used),
                          static_cast<std::uint32_t>(bytes.size())};
        if (!bytes.empty()) std::memcpy(chunk.block.data() + chunk.used, bytes.data(), bytes.size());
        chunk.block.data()[chunk.used + bytes.size()] = '\0';
        chunk.used += need;
        return ref;
    }
    // Whether other's text fits after this pool's (append).
    bool canAppend(const StringPool& other) const { return chunks_.size() + other.chunks_.size() <= kMaxChunks; }
    // Moves other's chunks after these (canAppend must hold): returns what other's places now
    // need added to their position (shifted()).
    std::uint32_t append(StringPool&& other) {
        const auto base = static_cast<std::uint32_t>(chunks_.size() << kOffsetBits);
        for (Chunk& chunk : other.chunks_) chunks_.push_back(std::move(chunk));
        other.chunks_.clear();
        return base;
    }
    std::string_view view(PoolRef ref) const {
        return std::string_view(chunks_[ref.position >> kOffsetBits].block.data() + (ref.position & (kChunk - 1)), ref.length);
    }

private:
    struct Chunk {
        LargeBlock block;
        std::size_t used;
    };
    std::vector<Chunk> chunks_;
};

}  // namespace kestrane::musiclibrary
