#include "handle_table.h"

#include <linux/membarrier.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <limits>
#include <utility>

#include "no_destructor.h"

namespace kestrane {

namespace {

constexpr unsigned kCountBits = 24;
constexpr unsigned kKindBits = 4;
constexpr std::uint64_t kCountMask = (std::uint64_t{1} << kCountBits) - 1;
constexpr std::uint64_t kSlotMask = (std::uint64_t{1} << HandleTable::kSlotBits) - 1;
constexpr std::uint64_t kMaxGeneration = (std::uint64_t{1} << HandleTable::kGenerationBits) - 1;
constexpr unsigned kStateGenerationShift = kCountBits + kKindBits;

constexpr std::uint64_t stateOf(std::uint64_t generation, HandleKind kind) {
    return generation << kStateGenerationShift | std::uint64_t{static_cast<std::uint8_t>(kind)} << kCountBits;
}
constexpr std::uint64_t generationOfState(std::uint64_t state) { return state >> kStateGenerationShift; }

// What a live handle's slot state looks like apart from its count; 0 for a number that
// cannot be a handle of kind.
std::uint64_t expectedState(Handle handle, HandleKind kind) {
    if (handle >> HandleTable::kKindShift != static_cast<std::uint8_t>(kind)) return 0;
    return stateOf((handle >> HandleTable::kSlotBits) & kMaxGeneration, kind);
}

// ---- pins ------------------------------------------------------------------------------------
//
// Every thread that pins gets a record, kept in a list that only grows (records are reused by
// later threads, never freed, so the reclaimer can walk the list without a lock). A pinned
// record holds the epoch its thread saw when the pin began; an object retired at epoch E may
// go once every pinned record holds an epoch after E.

struct ThreadRecord {
    std::atomic<std::uint64_t> pinnedEpoch{0};  // 0: not pinned
    std::atomic<bool> inUse{false};
    ThreadRecord* next = nullptr;  // fixed once the record is in the list
    unsigned depth = 0;            // only its thread touches it
};

std::atomic<ThreadRecord*> records{nullptr};
std::atomic<std::uint64_t> globalEpoch{1};
// The newest epoch at which something was retired and not yet freed; 0 when nothing waits.
std::atomic<std::uint64_t> newestPending{0};

// Read on every pin. The initial-exec model makes that one instruction instead of a call into
// the dynamic loader (the libraries are loaded with dlopen); it costs eight bytes of the static
// TLS space that glibc keeps for such libraries.
[[gnu::tls_model("initial-exec")]] thread_local ThreadRecord* threadRecord = nullptr;

// Gives the thread's record back when the thread ends.
struct RecordReturn {
    ~RecordReturn() {
        if (threadRecord == nullptr) return;
        threadRecord->pinnedEpoch.store(0, std::memory_order_release);
        threadRecord->inUse.store(false, std::memory_order_release);
        threadRecord = nullptr;
    }
};

ThreadRecord* acquireRecord() {
    thread_local RecordReturn giveBack;
    (void)giveBack;
    for (ThreadRecord* r = records.load(std::memory_order_acquire); r != nullptr; r = r->next) {
        bool expected = false;
        if (!r->inUse.load(std::memory_order_relaxed) &&
            r->inUse.compare_exchange_strong(expected, true, std::memory_order_acquire)) {
            return threadRecord = r;
        }
    }
    // Records live for the rest of the process: the list is walked without a lock.
    auto* fresh = std::make_unique<ThreadRecord>().release();
    fresh->inUse.store(true, std::memory_order_relaxed);
    ThreadRecord* head = records.load(std::memory_order_relaxed);
    do {
        fresh->next = head;
    } while (!records.compare_exchange_weak(head, fresh, std::memory_order_release, std::memory_order_relaxed));
    return threadRecord = fresh;
}

// A pin must be visible to the reclaimer before the pinned thread reads a slot. With
// membarrier(2) the reclaimer forces that ordering on every thread when it needs it, and a
// pin costs a plain store; without it every pin pays a full fence.
bool registerMembarrier() {
    const long supported = syscall(SYS_membarrier, MEMBARRIER_CMD_QUERY, 0, 0);
    if (supported < 0 || (supported & MEMBARRIER_CMD_PRIVATE_EXPEDITED) == 0 ||
        (supported & MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED) == 0) {
        return false;
    }
    return syscall(SYS_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0, 0) == 0;
}
const bool cheapPins = registerMembarrier();

// The reclaimer's side of the pin's ordering; false when it could not be had.
bool fenceEveryThread() {
    if (!cheapPins) {
        std::atomic_thread_fence(std::memory_order_seq_cst);
        return true;
    }
    return syscall(SYS_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0, 0) == 0;
}

}  // namespace

HandleTable::Pin::Pin() {
    ThreadRecord* r = threadRecord != nullptr ? threadRecord : acquireRecord();
    if (r->depth++ != 0) return;
    r->pinnedEpoch.store(globalEpoch.load(std::memory_order_acquire), std::memory_order_relaxed);
    if (cheapPins) {
        std::atomic_signal_fence(std::memory_order_seq_cst);
    } else {
        std::atomic_thread_fence(std::memory_order_seq_cst);
    }
}

HandleTable::Pin::~Pin() {
    ThreadRecord* r = threadRecord;
    if (--r->depth != 0) return;
    const std::uint64_t epoch = r->pinnedEpoch.load(std::memory_order_relaxed);
    r->pinnedEpoch.store(0, std::memory_order_release);
    if (!cheapPins) std::atomic_thread_fence(std::memory_order_seq_cst);
    // This pin may have held back a free: try once. A later pin starts after every retire
    // so far and holds nothing back.
    const std::uint64_t pending = newestPending.load(std::memory_order_relaxed);
    if (pending != 0 && epoch <= pending) HandleTable::instance().reclaim();
}

// ---- the table -----------------------------------------------------------------------------

HandleTable& HandleTable::instance() {
    static NoDestructor<HandleTable> table;
    return table.get();
}

HandleTable::HandleTable() = default;

HandleTable::Slot* HandleTable::slotOf(Handle handle) const {
    const std::uint64_t index = handle & kSlotMask;
    Slot* chunk = chunks_[index / kChunkSlots].load(std::memory_order_acquire);
    return chunk != nullptr ? &chunk[index % kChunkSlots] : nullptr;
}

Handle HandleTable::issue(void* object, HandleKind kind) {
    std::lock_guard lock(slotsMutex_);
    std::uint32_t index;
    if (!freeSlots_.empty()) {
        index = freeSlots_.back();
        freeSlots_.pop_back();
    } else {
        if (nextSlot_ > kSlotMask) return 0;
        index = nextSlot_++;
        const std::size_t c = index / kChunkSlots;
        if (chunks_[c].load(std::memory_order_relaxed) == nullptr) {
            chunkStorage_.push_back(std::make_unique<Slot[]>(kChunkSlots));
            chunks_[c].store(chunkStorage_.back().get(), std::memory_order_release);
        }
    }
    Slot& slot = chunks_[index / kChunkSlots].load(std::memory_order_relaxed)[index % kChunkSlots];
    const std::uint64_t generation = generationOfState(slot.state.load(std::memory_order_relaxed)) + 1;
    slot.object.store(object, std::memory_order_release);
    slot.state.store(stateOf(generation, kind), std::memory_order_release);
    return std::uint64_t{static_cast<std::uint8_t>(kind)} << kKindShift | generation << kSlotBits | index;
}

void* HandleTable::find(Handle handle, HandleKind kind) const {
    const std::uint64_t expected = expectedState(handle, kind);
    if (expected == 0) return nullptr;
    const Slot* slot = slotOf(handle);
    if (slot == nullptr) return nullptr;
    // The object belongs to the handle only if the slot showed the handle's generation both
    // before and after it was read: a reuse in between changes the generation.
    if ((slot->state.load(std::memory_order_acquire) & ~kCountMask) != expected) return nullptr;
    void* object = slot->object.load(std::memory_order_acquire);
    if ((slot->state.load(std::memory_order_acquire) & ~kCountMask) != expected) return nullptr;
    return object;
}

void* HandleTable::revoke(Handle handle, HandleKind kind) {
    const std::uint64_t expected = expectedState(handle, kind);
    if (expected == 0) return nullptr;
    Slot* slot = slotOf(handle);
    if (slot == nullptr) return nullptr;
    const std::uint64_t generation = generationOfState(expected);
    std::uint64_t state = slot->state.load(std::memory_order_acquire);
    do {
        if ((state & ~kCountMask) != expected) return nullptr;  // not live, or ended by another call
    } while (!slot->state.compare_exchange_weak(state, generation << kStateGenerationShift, std::memory_order_acq_rel));
    void* object = slot->object.load(std::memory_order_relaxed);
    // A slot whose generation cannot grow any more is never used again, so that no later
    // handle can equal one given out before.
    if (generation < kMaxGeneration) {
        std::lock_guard lock(slotsMutex_);
        freeSlots_.push_back(static_cast<std::uint32_t>(handle & kSlotMask));
    }
    return object;
}

bool HandleTable::changeHolderCount(Handle handle, HandleKind kind, int delta) {
    const std::uint64_t expected = expectedState(handle, kind);
    Slot* slot = expected != 0 ? slotOf(handle) : nullptr;
    if (slot == nullptr) return false;
    const std::uint64_t stop = delta > 0 ? kCountMask : 0;  // the count that cannot move that way
    std::uint64_t state = slot->state.load(std::memory_order_relaxed);
    do {
        if ((state & ~kCountMask) != expected || (state & kCountMask) == stop) return false;
    } while (!slot->state.compare_exchange_weak(state, delta > 0 ? state + 1 : state - 1, std::memory_order_relaxed));
    return true;
}

bool HandleTable::addHolderReference(Handle handle, HandleKind kind) {
    return changeHolderCount(handle, kind, +1);
}

bool HandleTable::dropHolderReference(Handle handle, HandleKind kind) {
    return changeHolderCount(handle, kind, -1);
}

void HandleTable::retire(void (*destroy)(void*), void* object) {
    {
        std::lock_guard lock(retiredMutex_);
        // Pins that begin from here on see the epoch after this one, and with it the revoked
        // handles of the object: they cannot reach it.
        const std::uint64_t epoch = globalEpoch.fetch_add(1, std::memory_order_seq_cst);
        retired_.push_back({epoch, destroy, object});
        newestPending.store(epoch, std::memory_order_relaxed);
    }
    reclaim();
}

void HandleTable::reclaim() {
    std::vector<Retired> ready;
    {
        std::lock_guard lock(retiredMutex_);
        if (retired_.empty() || !fenceEveryThread()) return;
        std::uint64_t oldestPin = std::numeric_limits<std::uint64_t>::max();
        for (ThreadRecord* r = records.load(std::memory_order_acquire); r != nullptr; r = r->next) {
            const std::uint64_t pinned = r->pinnedEpoch.load(std::memory_order_acquire);
            if (pinned != 0) oldestPin = std::min(oldestPin, pinned);
        }
        const auto stays = std::partition(retired_.begin(), retired_.end(),
                                          [oldestPin](const Retired& r) { return r.epoch >= oldestPin; });
        ready.assign(stays, retired_.end());
        retired_.erase(stays, retired_.end());
        if (retired_.empty()) newestPending.store(0, std::memory_order_relaxed);
    }
    // Outside the lock: freeing an object may retire others.
    for (const Retired& r : ready) r.destroy(r.object);
}

std::size_t HandleTable::pendingFrees() {
    std::lock_guard lock(retiredMutex_);
    return retired_.size();
}

}  // namespace kestrane
