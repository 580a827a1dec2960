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

// The same for UTF-16 that arrives as bytes, piece by piece (a document read in chunks): a unit
// or a surrogate pair split between two pieces joins up; an unpaired surrogate, and an odd byte
// left at the end, become U+FFFD.
class Utf16ByteDecoder {
public:
    explicit Utf16ByteDecoder(bool bigEndian) : bigEndian_(bigEndian) {}
    // Appends the UTF-8 of the whole units in bytes (and of any unit begun by the last piece).
    void decode(std::string_view bytes, std::string& out);
    // Appends what a unit or pair left open at the end of the text stands for.
    void finish(std::string& out);

private:
    void unit(char16_t u, std::string& out);

    bool bigEndian_;
    bool haveByte_ = false;
    unsigned char byte_ = 0;  // the first byte of a unit split between pieces
    char16_t high_ = 0;       // a high surrogate waiting for its pair
};

}  // namespace kestrane::text
