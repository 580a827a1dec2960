// The handle table: numbers that are not live handles of the asked kind find nothing, ended
// handles stay ended even when their slot is reused, holders give back only what they took,
// and a retired object outlives every pin that could have found it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <set>
#include <thread>
#include <vector>

#include "handle_table.h"

using kestrane::Handle;
using kestrane::HandleKind;
using kestrane::HandleTable;

namespace {

constexpr Handle kindBits(HandleKind kind) {
    return Handle{static_cast<std::uint8_t>(kind)} << HandleTable::kKindShift;
}

}  // namespace

TEST(HandleTable, OnlyALiveHandleOfTheAskedKindFindsItsObject) {
    HandleTable& table = HandleTable::instance();
    int object = 0;
    const Handle h = table.issue(&object, HandleKind::mediaItem);
    ASSERT_NE(h, 0u);
    HandleTable::Pin pin;
    EXPECT_EQ(table.find(h, HandleKind::mediaItem), &object);

    const Handle slotBits = (Handle{1} << HandleTable::kSlotBits) - 1;
    struct Case {
        const char* what;
        Handle handle;
    };
    const Case misses[] = {
        {"zero", 0},
        {"small numbers", 8},
        {"minus one", ~Handle{0}},
        {"the slot without kind and generation", h & slotBits},
        {"another generation of the slot", h + (Handle{1} << HandleTable::kSlotBits)},
        {"generation zero", kindBits(HandleKind::mediaItem) | (h & slotBits)},
        {"a slot never used", kindBits(HandleKind::mediaItem) | (Handle{1} << HandleTable::kSlotBits) | slotBits},
        {"an address", reinterpret_cast<Handle>(&object)},
    };
    for (const Case& c : misses) EXPECT_EQ(table.find(c.handle, HandleKind::mediaItem), nullptr) << c.what;
    // The same number asked for as another kind, even one of another library.
    for (HandleKind other : {HandleKind::album, HandleKind::fftSetup, HandleKind::player}) {
        EXPECT_EQ(table.find(h, other), nullptr);
        EXPECT_EQ(table.revoke(h, other), nullptr);
    }
    EXPECT_EQ(table.revoke(h, HandleKind::mediaItem), &object);
}

TEST(HandleTable, AnEndedHandleNeverNamesAnObjectMadeAfterIt) {
    HandleTable& table = HandleTable::instance();
    int first = 1, second = 2;
    const Handle old = table.issue(&first, HandleKind::fftSetup);
    EXPECT_EQ(table.revoke(old, HandleKind::fftSetup), &first);
    EXPECT_EQ(table.revoke(old, HandleKind::fftSetup), nullptr);  // ended once only
    // The freed slot is taken again, with a new generation.
    const Handle reused = table.issue(&second, HandleKind::fftSetup);
    const Handle slotBits = (Handle{1} << HandleTable::kSlotBits) - 1;
    EXPECT_EQ(reused & slotBits, old & slotBits);
    EXPECT_NE(reused, old);
    HandleTable::Pin pin;
    EXPECT_EQ(table.find(old, HandleKind::fftSetup), nullptr);
    EXPECT_EQ(table.revoke(old, HandleKind::fftSetup), nullptr);  // a stale end leaves the new object alone
    EXPECT_EQ(table.find(reused, HandleKind::fftSetup), &second);
    EXPECT_EQ(table.revoke(reused, HandleKind::fftSetup), &second);
}

