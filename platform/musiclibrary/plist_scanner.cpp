#include "plist_scanner.h"

#include "binary_plist.h"
#include "utf.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrane::musiclibrary {

namespace {

constexpr std::size_t kChunk = 1 << 20;

class Scanner final : public PlistLocator {
public:
    // fromUtf16: the source is the UTF-8 form of a UTF-16 document, so its declaration may
    // name UTF-16.
    Scanner(const ByteSource& source, PlistSink& sink, bool fromUtf16)
        : source_(source), sink_(sink), fromUtf16_(fromUtf16) {
        buffer_.resize(kChunk);
        sink_.attach(this);
    }
    ~Scanner() override { sink_.attach(nullptr); }
    Scanner(const Scanner&) = delete;
    Scanner& operator=(const Scanner&) = delete;

    std::string position() const override {
        advanceLines(std::min(pos_, end_));
        return "line " + std::to_string(line_);
    }

    Expected<void> run() {
        if (parseDocument()) return {};
        const std::size_t col = column();  // brings the line count up to date first
        return Error(PlistError::malformed, "line " + std::to_string(line_) + ", column " + std::to_string(col) + ": " + error_);
    }

private:
    // ---- input -----------------------------------------------------------------------------

    // Makes at least n bytes available from pos_, reading more as needed; false at the end.
    bool ensure(std::size_t n) { return end_ - pos_ >= n || refill(n); }

    [[gnu::noinline]] bool refill(std::size_t n) {
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
            end_ += normalizeLineEnds(buffer_.data() + end_, static_cast<std::size_t>(got));
        }
        return true;
    }

    // XML's end-of-line handling, on bytes as they arrive: CR LF and a lone CR become LF. A CR
    // that ends one read may be followed by the LF that starts the next. Returns how many
    // bytes are left.
    std::size_t normalizeLineEnds(char* bytes, std::size_t n) {
        std::size_t from = 0;
        if (crEndedLastRead_ && n > 0 && bytes[0] == '\n') from = 1;  // that CR's LF
        if (n > 0) crEndedLastRead_ = false;
        char* first = static_cast<char*>(std::memchr(bytes + from, '\r', n - from));
        if (first == nullptr) {
            if (from == 0) return n;
            std::memmove(bytes, bytes + 1, n - 1);
            return n - 1;
        }
        std::size_t out = 0;
        for (std::size_t i = from; i < n; ++i) {
            const char c = bytes[i];
            if (c != '\r') {
                bytes[out++] = c;
                continue;
            }
            bytes[out++] = '\n';
            if (i + 1 < n && bytes[i + 1] == '\n') ++i;
            else if (i + 1 == n) crEndedLastRead_ = true;
        }
        return out;
    }

    // Counts the lines of buffer_[scanned_, upTo), and the UTF-8 continuation bytes of the
    // current line, so that columns count characters. Runs over every byte of the document
    // once (on each refill), so it counts sixteen bytes at a time.
    void advanceLines(std::size_t upTo) const {
        if (upTo <= scanned_) return;
        const char* p = buffer_.data() + scanned_;
        const char* stop = buffer_.data() + upTo;
        const auto* last = static_cast<const char*>(memrchr(p, '\n', static_cast<std::size_t>(stop - p)));
        if (last != nullptr) {
            line_ += countNewlines(p, last + 1);
            lineStartAbs_ = consumedBase_ + static_cast<std::size_t>(last - buffer_.data()) + 1;
            continuationsInLine_ = 0;
            p = last + 1;
        }
        for (; p < stop; ++p) {
            if ((static_cast<unsigned char>(*p) & 0xC0) == 0x80) ++continuationsInLine_;
        }
        scanned_ = upTo;
    }

