// UTF-8 and UTF-16 conversions: exact for every scalar value, U+0000 kept, and every kind of
// bad input turned into U+FFFD without losing the text around it or writing past the buffer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "utf.h"

using kestrane::text::appendUtf8;
using kestrane::text::utf16FromUtf8;
using kestrane::text::utf8FromUtf16;

TEST(Utf8, EachLengthAtItsBoundaries) {
    const struct {
        char32_t codePoint;
        std::string utf8;
    } cases[] = {
        {0x0, std::string(1, '\0')}, {0x7F, "\x7F"}, {0x80, "\xC2\x80"}, {0x7FF, "\xDF\xBF"},
        {0x800, "\xE0\xA0\x80"}, {0xFFFF, "\xEF\xBF\xBF"}, {0x10000, "\xF0\x90\x80\x80"},
        {0x1F3B5, "\xF0\x9F\x8E\xB5"}, {0x10FFFF, "\xF4\x8F\xBF\xBF"},
    };
    for (const auto& c : cases) {
        std::string out;
        appendUtf8(out, c.codePoint);
        EXPECT_EQ(out, c.utf8) << std::hex << static_cast<unsigned>(c.codePoint);
    }
}

// Every scalar value, as one text, both ways: the UTF-16 side is worked out here from the
// definition, the UTF-8 side by appendUtf8, whose boundaries the test above pins.
TEST(Utf8, EveryScalarValueBothWays) {
    std::string utf8;
    std::u16string utf16;
    for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF) continue;
        appendUtf8(utf8, cp);
        if (cp < 0x10000) {
            utf16.push_back(static_cast<char16_t>(cp));
        } else {
            utf16.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            utf16.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        }
    }
    EXPECT_TRUE(utf16FromUtf8(utf8) == utf16);
    EXPECT_TRUE(utf8FromUtf16(utf16) == utf8);
}

// Bad bytes become U+FFFD (one or more; how many is not promised) and the text on both sides
// survives. An overlong or surrogate form must never decode to what it spells.
TEST(Utf8, BadBytesBecomeReplacementCharacters) {
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"a stray continuation byte", "\x80"},
        {"a lead byte that never starts a sequence", "\xC0"},
        {"bytes that no UTF-8 holds", "\xF5\xFF"},
        {"an overlong slash", "\xC0\xAF"},
        {"an overlong three-byte slash", "\xE0\x80\xAF"},
        {"an overlong four-byte slash", "\xF0\x80\x80\xAF"},
        {"an encoded high surrogate", "\xED\xA0\x80"},
        {"an encoded low surrogate", "\xED\xBF\xBF"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80"},
        {"a four-byte sequence cut short", "\xF0\x9F\x8E"},
        {"a two-byte sequence cut short", "\xC3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const std::string& tail : {std::string("z"), std::string()}) {  // inside the text and at its end
            const std::u16string out = utf16FromUtf8("a" + c.bytes + tail);
            ASSERT_GE(out.size(), 2u + tail.size());
            EXPECT_EQ(out.front(), u'a');
            EXPECT_EQ(out.substr(out.size() - tail.size()), utf16FromUtf8(tail));
            const std::u16string middle = out.substr(1, out.size() - 1 - tail.size());
            EXPECT_LE(middle.size(), c.bytes.size());
            EXPECT_EQ(middle, std::u16string(middle.size(), u'\uFFFD'));
        }
    }
}

// The form that writes into the caller's storage is promised never to need more units than
// the input has bytes: check it with storage of exactly that size (the sanitizer build sees
// any write past it) on the inputs that use the most units per byte.
TEST(Utf8, TheBufferFormNeverWritesMoreUnitsThanBytes) {
    const std::string inputs[] = {
        "plain ASCII", std::string(64, '\x80'), std::string("\xF0\x9F\x8E\xB5\xF0\x9F\x8E\xB5"),
        std::string("\xC3\xA9\xF0\x9F\x8E") + '\xE4', std::string(3, '\0'),
    };
    for (const std::string& in : inputs) {
        std::vector<char16_t> storage(in.size());
        const std::size_t written = utf16FromUtf8(in, storage.data());
        ASSERT_LE(written, in.size());
        EXPECT_TRUE(std::u16string(storage.data(), written) == utf16FromUtf8(in));
    }
}

TEST(Utf16, UnpairedSurrogatesBecomeReplacementCharactersAndNulIsKept) {
    const struct {
        const char* what;
        std::u16string units;
        std::string utf8;
    } cases[] = {
        {"a pair", {0xD83C, 0xDFB5}, "\xF0\x9F\x8E\xB5"},
        {"U+0000 between letters", {u'a', 0, u'b'}, std::string("a\0b", 3)},
        {"a lone high surrogate", {u'a', 0xD800, u'b'}, "a\xEF\xBF\xBD" "b"},
        {"a lone low surrogate", {u'a', 0xDC00, u'b'}, "a\xEF\xBF\xBD" "b"},
        {"a pair in the wrong order", {0xDC00, 0xD800}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"a high surrogate at the end", {u'a', 0xDBFF}, "a\xEF\xBF\xBD"},
        {"two high surrogates, then a low one", {0xD800, 0xD83C, 0xDFB5}, "\xEF\xBF\xBD\xF0\x9F\x8E\xB5"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(utf8FromUtf16(c.units), c.utf8) << c.what;
    }
}