TEST(HandleTable, AHolderGivesBackOnlyWhatItTook) {
    HandleTable& table = HandleTable::instance();
    int object = 0;
    const Handle h = table.issue(&object, HandleKind::array);
    EXPECT_FALSE(table.dropHolderReference(h, HandleKind::array));
    EXPECT_TRUE(table.addHolderReference(h, HandleKind::array));
    EXPECT_TRUE(table.addHolderReference(h, HandleKind::array));
    EXPECT_FALSE(table.addHolderReference(h, HandleKind::album));
    EXPECT_TRUE(table.dropHolderReference(h, HandleKind::array));
    EXPECT_TRUE(table.dropHolderReference(h, HandleKind::array));
    EXPECT_FALSE(table.dropHolderReference(h, HandleKind::array));
    {
        HandleTable::Pin pin;
        EXPECT_EQ(table.find(h, HandleKind::array), &object);  // counting does not disturb lookups
    }
    table.addHolderReference(h, HandleKind::array);
    table.revoke(h, HandleKind::array);
    EXPECT_FALSE(table.addHolderReference(h, HandleKind::array));
    EXPECT_FALSE(table.dropHolderReference(h, HandleKind::array));
}

TEST(HandleTable, ARetiredObjectOutlivesEveryPinThatCouldHaveFoundIt) {
    HandleTable& table = HandleTable::instance();
    static std::atomic<int> freed{0};
    auto destroy = [](void*) { freed.fetch_add(1); };

    // No pin anywhere: freed at once.
    int a = 0;
    table.retire(destroy, &a);
    EXPECT_EQ(freed.load(), 1);

    // A pin taken before the retire holds the free back until it ends; a pin taken after it
    // (which cannot find the revoked handle) does not.
    int b = 0;
    const Handle h = table.issue(&b, HandleKind::artwork);
    std::atomic<int> step{0};
    std::thread reader([&] {
        HandleTable::Pin pin;
        EXPECT_EQ(table.find(h, HandleKind::artwork), &b);
        step = 1;
        while (step.load() != 2) std::this_thread::yield();
    });
    while (step.load() != 1) std::this_thread::yield();
    table.revoke(h, HandleKind::artwork);
    table.retire(destroy, &b);
    {
        HandleTable::Pin later;
        EXPECT_EQ(table.find(h, HandleKind::artwork), nullptr);
    }
    EXPECT_EQ(freed.load(), 1);
    EXPECT_EQ(table.pendingFrees(), 1u);
    step = 2;
    reader.join();  // the reader's pin ends: it frees what it held back
    EXPECT_EQ(freed.load(), 2);
    EXPECT_EQ(table.pendingFrees(), 0u);
}

// Readers follow handles while a writer ends and frees their objects: no reader may ever see
// freed memory (the sanitizer build checks every access) or an object under a stale handle.
TEST(HandleTable, ReadersNeverSeeAFreedObject) {
    HandleTable& table = HandleTable::instance();
    struct Box {
        std::uint64_t self;
    };
    constexpr int kSlots = 64;
    std::vector<std::atomic<Handle>> live(kSlots);
    for (auto& h : live) h = 0;
    std::atomic<bool> stop{false};
    std::atomic<long> hits{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&] {
            while (!stop.load(std::memory_order_relaxed)) {
                for (auto& cell : live) {
                    const Handle h = cell.load(std::memory_order_relaxed);
                    HandleTable::Pin pin;
                    if (auto* box = static_cast<Box*>(table.find(h, HandleKind::playlist))) {
                        ASSERT_EQ(box->self, h);
                        hits.fetch_add(1, std::memory_order_relaxed);
                    }
                }
            }
        });
    }
    std::set<Handle> seen;
    for (int round = 0; round < 20000; ++round) {
        auto& cell = live[static_cast<std::size_t>(round % kSlots)];
        if (const Handle old = cell.exchange(0)) {
            if (void* box = table.revoke(old, HandleKind::playlist)) table.retireDelete(static_cast<Box*>(box));
        }
        auto box = std::make_unique<Box>();
        const Handle h = table.issue(box.get(), HandleKind::playlist);
        box->self = h;
        box.release();
        EXPECT_TRUE(seen.insert(h).second) << "handle given twice";
        cell = h;
    }
    stop = true;
    for (auto& r : readers) r.join();
    for (auto& cell : live) {
        if (void* box = table.revoke(cell.load(), HandleKind::playlist)) table.retireDelete(static_cast<Box*>(box));
    }
    EXPECT_EQ(table.pendingFrees(), 0u);
    EXPECT_GT(hits.load(), 0);
}
