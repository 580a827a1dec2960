// The registry of live handles: what it answers for handles that are not live, and that an
// object outlives every call that is using it when its handle ends on another thread.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "handles.h"

using kestrane::jni::HandleRegistry;

namespace {

struct Tracked {
    static inline std::atomic<int> alive{0};
    std::atomic<bool> valid{true};
    Tracked() { ++alive; }
    ~Tracked() {
        valid = false;
        --alive;
    }
};

}  // namespace

TEST(HandleRegistry, AHandleIsLiveFromAddUntilRemoveAndNeverAgain) {
    HandleRegistry<Tracked> registry;
    auto object = std::make_shared<Tracked>();
    Tracked* address = object.get();
    const jlong handle = registry.add(std::move(object));
    EXPECT_EQ(handle, kestrane::jni::toHandle(address));
    EXPECT_EQ(registry.find(handle).get(), address);

    EXPECT_EQ(registry.find(0), nullptr);
    EXPECT_EQ(registry.find(handle + 8), nullptr);  // never made
    EXPECT_EQ(registry.remove(handle + 8), nullptr);
    EXPECT_EQ(registry.remove(0), nullptr);

    std::shared_ptr<Tracked> held = registry.find(handle);
    EXPECT_NE(registry.remove(handle), nullptr);
    EXPECT_EQ(registry.find(handle), nullptr);      // used after its end
    EXPECT_EQ(registry.remove(handle), nullptr);    // ended twice
    EXPECT_TRUE(held->valid);                       // a call in progress keeps it
    EXPECT_EQ(Tracked::alive, 1);
    held.reset();
    EXPECT_EQ(Tracked::alive, 0);
}

TEST(HandleRegistry, FourThreadsUsingAnObjectWhileAFifthEndsItThousandRounds) {
    HandleRegistry<Tracked> registry;
    for (int round = 0; round < 1000; ++round) {
        const jlong handle = registry.add(std::make_shared<Tracked>());
        std::atomic<bool> go{false};
        std::atomic<int> wrong{0};
        std::vector<std::thread> users;
        for (int t = 0; t < 4; ++t) {
            users.emplace_back([&] {
                while (!go) std::this_thread::yield();
                for (int i = 0; i < 50; ++i) {
                    if (auto p = registry.find(handle)) {
                        if (!p->valid) ++wrong;
                    }
                }
            });
        }
        std::thread closer([&] {
            go = true;
            registry.remove(handle);
        });
        for (auto& u : users) u.join();
        closer.join();
        ASSERT_EQ(wrong, 0) << "round " << round;
        ASSERT_EQ(registry.find(handle), nullptr);
    }
    EXPECT_EQ(Tracked::alive, 0);
}
