#include "plist_scanner.h"

#include "utf.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kestrane::musiclibrary {

namespace {

constexpr std::size_t kChunk = 1 << 20;

class Scanner final : public PlistLocator {
public:
    Scanner(const ByteSource& source, PlistSink& sink) : source_(source), sink_(sink) {
        buffer_.resize(kChunk);
        sink_.attach(this);
    }
    ~Scanner() override { sink_.attach(nullptr); }
    Scanner(const Scanner&) = delete;
    Scanner& operator=(const Scanner&) = delete;

    std::size_t line() const override {
        advanceLines(std::min(pos_, end_));
        return line_;
    }

    Expected<void> run() {
        if (parseDocument()) return {};
        return Error{kMalformed, "line " + std::to_string(line_) + ", column " + std::to_string(column()) + ": " + error_};
    }

private:
    // ---- input -----------------------------------------------------------------------------

    // Makes at least n bytes available from pos_, reading more as needed; false at the end.
    bool ensure(std::size_t n) {
        while (end_ - pos_ < n) {
            if (eof_) return false;
            // Move what is left to the front, counting the lines of what is dropped.
            advanceLines(pos_);
            std::memmove(buffer_.data(), buffer_.data() + pos_, end_ - pos_);
            end_ -= pos_;
            consumedBase_ += pos_;
            scanned_ = 0;
            pos_ = 0;
            if (end_ + kChunk / 4 > buffer_.size()) buffer_.resize(std::max(buffer_.size() * 2, end_ + kChunk));
            const std::ptrdiff_t got = source_(buffer_.data() + end_, buffer_.size() - end_);
            if (got < 0) {
                readError_ = true;
                return false;
            }
            if (got == 0) eof_ = true;
            end_ += static_cast<std::size_t>(got);
        }
        return true;
    }

