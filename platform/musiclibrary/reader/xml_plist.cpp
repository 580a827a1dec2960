#include "xml_plist.h"

#include <array>
#include <bit>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "utf.h"
#include "xml_input.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrane::musiclibrary {

namespace {

class Scanner final : public PlistLocator {
public:
    // fromUtf16: the source is the UTF-8 form of a UTF-16 document, so its declaration may
    // name UTF-16.
    Scanner(const ByteSource& source, PlistSink& sink, bool fromUtf16, XmlSplit* split = nullptr)
        : in_(source), sink_(sink), fromUtf16_(fromUtf16), split_(split) {
        sink_.attach(this);
    }
    ~Scanner() override { sink_.attach(nullptr); }
    Scanner(const Scanner&) = delete;
    Scanner& operator=(const Scanner&) = delete;

    std::string position() const override { return "line " + std::to_string(in_.line()); }

    Expected<void> run() { return result(parseDocument()); }

    // The rest of a document from a key directly inside a dictionary that is the value of a
    // key of the top-level one (XmlSplit).
    Expected<void> runTail() {
        if (!in_.ensure(1)) return result(fail("unexpected end of the document"));
        return result(parseValue({'d', 'd'}, {true, true}) && parseEnd());
    }

private:
    Expected<void> result(bool parsed) {
        abandonSplit();  // a split not joined by now never will be
        if (parsed) return {};
        const std::size_t col = in_.column();  // brings the line count up to date first
        return Error(PlistError::malformed, "line " + std::to_string(in_.line()) + ", column " + std::to_string(col) + ": " + error_);
    }

    void abandonSplit() {
        if (split_ == nullptr) return;
        XmlSplit* split = std::exchange(split_, nullptr);
        split->abandon();
    }

    // At a tag, with open and expectKey the containers around it: whether the second reader of
    // a split took over from here. A place other than the one it began at abandons the split.
    bool joinedSplit(const std::vector<char>& open, const std::vector<bool>& expectKey) {
        const std::optional<std::size_t> offset = in_.sourceOffset();
        if (offset && *offset < split_->offset) return false;
        const bool there = offset && *offset == split_->offset && open.size() == 2 && open[0] == 'd' && open[1] == 'd' &&
                           expectKey[0] && expectKey[1];
        if (there && split_->join()) {
            split_ = nullptr;
            joined_ = true;
            return true;
        }
        abandonSplit();
        return false;
    }

    bool fail(std::string reason) {
        if (error_.empty()) error_ = in_.readFailed() ? "the file could not be read" : std::move(reason);
        return false;
    }

