#include "utf.h"

namespace kestrane::text {

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::size_t utf16FromUtf8(std::string_view utf8, char16_t* out) {
    const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
    const std::size_t n = utf8.size();
    std::size_t i = 0, o = 0;
    while (i < n) {
        const unsigned c = s[i];
        if (c < 0x80) {  // the common case first
            out[o++] = static_cast<char16_t>(c);
            ++i;
            continue;
        }
        unsigned cp = 0xFFFD;
        std::size_t len = 1;
        if (c >= 0xC2 && c <= 0xF4) {
            const std::size_t need = c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
            if (i + need <= n) {
                unsigned v = c & (need == 2 ? 0x1F : need == 3 ? 0x0F : 0x07);
                bool ok = true;
                for (std::size_t k = 1; k < need; ++k) {
                    if ((s[i + k] & 0xC0) != 0x80) {
                        ok = false;
                        break;
                    }
                    v = (v << 6) | (s[i + k] & 0x3F);
                }
                const unsigned minimum = need == 2 ? 0x80 : need == 3 ? 0x800 : 0x10000;
                if (ok && v >= minimum && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) {
                    cp = v;
                    len = need;
                }
            }
        }
        // A pair takes two units for four bytes, so the output never outgrows the input.
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out[o++] = static_cast<char16_t>(0xD800 + (cp >> 10));
            out[o++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out[o++] = static_cast<char16_t>(cp);
        }
        i += len;
    }
    return o;
}

std::u16string utf16FromUtf8(std::string_view utf8) {
    std::u16string out(utf8.size(), u'\0');
    out.resize(utf16FromUtf8(utf8, out.data()));
    return out;
}

namespace {

bool isHigh(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLow(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

std::string utf8FromUtf16(std::u16string_view units) {
    std::string out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t cp = units[i];
        if (isHigh(cp) && i + 1 < units.size() && isLow(units[i + 1])) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (units[++i] - 0xDC00u);
        } else if (isHigh(cp) || isLow(cp)) {
            cp = 0xFFFD;
        }
        appendUtf8(out, cp);
    }
    return out;
}

void Utf16ByteDecoder::decode(std::string_view bytes, std::string& out) {
    std::size_t i = 0;
    if (haveByte_ && !bytes.empty()) {
        const auto second = static_cast<unsigned char>(bytes[0]);
        unit(static_cast<char16_t>(bigEndian_ ? byte_ << 8 | second : second << 8 | byte_), out);
        haveByte_ = false;
        i = 1;
    }
    for (; i + 2 <= bytes.size(); i += 2) {
        const auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
        unit(static_cast<char16_t>(bigEndian_ ? a << 8 | b : b << 8 | a), out);
    }
    if (i < bytes.size()) {
        byte_ = static_cast<unsigned char>(bytes[i]);
        haveByte_ = true;
    }
}

void Utf16ByteDecoder::finish(std::string& out) {
    if (high_ != 0) appendUtf8(out, 0xFFFD);
    if (haveByte_) appendUtf8(out, 0xFFFD);
    high_ = 0;
    haveByte_ = false;
}

void Utf16ByteDecoder::unit(char16_t u, std::string& out) {
    if (high_ != 0) {
        const char32_t high = high_;
        high_ = 0;
        if (isLow(u)) {
            appendUtf8(out, 0x10000 + ((high - 0xD800) << 10) + (u - 0xDC00u));
            return;
        }
        appendUtf8(out, 0xFFFD);
    }
    if (isHigh(u)) high_ = u;
    else if (isLow(u)) appendUtf8(out, 0xFFFD);
    else appendUtf8(out, u);
}

}  // namespace kestrane::text
