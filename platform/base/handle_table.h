// Handles nobody can forge or reuse: the numbers through which the Java side holds native
// objects. A handle is not an address but a slot of this table together with the slot's
// generation and the object's kind, so that
//   - a garbage number names no slot, or a slot of another generation or kind: it finds nothing;
//   - a handle whose object has ended finds nothing, and never names an object made after it
//     (a slot's generation grows with every reuse; a slot whose generation would wrap is
//     never reused);
//   - a handle of one kind is never taken for another kind, even one of another library, since
//     every kind has one number in the whole process.
//
// Objects reached through the table are freed through it too (retire): the free waits until
// every lookup that might still be using the object has ended (epoch-based reclamation). A
// lookup is made under a Pin, which is cheap (a store to the calling thread's own record); the
// reclaimer pays instead, with a process-wide memory barrier (membarrier(2)), and only when
// something is freed. So a thread that reads an object while another thread drops the last
// reference never touches freed memory.
//
// Each shared library has its own table (the symbol is hidden); the kinds keep their handles
// apart all the same.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace kestrane {

using Handle = std::uint64_t;

// Every kind of object the Java side holds by handle, numbered once for the whole process.
enum class HandleKind : std::uint8_t {
    fftSetup = 1,
    player = 2,
    activity = 3,
    library = 4,
    array = 5,
    mediaItem = 6,
    playlist = 7,
    album = 8,
    artist = 9,
    artwork = 10,
};

class HandleTable {
public:
    // The table of this library: made on first use and never destroyed, since the JVM's
    // threads may still call in while the process exits.
    static HandleTable& instance();

    // While a Pin is alive on a thread, no object retired through this table after a lookup
    // that the thread made under the pin is freed. Pins nest; they are cheap enough for every
    // call. Keep them short: a pinned thread holds back every free that comes after its pin.
    class Pin {
    public:
        Pin();
        ~Pin();
        Pin(const Pin&) = delete;
        Pin& operator=(const Pin&) = delete;
    };

    // A new handle (never 0) for object; 0 when the table is full (16 million live handles).
    Handle issue(void* object, HandleKind kind);

    // The object of a live handle of that kind; null for 0, a garbage, ended or other-kind
    // handle. Call it under a Pin and use the object only while the pin lives.
    void* find(Handle handle, HandleKind kind) const;

    // Ends a live handle: from now on find() gives null for it. Returns the object for the one
    // call that ended it, null for every other call (and for a handle that was not live).
    void* revoke(Handle handle, HandleKind kind);

    // Counts references that the holder of a handle (the Java side) took through it, so that
    // it can give back only what it took. addHolderReference fails when the handle is not live
    // or its count is at its limit; dropHolderReference fails when the count is 0.
    bool addHolderReference(Handle handle, HandleKind kind);
    bool dropHolderReference(Handle handle, HandleKind kind);

    // Frees object with destroy(object) once no pin that could have found it is left: at once
    // when no thread is pinned, else at the end of the last such pin (or a later retire).
    // Revoke the object's handles first. destroy may retire further objects.
    void retire(void (*destroy)(void*), void* object);
    // The same for an object that is freed by deleting it (owned alone by the table until then).
    template <class T>
    void retireDelete(const T* object) {
        retire([](void* p) { std::unique_ptr<const T> last(static_cast<const T*>(p)); }, const_cast<T*>(object));
    }

    // Retired objects not yet freed (tests).
    std::size_t pendingFrees();

    HandleTable();
    HandleTable(const HandleTable&) = delete;
    HandleTable& operator=(const HandleTable&) = delete;

    // Layout of a handle: bit 63 clear, 4 bits of kind, 35 bits of generation, 24 bits of slot.
    static constexpr unsigned kSlotBits = 24;
    static constexpr unsigned kGenerationBits = 35;
    static constexpr unsigned kKindShift = kSlotBits + kGenerationBits;

private:
    // A slot's state in one word, so that a check of the generation and a change of the count
    // are one atomic step: the generation, the kind (0 while the slot is free) and the count of
    // holder references.
    struct Slot {
        std::atomic<std::uint64_t> state{0};
        std::atomic<void*> object{nullptr};
    };
    static constexpr std::size_t kChunkSlots = 4096;
    static constexpr std::size_t kMaxChunks = (std::size_t{1} << kSlotBits) / kChunkSlots;

    Slot* slotOf(Handle handle) const;
    // Moves a live handle's holder count one up (delta > 0) or down, within its range.
    bool changeHolderCount(Handle handle, HandleKind kind, int delta);
    // Frees what no pin can reach any more.
    void reclaim();

    std::atomic<Slot*> chunks_[kMaxChunks] = {};
    std::mutex slotsMutex_;  // allocation of slots and chunks
    std::vector<std::uint32_t> freeSlots_;
    std::uint32_t nextSlot_ = 1;  // slot 0 is never used, so that no handle is small
    std::vector<std::unique_ptr<Slot[]>> chunkStorage_;

    struct Retired {
        std::uint64_t epoch;
        void (*destroy)(void*);
        void* object;
    };
    std::mutex retiredMutex_;
    std::vector<Retired> retired_;
};

}  // namespace kestrane