    static std::size_t countNewlines(const char* p, const char* end) {
        std::size_t n = 0;
#if defined(__SSE2__)
        // Each match subtracts -1 from a byte lane; the lanes are summed before they can wrap.
        const __m128i newline = _mm_set1_epi8('\n');
        while (end - p >= 16) {
            __m128i lanes = _mm_setzero_si128();
            for (int i = 0; i < 255 && end - p >= 16; ++i, p += 16) {
                const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
                lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(block, newline));
            }
            const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
            n += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) + static_cast<std::size_t>(_mm_extract_epi16(sums, 4));
        }
#endif
        for (; p < end; ++p) n += *p == '\n';
        return n;
    }

    std::size_t column() {
        const std::size_t at = std::min(pos_, end_);
        advanceLines(at);
        return consumedBase_ + at - lineStartAbs_ - continuationsInLine_ + 1;
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

    enum class Element { dict, array, key, string, integer, real, date, data, trueValue, falseValue, other };

    struct Tag {
        Element element = Element::other;
        std::string name;  // kept for elements other than the property-list ones, for messages
        bool closing = false;
        bool empty = false;  // <name/>
    };

    static std::string_view nameOf(const Tag& tag) {
        static constexpr std::string_view kNames[] = {"dict", "array", "key", "string", "integer", "real", "date", "data", "true", "false"};
        return tag.element == Element::other ? std::string_view(tag.name) : kNames[static_cast<int>(tag.element)];
    }

    // The first four bytes of a name as one number, so that names compare as numbers.
    static std::uint32_t word(const char* bytes) {
        std::uint32_t w;
        std::memcpy(&w, bytes, sizeof w);
        return w;
    }
    static constexpr std::uint32_t wordOf(std::string_view s) {
        std::uint32_t w = 0;
        for (std::size_t i = 4; i-- > 0;) w = w << 8 | static_cast<unsigned char>(s[i]);  // little-endian
        return w;
    }
    static_assert(std::endian::native == std::endian::little);

    // The element a name names, decided by its length and first four bytes.
    [[gnu::always_inline]] static Element elementOf(const char* n, std::size_t size) {
        switch (size) {
            case 3: return n[0] == 'k' && n[1] == 'e' && n[2] == 'y' ? Element::key : Element::other;
            case 4:
                switch (word(n)) {
                    case wordOf("dict"): return Element::dict;
                    case wordOf("date"): return Element::date;
                    case wordOf("data"): return Element::data;
                    case wordOf("real"): return Element::real;
                    case wordOf("true"): return Element::trueValue;
                    default: return Element::other;
                }
            case 5:
                if (word(n) == wordOf("arra") && n[4] == 'y') return Element::array;
                return word(n) == wordOf("fals") && n[4] == 'e' ? Element::falseValue : Element::other;
            case 6: return word(n) == wordOf("stri") && n[4] == 'n' && n[5] == 'g' ? Element::string : Element::other;
            case 7: return word(n) == wordOf("inte") && word(n + 3) == wordOf("eger") ? Element::integer : Element::other;
            default: return Element::other;
        }
    }

    static void setName(Tag& tag, const char* name, std::size_t size) {
        tag.element = elementOf(name, size);
        if (tag.element == Element::other) tag.name.assign(name, size);
    }

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
        tag.element = elementOf(tag.name.data(), tag.name.size());
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

    // The bytes that continue an element name in the fast path: all but '>', '/' and white
    // space.
    static constexpr auto kNameByte = [] {
        std::array<bool, 256> table{};
        for (int c = 0; c < 256; ++c) table[c] = c != '>' && c != '/' && c != ' ' && c != '\t' && c != '\n' && c != '\r';
        return table;
    }();

    // The common case: the whole tag is in the buffer, without quoted attribute values. The
    // buffer is left as it is when it is not.
    bool readTagInBuffer(Tag& tag) {
        if (pos_ >= end_ || buffer_[pos_] != '<') return false;
        const char* p = buffer_.data() + pos_ + 1;
        const char* e = buffer_.data() + std::min(end_, pos_ + 82);
        if (p == e) return false;
        tag.closing = *p == '/';
        if (tag.closing) ++p;
        const char* nameStart = p;
        while (p < e && kNameByte[static_cast<unsigned char>(*p)]) ++p;
        const char* nameEnd = p;
        if (nameEnd == nameStart) return false;
        for (; p < e && *p != '>'; ++p) {
            if (*p == '"' || *p == '\'' || *p == '<') return false;  // let the careful path judge
        }
        if (p == e) return false;
        tag.empty = p[-1] == '/';
        if (tag.empty && tag.closing) return false;
        setName(tag, nameStart, static_cast<std::size_t>(nameEnd - nameStart));
        pos_ = static_cast<std::size_t>(p - buffer_.data()) + 1;
        return true;
    }

    // The first '<' or '&' in [p, end), or end.
    static const char* findMarkup(const char* p, const char* end) {
#if defined(__SSE2__)
        const __m128i lt = _mm_set1_epi8('<'), amp = _mm_set1_epi8('&');
        for (; end - p >= 16; p += 16) {
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const int hits = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(block, lt), _mm_cmpeq_epi8(block, amp)));
            if (hits != 0) return p + __builtin_ctz(static_cast<unsigned>(hits));
        }
