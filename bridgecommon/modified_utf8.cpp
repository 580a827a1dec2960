#include "modified_utf8.h"

#include <cstddef>

#include "utf.h"

namespace kestrane::jni {

namespace {

// The VM's modified UTF-8 of units; stopAtNul: end at the first U+0000 (as a C string does)
// instead of writing it as C0 80.
std::string modifiedUtf8Of(std::u16string_view units, bool stopAtNul) {
    std::string out;
    out.reserve(units.size());
    auto put3 = [&out](unsigned c) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    };
    for (std::size_t i = 0; i < units.size(); ++i) {
        const unsigned c = units[i];
        if (c == 0 && stopAtNul) break;
        if (c == 0) {
            out.push_back(static_cast<char>(0xC0));
            out.push_back(static_cast<char>(0x80));
        } else if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
                   units[i + 1] <= 0xDFFF) {
            // A surrogate pair: the VM's modified UTF-8 writes each half as its own 3-byte form.
            put3(c);
            put3(units[++i]);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            put3(0xFFFD);
        } else {
            put3(c);
        }
    }
    return out;
}

}  // namespace

std::string utf8Form(std::u16string_view units) { return modifiedUtf8Of(units, true); }

std::string modifiedUtf8(std::string_view utf8) { return modifiedUtf8Of(text::utf16FromUtf8(utf8), false); }

}  // namespace kestrane::jni