    // Counts the lines of buffer_[scanned_, upTo).
    void advanceLines(std::size_t upTo) const {
        if (upTo <= scanned_) return;
        const char* p = buffer_.data() + scanned_;
        const char* stop = buffer_.data() + upTo;
        while (p < stop) {
            const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(stop - p)));
            if (nl == nullptr) break;
            ++line_;
            lineStartAbs_ = consumedBase_ + static_cast<std::size_t>(nl - buffer_.data()) + 1;
            p = nl + 1;
        }
        scanned_ = upTo;
    }

    std::size_t column() {
        const std::size_t at = std::min(pos_, end_);
        advanceLines(at);
        return consumedBase_ + at - lineStartAbs_ + 1;
    }

    int peek() { return ensure(1) ? static_cast<unsigned char>(buffer_[pos_]) : -1; }
    bool startsWith(std::string_view s) { return ensure(s.size()) && std::memcmp(buffer_.data() + pos_, s.data(), s.size()) == 0; }

    bool fail(std::string reason) {
        if (error_.empty()) error_ = readError_ ? "the file could not be read" : std::move(reason);
        return false;
    }

    void skipSpace() {
        for (;;) {
            while (pos_ < end_) {
                const char c = buffer_[pos_];
                if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return;
                ++pos_;
            }
            if (!ensure(1)) return;
        }
    }

    // Skips to just after `terminator`; false when the document ends first.
    bool skipPast(std::string_view terminator) {
        for (;;) {
            if (!ensure(terminator.size())) return false;
            const char* start = buffer_.data() + pos_;
            const char* last = buffer_.data() + end_;
            const char* hit = std::search(start, last, terminator.begin(), terminator.end());
            if (hit != last) {
                pos_ = static_cast<std::size_t>(hit - buffer_.data()) + terminator.size();
                return true;
            }
            // Keep the last bytes in case the terminator straddles the chunk boundary.
            pos_ = end_ - (terminator.size() - 1);
            if (!ensure(terminator.size() + 1)) return false;
        }
    }

    // Skips the prolog's and the body's comments, processing instructions and DOCTYPE.
    bool skipMisc(bool allowDoctype) {
        for (;;) {
            skipSpace();
            if (startsWith("<?")) {
                if (!skipPast("?>")) return fail("unterminated processing instruction");
            } else if (startsWith("<!--")) {
                if (!skipPast("-->")) return fail("unterminated comment");
            } else if (allowDoctype && startsWith("<!DOCTYPE")) {
                // A DOCTYPE without an internal subset: nothing in it can define entities.
                pos_ += 9;
                for (;;) {
                    const int c = peek();
                    if (c < 0) return fail("unterminated DOCTYPE");
                    if (c == '[') return fail("DOCTYPE with an internal subset is not supported");
                    if (c == '"' || c == '\'') {
                        ++pos_;
                        if (!skipPast(std::string_view(c == '"' ? "\"" : "'"))) return fail("unterminated DOCTYPE");
                        continue;
                    }
                    ++pos_;
                    if (c == '>') break;
                }
            } else {
                return true;
            }
        }
    }

    // ---- tags ------------------------------------------------------------------------------

    struct Tag {
        std::string name;
        bool closing = false;
        bool empty = false;  // <name/>
    };

    bool readTag(Tag& tag) {
        if (readTagInBuffer(tag)) return true;
        if (peek() != '<') return fail(peek() < 0 ? "unexpected end of the document" : "expected an element");
        ++pos_;
        tag.closing = peek() == '/';
        if (tag.closing) ++pos_;
        tag.name.clear();
        for (;;) {
            const int c = peek();
            if (c < 0) return fail("unexpected end of the document inside a tag");
            if (c == '>' || c == '/' || c == ' ' || c == '\t' || c == '\n' || c == '\r') break;
            if (tag.name.size() > 64) return fail("element name too long");
            tag.name.push_back(static_cast<char>(c));
            ++pos_;
        }
        if (tag.name.empty()) return fail("expected an element name");
        // Attributes (plist version="1.0") carry nothing we use; quoted values may hold '>'.
        tag.empty = false;
        for (;;) {
            const int c = peek();
            if (c < 0) return fail("unexpected end of the document inside a tag");
            ++pos_;
            if (c == '>') return true;
            if (c == '/') {
                if (peek() != '>') return fail("expected '>' after '/'");
                ++pos_;
                if (tag.closing) return fail("malformed end tag");
                tag.empty = true;
                return true;
            }
            if (c == '"' || c == '\'') {
                if (!skipPast(std::string_view(c == '"' ? "\"" : "'"))) return fail("unterminated attribute value");
            }
        }
    }

    // The common case: the whole tag is in the buffer, without quoted attribute values.
    bool readTagInBuffer(Tag& tag) {
        if (pos_ >= end_ || buffer_[pos_] != '<') return false;
        const char* p = buffer_.data() + pos_ + 1;
        const char* e = buffer_.data() + end_;
        const char* gt = static_cast<const char*>(std::memchr(p, '>', static_cast<std::size_t>(e - p)));
        if (gt == nullptr || gt - p > 80) return false;
        tag.closing = *p == '/';
        if (tag.closing) ++p;
        const char* nameStart = p;
        while (p < gt && *p != '/' && *p != ' ' && *p != '\t' && *p != '\n' && *p != '\r') ++p;
        if (p == nameStart) return false;
        tag.name.assign(nameStart, p);
        tag.empty = false;
        for (const char* q = p; q < gt; ++q) {
            if (*q == '"' || *q == '\'' || *q == '<') return false;  // let the careful path judge
        }
        if (gt[-1] == '/' && gt - 1 >= p) {
            if (tag.closing) return false;
            tag.empty = true;
        }
        pos_ = static_cast<std::size_t>(gt - buffer_.data()) + 1;
        return true;
    }

    // Reads character data up to the end tag </name>, resolving references, into text_.
    bool readText(const std::string& name) {
        text_.clear();
        for (;;) {
            if (!ensure(1)) return fail("unexpected end of the document in <" + name + ">");
            const char* start = buffer_.data() + pos_;
            const char* stop = static_cast<const char*>(std::memchr(start, '<', end_ - pos_));
            const char* amp = static_cast<const char*>(std::memchr(start, '&', (stop ? stop : buffer_.data() + end_) - start));
            const char* runEnd = amp ? amp : (stop ? stop : buffer_.data() + end_);
            text_.append(start, runEnd);
            pos_ = static_cast<std::size_t>(runEnd - buffer_.data());
            if (amp != nullptr) {
                if (!readReference()) return false;
                continue;
            }
            if (stop == nullptr) continue;  // more text in the next chunk
            if (ensure(2) && buffer_[pos_ + 1] == '!' && startsWith("<![CDATA[")) {
                pos_ += 9;
                for (;;) {
                    if (!ensure(3)) return fail("unterminated CDATA section");
                    if (startsWith("]]>")) {
                        pos_ += 3;
                        break;
                    }
                    text_.push_back(buffer_[pos_++]);
                }
                continue;
            }
            if (buffer_[pos_ + 1] == '!' && startsWith("<!--")) {
                if (!skipPast("-->")) return fail("unterminated comment");
                continue;
            }
            Tag& end = endTag_;
            if (!readTag(end)) return false;
            if (!end.closing || end.name != name) return fail("expected </" + name + ">");
            return true;
        }
    }

    bool readReference() {
        ++pos_;  // '&'
        std::string ref;
        for (;;) {
            const int c = peek();
            if (c < 0) return fail("unterminated character reference");
            ++pos_;
            if (c == ';') break;
            if (ref.size() > 10) return fail("malformed character reference");
            ref.push_back(static_cast<char>(c));
        }
        if (ref == "amp") text_.push_back('&');
        else if (ref == "lt") text_.push_back('<');
        else if (ref == "gt") text_.push_back('>');
        else if (ref == "quot") text_.push_back('"');
        else if (ref == "apos") text_.push_back('\'');
        else if (ref.size() >= 2 && ref[0] == '#') {
            const bool hex = ref[1] == 'x' || ref[1] == 'X';
            const std::string digits = ref.substr(hex ? 2 : 1);
            if (digits.empty() || digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos) {
                return fail("malformed character reference &" + ref + ";");
            }
            const unsigned long cp = std::strtoul(digits.c_str(), nullptr, hex ? 16 : 10);
            if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return fail("invalid character reference &" + ref + ";");
            text::appendUtf8(text_, static_cast<char32_t>(cp));
        } else {
            return fail("unknown entity &" + ref + ";");
        }
        return true;
    }

    // ---- structure -------------------------------------------------------------------------

    bool parseDocument() {
        if (startsWith("\xEF\xBB\xBF")) pos_ += 3;
        if (!ensure(1)) return fail(readError_ ? "the file could not be read" : "the document is empty");
        if (startsWith("<?xml")) {
            // The declaration may name an encoding; only UTF-8 (or its ASCII subset) is read.
            const std::size_t declStart = pos_;
            if (!skipPast("?>")) return fail("unterminated XML declaration");
            std::string decl(buffer_.data() + declStart, buffer_.data() + pos_);
            for (char& c : decl) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            const std::size_t enc = decl.find("encoding");
            if (enc != std::string::npos && decl.find("utf-8", enc) == std::string::npos &&
                decl.find("us-ascii", enc) == std::string::npos) {
                return fail("only UTF-8 documents are read");
            }
        }
        if (!skipMisc(true)) return false;
        Tag tag;
        if (!readTag(tag)) return false;
        if (tag.closing || tag.name != "plist") return fail("expected <plist>");
        if (tag.empty) return fail("the property list is empty");
        if (!skipMisc(false)) return false;
        if (!parseValue()) return false;
        if (!skipMisc(false)) return false;
        if (!readTag(tag)) return false;
        if (!tag.closing || tag.name != "plist") return fail("expected </plist>");
        if (!skipMisc(false)) return false;
        if (ensure(1)) return fail("content after </plist>");
        if (readError_) return fail("the file could not be read");
        return true;
    }

    enum class Element { dict, array, key, string, integer, real, date, data, trueValue, falseValue, other };

    // The element a tag names, decided by length and first letter before any full compare.
    static Element elementOf(const std::string& n) {
        switch (n.size()) {
            case 3: return n == "key" ? Element::key : Element::other;
            case 4:
                if (n[0] == 'd') return n == "dict" ? Element::dict : n == "date" ? Element::date : n == "data" ? Element::data : Element::other;
                if (n[0] == 'r') return n == "real" ? Element::real : Element::other;
                return n == "true" ? Element::trueValue : Element::other;
            case 5:
                if (n[0] == 'a') return n == "array" ? Element::array : Element::other;
                return n == "false" ? Element::falseValue : Element::other;
            case 6: return n == "string" ? Element::string : Element::other;
            case 7: return n == "integer" ? Element::integer : Element::other;
            default: return Element::other;
        }
    }

    // One value. Containers are walked with an explicit stack, so deep nesting cannot
    // exhaust the call stack.
    bool parseValue() {
        std::vector<char> open;  // 'd' dict, 'a' array
        std::vector<bool> expectKey;
        Tag tag;
        for (;;) {
            skipSpace();
            if (ensure(2) && buffer_[pos_] == '<' && (buffer_[pos_ + 1] == '!' || buffer_[pos_ + 1] == '?')) {
                if (!skipMisc(false)) return false;
            }
            if (!readTag(tag)) return false;
            const Element element = elementOf(tag.name);
            if (tag.closing) {
                const char want = open.empty() ? 0 : open.back();
                if ((want == 'd' && element == Element::dict) || (want == 'a' && element == Element::array)) {
                    if (want == 'd' && !expectKey.back()) return fail("a key without a value in <dict>");
                    open.pop_back();
                    expectKey.pop_back();
                    if (!(want == 'd' ? sink_.endDict() : sink_.endArray())) return fail(sink_.reason());
                    if (open.empty()) return true;
                    continue;
                }
                return fail("unexpected </" + tag.name + ">");
            }
            if (!open.empty() && open.back() == 'd') {
                if (expectKey.back()) {
                    if (element != Element::key) return fail("expected <key> in <dict>, found <" + tag.name + ">");
                    if (tag.empty) text_.clear();
                    else if (!readText("key")) return false;
                    if (!sink_.key(text_)) return fail(sink_.reason());
                    expectKey.back() = false;
                    continue;
                }
                expectKey.back() = true;  // this element is the key's value
            }
            if (element == Element::dict || element == Element::array) {
                const bool dict = element == Element::dict;
                if (!(dict ? sink_.beginDict() : sink_.beginArray())) return fail(sink_.reason());
                if (tag.empty) {
                    if (!(dict ? sink_.endDict() : sink_.endArray())) return fail(sink_.reason());
                    if (open.empty()) return true;
                    continue;
                }
                if (open.size() > 512) return fail("nesting too deep");
                open.push_back(dict ? 'd' : 'a');
                expectKey.push_back(true);
                continue;
            }
            if (element == Element::trueValue || element == Element::falseValue) {
                if (!tag.empty && !readText(tag.name)) return false;
                if (!sink_.value(ValueKind::boolean, tag.name)) return fail(sink_.reason());
            } else {
                ValueKind kind;
                switch (element) {
                    case Element::string: kind = ValueKind::string; break;
                    case Element::integer: kind = ValueKind::integer; break;
                    case Element::real: kind = ValueKind::real; break;
                    case Element::date: kind = ValueKind::date; break;
                    case Element::data: kind = ValueKind::data; break;
                    case Element::key: return fail("<key> outside a <dict>");
                    default: return fail("unknown element <" + tag.name + ">");
                }
                if (tag.empty) text_.clear();
                else if (!readText(tag.name)) return false;
                if (!sink_.value(kind, text_)) return fail(sink_.reason());
            }
            if (open.empty()) return true;
        }
    }

    const ByteSource& source_;
    PlistSink& sink_;
    std::vector<char> buffer_;
    std::size_t pos_ = 0, end_ = 0;
    bool eof_ = false, readError_ = false;
    std::string text_;
    Tag endTag_;
    std::string error_;
    // Position bookkeeping for error messages.
    mutable std::size_t line_ = 1, scanned_ = 0, lineStartAbs_ = 0;
    std::size_t consumedBase_ = 0;
};

}  // namespace

Expected<void> scanPlist(const ByteSource& source, PlistSink& sink) {
    Scanner scanner(source, sink);
    return scanner.run();
}

Expected<void> scanPlist(std::string_view document, PlistSink& sink) {
    std::size_t offset = 0;
    ByteSource source = [&](char* buffer, std::size_t capacity) -> std::ptrdiff_t {
        const std::size_t n = std::min(capacity, document.size() - offset);
        std::memcpy(buffer, document.data() + offset, n);
        offset += n;
        return static_cast<std::ptrdiff_t>(n);
    };
    return scanPlist(source, sink);
}

}  // namespace kestrane::musiclibrary