#endif
        for (; p < end; ++p) {
            if (*p == '<' || *p == '&') return p;
        }
        return end;
    }

    // Reads character data up to the end tag of `element`, resolving references. The text is
    // `out`: a view of the buffer when it came in one piece (valid until the next read), else
    // of text_. Each byte is looked at once, however many references the text holds.
    bool readText(const Tag& element, std::string_view& out) {
        text_.clear();
        bool inText = false;  // whether pieces of the text are already in text_
        for (;;) {
            if (!ensure(1)) return fail("unexpected end of the document in <" + std::string(nameOf(element)) + ">");
            const char* start = buffer_.data() + pos_;
            const char* limit = buffer_.data() + end_;
            const char* stop = findMarkup(start, limit);
            pos_ = static_cast<std::size_t>(stop - buffer_.data());
            if (stop == limit || *stop == '&') {
                text_.append(start, stop);
                inText = true;
                if (stop != limit && !readReference()) return false;
                continue;  // more text in the next chunk, or after the reference
            }
            if (pos_ + 1 < end_ && buffer_[pos_ + 1] == '!') {
                text_.append(start, stop);
                inText = true;
                if (startsWith("<![CDATA[")) {
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
                if (startsWith("<!--")) {
                    if (!skipPast("-->")) return fail("unterminated comment");
                    continue;
                }
            }
            // The end tag. Found in the buffer as it is, the text can stay where it is.
            if (!inText && readTagInBuffer(endTag_)) {
                out = std::string_view(start, static_cast<std::size_t>(stop - start));
            } else {
                text_.append(start, stop);
                if (!readTag(endTag_)) return false;
                out = text_;
            }
            // Text is only read inside the property-list elements, so their kinds tell them apart.
            if (!endTag_.closing || endTag_.element != element.element || element.element == Element::other) {
                return fail("expected </" + std::string(nameOf(element)) + ">");
            }
            return true;
        }
    }

    // A reference at pos_ ('&'): a predefined entity's character (as a code point) or a
    // character reference's number, not yet checked for range.
    bool parseReference(std::uint32_t& cp, std::string& ref) {
        ++pos_;  // '&'
        ref.clear();
        for (;;) {
            const int c = peek();
            if (c < 0) return fail("unterminated character reference");
            ++pos_;
            if (c == ';') break;
            if (ref.size() > 10) return fail("malformed character reference");
            ref.push_back(static_cast<char>(c));
        }
        if (ref == "amp") cp = '&';
        else if (ref == "lt") cp = '<';
        else if (ref == "gt") cp = '>';
        else if (ref == "quot") cp = '"';
        else if (ref == "apos") cp = '\'';
        else if (ref.size() >= 2 && ref[0] == '#') {
            const bool hex = ref[1] == 'x' || ref[1] == 'X';
            const std::string digits = ref.substr(hex ? 2 : 1);
            if (digits.empty() || digits.size() > 8 ||
                digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos) {
                return fail("malformed character reference &" + ref + ";");
            }
            cp = static_cast<std::uint32_t>(std::strtoul(digits.c_str(), nullptr, hex ? 16 : 10));
        } else {
            return fail("unknown entity &" + ref + ";");
        }
        return true;
    }

    static bool isHighSurrogate(std::uint32_t cp) { return cp >= 0xD800 && cp <= 0xDBFF; }
    static bool isLowSurrogate(std::uint32_t cp) { return cp >= 0xDC00 && cp <= 0xDFFF; }

    // Resolves the reference at pos_ into text_. A surrogate pair written as two character
    // references joins into its character; &#0;, a lone surrogate and numbers beyond Unicode
    // become U+FFFD.
    bool readReference() {
        ensure(32);  // both halves of a pair in the buffer at once, when the document has them
        std::uint32_t cp = 0;
        std::string ref;
        if (!parseReference(cp, ref)) return false;
        if (isHighSurrogate(cp) && startsWith("&#")) {
            const std::size_t second = pos_;
            std::uint32_t low = 0;
            if (!parseReference(low, ref)) return false;
            if (isLowSurrogate(low)) {
                text::appendUtf8(text_, 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00));
                return true;
            }
            pos_ = second;  // not the other half: it is read on its own next
        }
        if (cp == 0 || isHighSurrogate(cp) || isLowSurrogate(cp) || cp > 0x10FFFF) cp = 0xFFFD;
        text::appendUtf8(text_, static_cast<char32_t>(cp));
        return true;
    }

    // ---- structure -------------------------------------------------------------------------

    bool parseDocument() {
        if (startsWith("\xEF\xBB\xBF")) {
            // The byte-order mark is not a character of the first line.
            pos_ += 3;
            scanned_ = pos_;
            lineStartAbs_ = consumedBase_ + pos_;
        }
        if (!ensure(1)) return fail(readError_ ? "the file could not be read" : "the document is empty");
        if (startsWith("<?xml")) {
            const std::size_t declStart = pos_;
            if (!skipPast("?>")) return fail("unterminated XML declaration");
            if (!checkEncoding(std::string(buffer_.data() + declStart, buffer_.data() + pos_))) return false;
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
        // White space and NUL bytes after the end, as some writers leave them, are passed over.
        while (ensure(1)) {
            const char c = buffer_[pos_];
            if (c != '\0' && c != ' ' && c != '\t' && c != '\n') return fail("content after </plist>");
            ++pos_;
        }
        if (readError_) return fail("the file could not be read");
        return true;
    }

    // The encoding the declaration names, if any, must be the one the document is read in:
    // UTF-8 (or its ASCII subset), or UTF-16 for a document that came as UTF-16.
    bool checkEncoding(const std::string& declaration) {
        std::string lower = declaration;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::size_t at = lower.find("encoding");
        if (at == std::string::npos) return true;
        at = lower.find_first_of("\"'", at);
        if (at == std::string::npos) return fail("malformed XML declaration");
        const std::size_t close = lower.find(lower[at], at + 1);
        if (close == std::string::npos) return fail("malformed XML declaration");
        const std::string name = lower.substr(at + 1, close - at - 1), asWritten = declaration.substr(at + 1, close - at - 1);
        const bool utf16 = name == "utf-16" || name == "utf-16le" || name == "utf-16be";
        if (fromUtf16_) return utf16 || fail("the document declares " + asWritten + " but its bytes are UTF-16");
        if (name == "utf-8" || name == "us-ascii") return true;
        if (utf16) return fail("the document declares " + asWritten + " but its bytes are not UTF-16");
        return fail("the encoding " + asWritten + " is not supported");
    }

    // One value. Containers are walked with an explicit stack, so deep nesting cannot
    // exhaust the call stack.
    bool parseValue() {
        std::vector<char> open;  // 'd' dict, 'a' array
        std::vector<bool> expectKey;
        Tag tag;
        std::string_view text;
        for (;;) {
            skipSpace();
            if (ensure(2) && buffer_[pos_] == '<' && (buffer_[pos_ + 1] == '!' || buffer_[pos_ + 1] == '?')) {
                if (!skipMisc(false)) return false;
            }
            if (!readTag(tag)) return false;
            const Element element = tag.element;
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
                return fail("unexpected </" + std::string(nameOf(tag)) + ">");
            }
            if (!open.empty() && open.back() == 'd') {
                if (expectKey.back()) {
                    if (element != Element::key) return fail("expected <key> in <dict>, found <" + std::string(nameOf(tag)) + ">");
                    if (tag.empty) text = std::string_view("", 0);  // empty, but never a null pointer
                    else if (!readText(tag, text)) return false;
                    if (!sink_.key(text)) return fail(sink_.reason());
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
                if (!tag.empty && !readText(tag, text)) return false;
                if (!sink_.value(ValueKind::boolean, nameOf(tag))) return fail(sink_.reason());
            } else {
                ValueKind kind;
                switch (element) {
                    case Element::string: kind = ValueKind::string; break;
                    case Element::integer: kind = ValueKind::integer; break;
                    case Element::real: kind = ValueKind::real; break;
                    case Element::date: kind = ValueKind::date; break;
                    case Element::data: kind = ValueKind::data; break;
                    case Element::key: return fail("<key> outside a <dict>");
                    default: return fail("unknown element <" + std::string(nameOf(tag)) + ">");
                }
                if (tag.empty) text = std::string_view("", 0);  // empty, but never a null pointer
                else if (!readText(tag, text)) return false;
                if (!sink_.value(kind, text)) return fail(sink_.reason());
            }
            if (open.empty()) return true;
        }
    }

    const ByteSource& source_;
    PlistSink& sink_;
    bool fromUtf16_;
    std::vector<char> buffer_;
    std::size_t pos_ = 0, end_ = 0;
    bool eof_ = false, readError_ = false, crEndedLastRead_ = false;
    std::string text_;
    Tag endTag_;
    std::string error_;
    // Position bookkeeping for error messages.
    mutable std::size_t line_ = 1, scanned_ = 0, lineStartAbs_ = 0, continuationsInLine_ = 0;
    std::size_t consumedBase_ = 0;
};

