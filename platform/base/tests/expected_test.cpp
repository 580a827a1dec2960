// The error convention and the scratch memory of platform components.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "expected.h"
#include "scratch.h"

using kestrane::Error;
using kestrane::Expected;

namespace {

enum class IntError { none = 7 };
enum class OtherError { sameNumber = 7 };

Expected<std::unique_ptr<int>> make(bool ok) {
    if (!ok) return Error(IntError::none, "no int today");
    return std::make_unique<int>(42);
}

}  // namespace

TEST(Expected, CarriesAMoveOnlyValueOrTheError) {
    Expected<std::unique_ptr<int>> good = make(true);
    ASSERT_TRUE(good);
    std::unique_ptr<int> taken = std::move(good).value();
    EXPECT_EQ(*taken, 42);

    const Expected<std::unique_ptr<int>> bad = make(false);
    ASSERT_FALSE(bad);
    EXPECT_TRUE(bad.error().is(IntError::none));
    EXPECT_EQ(bad.error().message, "no int today");
    // A code of the same number from another component is another failure.
    EXPECT_FALSE(bad.error().is(OtherError::sameNumber));
    EXPECT_EQ(bad.error().as<OtherError>(), std::nullopt);
    EXPECT_EQ(bad.error().as<IntError>(), IntError::none);

    const Expected<void> done;
    EXPECT_TRUE(done);
    const Expected<void> failed = Error(OtherError::sameNumber, "x");
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().code, 7);
}

TEST(ScratchBuffer, SmallRequestsStayOnTheStackLargeOnesReuseTheThreadsBuffer) {
    int onStack = 0;
    {
        kestrane::ScratchBuffer<int, 16> small(16);
        small.data()[15] = 1;
        // The stack copy lives inside the holder itself.
        const auto* holder = reinterpret_cast<const char*>(&small);
        const auto* data = reinterpret_cast<const char*>(small.data());
        EXPECT_TRUE(data >= holder && data < holder + sizeof small);
        onStack = small.data()[15];
    }
    EXPECT_EQ(onStack, 1);

    const int* first = nullptr;
    {
        kestrane::ScratchBuffer<int, 16> large(1000);
        first = large.data();
        for (int i = 0; i < 1000; ++i) large.data()[i] = i;  // the sanitizer build checks the bound
    }
    {
        kestrane::ScratchBuffer<int, 16> again(500);
        EXPECT_EQ(again.data(), first);  // no new allocation for a smaller request
    }
    const int* other = nullptr;
    std::thread([&other] {
        kestrane::ScratchBuffer<int, 16> elsewhere(1000);
        other = elsewhere.data();
    }).join();
    EXPECT_NE(other, first);  // every thread has its own
}
