// Conversions between UTF-8 and UTF-16 for text that crosses into or out of the operating
// system, files and the JVM. Invalid input never fails: it becomes U+FFFD.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrane::text {

// Appends the UTF-8 form of one code point (at most U+10FFFF).
void appendUtf8(std::string& out, char32_t codePoint);

// UTF-16 from UTF-8; overlong forms, surrogates, truncated and stray bytes become U+FFFD.
std::u16string utf16FromUtf8(std::string_view utf8);

// The same into out, which must hold utf8.size() units (never more are written); returns how
// many units were written. For callers that keep text in storage of their own.
std::size_t utf16FromUtf8(std::string_view utf8, char16_t* out);

// UTF-8 from UTF-16, every unit kept (U+0000 as a zero byte); an unpaired surrogate becomes
// U+FFFD.
std::string utf8FromUtf16(std::u16string_view units);

}  // namespace kestrane::text
