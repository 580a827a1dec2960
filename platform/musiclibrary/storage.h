// How a snapshot stores what it read: every value of every track as a small fixed-size field,
// strings and data as UTF-16 units in large pooled chunks. Nothing here reallocates a whole
// store as it grows, so a load never holds twice its memory, and addresses stay put.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace kestrane::musiclibrary {

enum class FieldType : std::uint8_t { string, integer, real, date, boolean, data, array, dict };

// One value of a track. Strings and data live in the snapshot's string pool (data one byte
// per unit).
struct Field {
    std::uint32_t key;     // TrackKey number, or a number the snapshot gave an unknown key
    std::uint32_t length;  // units of a pooled string
    FieldType type;
    union {
        std::int64_t i;     // integer; boolean 1 or 0
        double d;           // real; date in seconds since 1970
        std::uint64_t ref;  // pool position
    };
};

// A vector that grows in fixed chunks.
template <class T, std::size_t ChunkSize>
class ChunkedStore {
public:
    std::size_t size() const { return size_; }
    T& push_back(const T& value) {
        if (chunks_.empty() || chunks_.back().size() == ChunkSize) {
            chunks_.emplace_back();
            chunks_.back().reserve(ChunkSize);
        }
        ++size_;
        return chunks_.back().emplace_back(value);
    }
    const T& operator[](std::size_t i) const { return chunks_[i / ChunkSize][i % ChunkSize]; }

private:
    std::vector<std::vector<T>> chunks_;
    std::size_t size_ = 0;
};

// UTF-16 text in large chunks; a position packs the chunk and the offset.
class StringPool {
public:
    // Room for at least units more units at the end (transfer none): write them, then commit()
    // how many were used. Returns the position they will have.
    std::uint64_t reserve(std::size_t units, char16_t*& room) {
        if (chunks_.empty() || chunks_.back().capacity - chunks_.back().used < units) {
            const std::size_t capacity = std::max<std::size_t>(kChunk, units);
            chunks_.push_back(Chunk{std::make_unique_for_overwrite<char16_t[]>(capacity), 0, capacity});
        }
        Chunk& chunk = chunks_.back();
        room = chunk.units.get() + chunk.used;
        return (static_cast<std::uint64_t>(chunks_.size() - 1) << 32) | chunk.used;
    }
    void commit(std::size_t units) { chunks_.back().used += units; }

    std::uint64_t add(std::u16string_view s) {
        char16_t* room = nullptr;
        const std::uint64_t ref = reserve(s.size(), room);
        std::copy(s.begin(), s.end(), room);
        commit(s.size());
        return ref;
    }
    std::u16string_view view(std::uint64_t ref, std::uint32_t length) const {
        return std::u16string_view(chunks_[ref >> 32].units.get() + (ref & 0xFFFFFFFFu), length);
    }

private:
    struct Chunk {
        std::unique_ptr<char16_t[]> units;
        std::size_t used, capacity;
    };
    static constexpr std::size_t kChunk = 1 << 20;
    std::vector<Chunk> chunks_;
};

}  // namespace kestrane::musiclibrary