// Reads a UTF-16 document as UTF-8, as it streams: units are decoded chunk by chunk, a pair
// or a unit split between two reads joins up, and unpaired surrogates (or an odd last byte)
// become U+FFFD.
class Utf16Source {
public:
    Utf16Source(const ByteSource& inner, std::string prefix, bool bigEndian)
        : inner_(inner), raw_(std::move(prefix)), bigEndian_(bigEndian) {}

    std::ptrdiff_t operator()(char* buffer, std::size_t capacity) {
        while (outAt_ == out_.size()) {
            if (ended_) return 0;
            if (!refill()) return -1;
        }
        const std::size_t n = std::min(capacity, out_.size() - outAt_);
        std::memcpy(buffer, out_.data() + outAt_, n);
        outAt_ += n;
        return static_cast<std::ptrdiff_t>(n);
    }

private:
    bool refill() {
        out_.clear();
        outAt_ = 0;
        const std::size_t kept = raw_.size();
        raw_.resize(kept + kChunk / 2);
        const std::ptrdiff_t got = inner_(raw_.data() + kept, kChunk / 2);
        if (got < 0) return false;
        raw_.resize(kept + static_cast<std::size_t>(got));
        if (got == 0) ended_ = true;
        std::size_t i = 0;
        for (; i + 2 <= raw_.size(); i += 2) {
            const auto a = static_cast<unsigned char>(raw_[i]), b = static_cast<unsigned char>(raw_[i + 1]);
            unit(static_cast<char16_t>(bigEndian_ ? a << 8 | b : b << 8 | a));
        }
        raw_.erase(0, i);
        if (ended_) {
            if (high_ != 0) text::appendUtf8(out_, 0xFFFD);
            if (!raw_.empty()) text::appendUtf8(out_, 0xFFFD);
            high_ = 0;
            raw_.clear();
        }
        return true;
    }

