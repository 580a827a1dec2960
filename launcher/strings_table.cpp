#include "strings_table.h"

#include "utf.h"

#include <cctype>
#include <cstdint>

namespace kestrane::launcher {

namespace {

// UTF-16 (with its byte-order mark) to UTF-8; unpaired surrogates become U+FFFD.
std::string utf8FromUtf16Bytes(std::string_view bytes, bool bigEndian) {
    std::u16string units;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        const auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
        units.push_back(static_cast<char16_t>(bigEndian ? (a << 8 | b) : (b << 8 | a)));
    }
    return text::utf8FromUtf16(units);
}

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    StringsTable run() {
        StringsTable table;
        for (;;) {
            if (!skipSpaceAndComments()) return fail(table, "unterminated comment");
            if (pos_ >= text_.size()) return table;
            std::string key, value;
            if (!readToken(key)) return fail(table, "expected a key");
            if (!skipSpaceAndComments()) return fail(table, "unterminated comment");
            if (peek() == ';') {
                ++pos_;
                table.entries[key] = key;
                continue;
            }
            if (peek() != '=') return fail(table, "expected '=' or ';' after the key");
            ++pos_;
            if (!skipSpaceAndComments()) return fail(table, "unterminated comment");
            if (!readToken(value)) return fail(table, "expected a value");
            if (!skipSpaceAndComments()) return fail(table, "unterminated comment");
            if (peek() != ';') return fail(table, "expected ';' after the value");
            ++pos_;
            table.entries[key] = value;
        }
    }

private:
    char peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }

    StringsTable& fail(StringsTable& table, const char* reason) {
        std::size_t line = 1, column = 1;
        for (std::size_t i = 0; i < pos_ && i < text_.size(); ++i) {
            if (text_[i] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        table.error = "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + reason;
        return table;
    }

    bool skipSpaceAndComments() {
        while (pos_ < text_.size()) {
            const char c = text_[pos_];
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
                ++pos_;
            } else if (text_.substr(pos_, 2) == "//") {
                while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
            } else if (text_.substr(pos_, 2) == "/*") {
                const std::size_t end = text_.find("*/", pos_ + 2);
                if (end == std::string_view::npos) return false;
                pos_ = end + 2;
            } else {
                break;
            }
        }
        return true;
    }

    static bool isPlain(char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.' ||
               c == '$' || c == ':' || c == '/' || c == '-';
    }

    bool readToken(std::string& out) {
        if (peek() == '"') return readQuoted(out);
        const std::size_t start = pos_;
        while (pos_ < text_.size() && isPlain(text_[pos_])) ++pos_;
        out.assign(text_.substr(start, pos_ - start));
        return pos_ > start;
    }

    bool readQuoted(std::string& out) {
        ++pos_;  // opening quote
        while (pos_ < text_.size()) {
            const char c = text_[pos_++];
            if (c == '"') return true;
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (pos_ >= text_.size()) return false;
            const char e = text_[pos_++];
            switch (e) {
                case 'n': out.push_back('\n'); break;
                case 't': out.push_back('\t'); break;
                case 'r': out.push_back('\r'); break;
                case 'U':
                case 'u': {
                    std::uint32_t cp = 0;
                    int digits = 0;
                    while (digits < 4 && pos_ < text_.size() && std::isxdigit(static_cast<unsigned char>(text_[pos_]))) {
                        const char h = text_[pos_++];
                        cp = cp * 16 + static_cast<std::uint32_t>(h <= '9' ? h - '0' : (h | 0x20) - 'a' + 10);
                        ++digits;
                    }
                    if (digits == 0) return false;
                    text::appendUtf8(out, cp >= 0xD800 && cp <= 0xDFFF ? 0xFFFD : cp);
                    break;
                }
                default: out.push_back(e); break;  // \" \\ and any other character stand for themselves
            }
        }
        return false;  // no closing quote
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

}  // namespace

StringsTable parseStringsTable(std::string_view bytes) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
        const std::string text = utf8FromUtf16Bytes(bytes, false);
        return Parser(text).run();
    }
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE && static_cast<unsigned char>(bytes[1]) == 0xFF) {
        const std::string text = utf8FromUtf16Bytes(bytes, true);
        return Parser(text).run();
    }
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    return Parser(bytes).run();
}

}  // namespace kestrane::launcher
