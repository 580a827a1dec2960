// Parsing with bounded work, and the string getter, on hand-made property lists.
#include <gtest/gtest.h>

#include <pthread.h>

#include <chrono>
#include <functional>

#include "plist_values.h"
#include "test_plists.h"

namespace pl = kestrane::plist;
using kestrane::test::binaryPlistChain;

namespace {

constexpr pl::Bounds kShared{100000, pl::Sharing::counted};
constexpr pl::Bounds kUnshared{4096, pl::Sharing::refused};

// Runs body on a thread with a 256 KiB stack, as small as some threads that call us have.
void onSmallStack(const std::function<void()>& body) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 256 * 1024);
    pthread_t thread;
    auto run = [](void* f) -> void* {
        (*static_cast<const std::function<void()>*>(f))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, run, const_cast<std::function<void()>*>(&body)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

}  // namespace

TEST(Bounds, SharedObjectsAreCountedOrRefusedBeforeLibplistStarts) {
    const std::string small = binaryPlistChain(10, 2), huge = binaryPlistChain(60, 2);
    EXPECT_TRUE(pl::isSafeToDecode(small, kShared));  // 2^10 nodes
    EXPECT_NE(pl::parse(small, kShared), nullptr);
    EXPECT_FALSE(pl::isSafeToDecode(small, kUnshared));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(pl::parse(huge, kShared), nullptr);
    EXPECT_EQ(pl::parse(huge, kUnshared), nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_FALSE(pl::isSafeToDecode(binaryPlistChain(20, 1), {10, pl::Sharing::refused}));  // more objects than allowed
}

TEST(Bounds, DeepNestingIsRefusedWithoutOverflowingTheStack) {
    EXPECT_TRUE(pl::isSafeToDecode(binaryPlistChain(128, 1), kUnshared));
    EXPECT_FALSE(pl::isSafeToDecode(binaryPlistChain(129, 1), kUnshared));
    std::string xml = "<plist>";
    for (int i = 0; i < 20000; ++i) xml += "<array>";
    for (int i = 0; i < 20000; ++i) xml += "</array>";
    xml += "</plist>";
    onSmallStack([&] {
        EXPECT_EQ(pl::parse(binaryPlistChain(20000, 1), kUnshared), nullptr);
        EXPECT_EQ(pl::parse(xml, kShared), nullptr);  // parsed, measured, then freed on a thread of its own
        EXPECT_NE(pl::parse("<plist><array><array/></array></plist>", kShared), nullptr);
    });
}

TEST(Strings, ReadWholeAndOnlyFromStringNodes) {
    // A binary list whose one object is the UTF-16 string "a", U+0000, "b".
    std::string bytes = std::string("bplist00\x63\0a\0\0\0b", 15) + '\x08';
    std::string trailer(32, '\0');
    trailer[6] = trailer[7] = 1;
    trailer[15] = 1;
    trailer[31] = 15;
    const pl::PlistPtr root = pl::parse(bytes + trailer, kUnshared);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(pl::stringOf(root.get()), std::string("a\0b", 3));
    // A dictionary whose key is that string: libplist would end the process reading the key.
    const std::string dict = std::string("bplist00\xD1\x01\x02\x63\0a\0\0\0b\x10\x01\x08\x0B\x12", 23);
    trailer[15] = 3;
    trailer[31] = 20;
    EXPECT_FALSE(pl::isSafeToDecode(dict + trailer, kShared));
    std::string plainKey = dict;
    plainKey[15] = 'c';  // "a", "c", "b"
    const pl::PlistPtr withPlainKey = pl::parse(plainKey + trailer, kShared);
    ASSERT_NE(withPlainKey, nullptr);
    pl::forEachEntry(withPlainKey.get(), [](const char* key, plist_t) { EXPECT_STREQ(key, "acb"); });
    const pl::PlistPtr number(plist_new_uint(7));
    EXPECT_EQ(pl::stringOf(number.get()), std::nullopt);
    EXPECT_EQ(pl::stringOf(nullptr), std::nullopt);
    EXPECT_EQ(pl::parse("", kShared), nullptr);
    EXPECT_EQ(pl::parse("not a property list", kShared), nullptr);
}