    void unit(char16_t u) {
        if (high_ != 0) {
            if (u >= 0xDC00 && u <= 0xDFFF) {
                text::appendUtf8(out_, 0x10000 + ((static_cast<char32_t>(high_) - 0xD800) << 10) + (u - 0xDC00));
                high_ = 0;
                return;
            }
            text::appendUtf8(out_, 0xFFFD);
            high_ = 0;
        }
        if (u >= 0xD800 && u <= 0xDBFF) high_ = u;
        else if (u >= 0xDC00 && u <= 0xDFFF) text::appendUtf8(out_, 0xFFFD);
        else text::appendUtf8(out_, u);
    }

    const ByteSource& inner_;
    std::string raw_;  // bytes read but not yet decoded (an odd byte at most, or the prefix)
    bool bigEndian_;
    bool ended_ = false;
    char16_t high_ = 0;  // a high surrogate waiting for its pair
    std::string out_;
    std::size_t outAt_ = 0;
};

// Hands out the bytes already read to tell the document's form, then the rest of the source.
class PrefixedSource {
public:
    PrefixedSource(const ByteSource& inner, std::string prefix) : inner_(inner), prefix_(std::move(prefix)) {}

    std::ptrdiff_t operator()(char* buffer, std::size_t capacity) {
        if (at_ == prefix_.size()) return inner_(buffer, capacity);
        const std::size_t n = std::min(capacity, prefix_.size() - at_);
        std::memcpy(buffer, prefix_.data() + at_, n);
        at_ += n;
        return static_cast<std::ptrdiff_t>(n);
    }

private:
    const ByteSource& inner_;
    std::string prefix_;
    std::size_t at_ = 0;
};

