// The registry of live handles: what it answers for handles that are not live, and that an
// object outlives every call that is using it when its handle ends on another thread.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "handles.h"


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

using Registry = kestrane::jni::HandleRegistry<Tracked, kestrane::HandleKind::player>;

}  // namespace

TEST(HandleRegistry, AHandleIsLiveFromAddUntilRemoveAndNeverAgain) {
    Registry registry;
    auto object = std::make_shared<Tracked>();
    Tracked* address = object.get();
    const jlong handle = registry.add(std::move(object));
    EXPECT_NE(handle, static_cast<jlong>(reinterpret_cast<std::uintptr_t>(address)));  // not an address
    EXPECT_EQ(registry.find(handle).get(), address);

    // Numbers that are not live handles of the registry's kind.
    const kestrane::jni::HandleRegistry<Tracked, kestrane::HandleKind::fftSetup> otherKind;
    EXPECT_EQ(otherKind.find(handle), nullptr);
    for (jlong wrong : {jlong{0}, handle + 8, -1L, static_cast<jlong>(reinterpret_cast<std::uintptr_t>(address))}) {
        EXPECT_EQ(registry.find(wrong), nullptr) << wrong;
        EXPECT_EQ(registry.remove(wrong), nullptr) << wrong;
    }

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
    Registry registry;
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