    // Skips the prolog's and the body's comments, processing instructions and DOCTYPE.
    bool skipMisc(bool allowDoctype) {
        for (;;) {
            in_.skipSpace();
            if (in_.startsWith("<?")) {
                if (!in_.skipPast("?>")) return fail("unterminated processing instruction");
            } else if (in_.startsWith("<!--")) {
                if (!in_.skipPast("-->")) return fail("unterminated comment");
            } else if (allowDoctype && in_.startsWith("<!DOCTYPE")) {
                // A DOCTYPE without an internal subset: nothing in it can define entities.
                in_.pos += 9;
                for (;;) {
                    const int c = in_.peek();
                    if (c < 0) return fail("unterminated DOCTYPE");
                    if (c == '[') return fail("DOCTYPE with an internal subset is not supported");
                    if (c == '"' || c == '\'') {
                        ++in_.pos;
                        if (!in_.skipPast(std::string_view(c == '"' ? "\"" : "'"))) return fail("unterminated DOCTYPE");
                        continue;
                    }
                    ++in_.pos;
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
        if (in_.peek() != '<') return fail(in_.peek() < 0 ? "unexpected end of the document" : "expected an element");
        ++in_.pos;
        tag.closing = in_.peek() == '/';
        if (tag.closing) ++in_.pos;
        tag.name.clear();
        for (;;) {
            const int c = in_.peek();
            if (c < 0) return fail("unexpected end of the document inside a tag");
            if (c == '>' || c == '/' || c == ' ' || c == '\t' || c == '\n' || c == '\r') break;
            if (tag.name.size() > 64) return fail("element name too long");
            tag.name.push_back(static_cast<char>(c));
            ++in_.pos;
        }
        if (tag.name.empty()) return fail("expected an element name");
        tag.element = elementOf(tag.name.data(), tag.name.size());
        // Attributes (plist version="1.0") carry nothing we use; quoted values may hold '>'.
        tag.empty = false;
        for (;;) {
            const int c = in_.peek();
            if (c < 0) return fail("unexpected end of the document inside a tag");
            ++in_.pos;
            if (c == '>') return true;
            if (c == '/') {
                if (in_.peek() != '>') return fail("expected '>' after '/'");
                ++in_.pos;
                if (tag.closing) return fail("malformed end tag");
                tag.empty = true;
                return true;
            }
            if (c == '"' || c == '\'') {
                if (!in_.skipPast(std::string_view(c == '"' ? "\"" : "'"))) return fail("unterminated attribute value");
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
        if (in_.pos >= in_.end || in_.buffer[in_.pos] != '<') return false;
        const char* p = in_.buffer.data() + in_.pos + 1;
        const char* e = in_.buffer.data() + std::min(in_.end, in_.pos + 82);
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
        in_.pos = static_cast<std::size_t>(p - in_.buffer.data()) + 1;
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
            if (!in_.ensure(1)) return fail("unexpected end of the document in <" + std::string(nameOf(element)) + ">");
            const char* start = in_.buffer.data() + in_.pos;
            const char* limit = in_.buffer.data() + in_.end;
            const char* stop = findMarkup(start, limit);
            in_.pos = static_cast<std::size_t>(stop - in_.buffer.data());
            if (stop == limit || *stop == '&') {
                text_.append(start, stop);
                inText = true;
                if (stop != limit && !readReference()) return false;
                continue;  // more text in the next chunk, or after the reference
            }
            if (in_.pos + 1 < in_.end && in_.buffer[in_.pos + 1] == '!') {
                text_.append(start, stop);
                inText = true;
                if (in_.startsWith("<![CDATA[")) {
                    in_.pos += 9;
                    for (;;) {
                        if (!in_.ensure(3)) return fail("unterminated CDATA section");
                        if (in_.startsWith("]]>")) {
                            in_.pos += 3;
                            break;
                        }
                        text_.push_back(in_.buffer[in_.pos++]);
                    }
                    continue;
                }
                if (in_.startsWith("<!--")) {
                    if (!in_.skipPast("-->")) return fail("unterminated comment");
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

    // A reference at in_.pos ('&'): a predefined entity's character (as a code point) or a
    // character reference's number, not yet checked for range.
    bool parseReference(std::uint32_t& cp, std::string& ref) {
        ++in_.pos;  // '&'
        ref.clear();
        for (;;) {
            const int c = in_.peek();
            if (c < 0) return fail("unterminated character reference");
            ++in_.pos;
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

    // Resolves the reference at in_.pos into text_. A surrogate pair written as two character
    // references joins into its character; &#0;, a lone surrogate and numbers beyond Unicode
    // become U+FFFD.
    bool readReference() {
        in_.ensure(32);  // both halves of a pair in the buffer at once, when the document has them
        std::uint32_t cp = 0;
        std::string ref;
        if (!parseReference(cp, ref)) return false;
        if (isHighSurrogate(cp) && in_.startsWith("&#")) {
            const std::size_t second = in_.pos;
            std::uint32_t low = 0;
            if (!parseReference(low, ref)) return false;
            if (isLowSurrogate(low)) {
                text::appendUtf8(text_, 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00));
                return true;
            }
            in_.pos = second;  // not the other half: it is read on its own next
        }
        if (cp == 0 || isHighSurrogate(cp) || isLowSurrogate(cp) || cp > 0x10FFFF) cp = 0xFFFD;
        text::appendUtf8(text_, static_cast<char32_t>(cp));
        return true;
    }

    // ---- structure -------------------------------------------------------------------------

    bool parseDocument() {
        in_.skipByteOrderMark();
        if (!in_.ensure(1)) return fail(in_.readFailed() ? "the file could not be read" : "the document is empty");
        if (in_.startsWith("<?xml")) {
            const std::size_t declStart = in_.pos;
            if (!in_.skipPast("?>")) return fail("unterminated XML declaration");
            if (!checkEncoding(std::string(in_.buffer.data() + declStart, in_.buffer.data() + in_.pos))) return false;
        }
        if (!skipMisc(true)) return false;
        Tag tag;
        if (!readTag(tag)) return false;
        if (tag.closing || tag.name != "plist") return fail("expected <plist>");
        if (tag.empty) return fail("the property list is empty");
        if (!skipMisc(false)) return false;
        if (!parseValue({}, {})) return false;
        return joined_ || parseEnd();
    }

    // What follows the top-level value: </plist>, and nothing but white space.
    bool parseEnd() {
        Tag tag;
        if (!skipMisc(false)) return false;
        if (!readTag(tag)) return false;
        if (!tag.closing || tag.name != "plist") return fail("expected </plist>");
        if (!skipMisc(false)) return false;
        // White space and NUL bytes after the end, as some writers leave them, are passed over.
        while (in_.ensure(1)) {
            const char c = in_.buffer[in_.pos];
            if (c != '\0' && c != ' ' && c != '\t' && c != '\n') return fail("content after </plist>");
            ++in_.pos;
        }
        if (in_.readFailed()) return fail("the file could not be read");
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
    // open ('d' dict, 'a' array) and expectKey: the containers the value is inside, for a
    // tail of a document (runTail).
    bool parseValue(std::vector<char> open, std::vector<bool> expectKey) {
        Tag tag;
        std::string_view text;
        for (;;) {
            in_.skipSpace();
            if (in_.ensure(2) && in_.buffer[in_.pos] == '<' && (in_.buffer[in_.pos + 1] == '!' || in_.buffer[in_.pos + 1] == '?')) {
                if (!skipMisc(false)) return false;
            }
            if (split_ != nullptr && joinedSplit(open, expectKey)) return true;
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

    XmlInput in_;
    PlistSink& sink_;
    bool fromUtf16_;
    XmlSplit* split_;
    bool joined_ = false;
    std::string text_;
    Tag endTag_;
    std::string error_;
};

}  // namespace

Expected<void> scanXmlPlist(const ByteSource& source, PlistSink& sink, bool fromUtf16) {
    Scanner scanner(source, sink, fromUtf16);
    return scanner.run();
}

Expected<void> scanXmlPlist(const ByteSource& source, PlistSink& sink, XmlSplit* split) {
    Scanner scanner(source, sink, false, split);
    return scanner.run();
}

Expected<void> scanXmlPlistTail(const ByteSource& source, PlistSink& sink) {
    Scanner scanner(source, sink, false);
    return scanner.runTail();
}

std::optional<std::size_t> xmlSplitCandidate(std::string_view window) {
    constexpr std::string_view kEnd = "</dict>", kKey = "<key>";
    for (std::size_t at = window.find(kEnd); at != std::string_view::npos; at = window.find(kEnd, at + 1)) {
        std::size_t next = at + kEnd.size();
        while (next < window.size() && (window[next] == ' ' || window[next] == '\t' || window[next] == '\n')) ++next;
        if (window.substr(next).starts_with(kKey)) return next;
    }
    return std::nullopt;
}

}  // namespace kestrane::musiclibrary