// Reads until `bytes` holds n bytes or the source ends; false on a read error.
bool readUpTo(const ByteSource& source, std::string& bytes, std::size_t n) {
    while (bytes.size() < n) {
        const std::size_t had = bytes.size();
        bytes.resize(n);
        const std::ptrdiff_t got = source(bytes.data() + had, n - had);
        if (got < 0) return false;
        bytes.resize(had + static_cast<std::size_t>(got));
        if (got == 0) break;
    }
    return true;
}

// Appends the rest of the source to bytes; false on a read error.
bool readRest(const ByteSource& source, std::string& bytes) {
    for (;;) {
        const std::size_t had = bytes.size();
        bytes.resize(had + kChunk);
        const std::ptrdiff_t got = source(bytes.data() + had, kChunk);
        bytes.resize(had + static_cast<std::size_t>(std::max<std::ptrdiff_t>(got, 0)));
        if (got <= 0) return got == 0;
    }
}

}  // namespace

Expected<void> scanPlist(const ByteSource& source, PlistSink& sink) {
    // The first bytes tell the form: binary, UTF-16 (by its byte-order mark, or by the "<?"
    // of a declaration), or else UTF-8.
    std::string head;
    if (!readUpTo(source, head, 8)) return Error(PlistError::malformed, "line 1, column 1: the file could not be read");
    if (isBinaryPlist(head)) {
        if (!readRest(source, head)) return Error(PlistError::malformed, "the file could not be read");
        return scanBinaryPlist(head, sink);
    }
    const std::string_view h = head;
    const bool le = h.starts_with("\xFF\xFE") || h.starts_with(std::string_view("<\0?\0", 4));
    const bool be = h.starts_with("\xFE\xFF") || h.starts_with(std::string_view("\0<\0?", 4));
    if (le || be) {
        Utf16Source utf16(source, std::move(head), be);
        const ByteSource transcoded = std::ref(utf16);
        Scanner scanner(transcoded, sink, true);
        return scanner.run();
    }
    const ByteSource prefixed = PrefixedSource(source, std::move(head));
    Scanner scanner(prefixed, sink, false);
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
