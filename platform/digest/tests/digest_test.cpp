// The prefixed digest against MD5 values of "*=47" + data worked out independently (Python's
// hashlib), around the lengths where MD5's padding spills into another block.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

#include "digest.h"

namespace {

std::string hex(const std::array<std::uint8_t, 16>& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::uint8_t b : digest) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

std::string allBytes() {
    std::string out;
    for (int i = 0; i < 256; ++i) out += static_cast<char>(i);
    return out;
}

}  // namespace

TEST(PrefixedMd5, KnownValues) {
    const struct {
        const char* what;
        std::string data;
        const char* md5;
    } cases[] = {
        {"no data: the prefix alone", "", "646b766cb7421a98b00a7de6345fc3a0"},
        {"a", "a", "f9de08ce9009d82ab0031663d02a1578"},
        {"abc", "abc", "05041af1084bd853eeb766eaf77e2ac5"},
        {"a zero byte", std::string(1, '\0'), "509108f106692d77ead534a8df570280"},
        {"every byte value", allBytes(), "9ef406f8a4a15b8acba76e72df3e2995"},
        // With the prefix: 55 bytes fit one block with the padding, 56 do not, 64 fill one.
        {"55 bytes in all", std::string(51, 'a'), "8356aa2c3773886598a1d3d7fb1032a7"},
        {"56 bytes in all", std::string(52, 'a'), "f15b8fa8ae15eefe0deb71660f006bdd"},
        {"64 bytes in all", std::string(60, 'a'), "4b907599df425dc126a047eba139ead9"},
        {"a million bytes", std::string(1000000, 'a'), "fcf29df29d5d6748ce251ff84db2118a"},
    };
    for (const auto& c : cases) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(c.data.data());
        EXPECT_EQ(hex(kestrane::digest::prefixedMd5({bytes, c.data.size()})), c.md5) << c.what;
    }
}
