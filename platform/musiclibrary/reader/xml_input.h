// The input of the XML property-list reader: the document's bytes in a buffer that grows and
// slides through the source a chunk at a time, with XML's line-end handling applied as bytes
// arrive, and the line and column (in characters) of any position, for messages. The reader
// scans the buffer directly (buffer, pos and end are its to read and advance); everything else
// goes through the methods.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plist_sink.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrane::musiclibrary {

class XmlInput {
public:
    static constexpr std::size_t kChunk = 1 << 20;

    explicit XmlInput(const ByteSource& source) : source_(source) { buffer.resize(kChunk); }

    // Makes at least n bytes available from pos, reading more as needed; false at the end.
    bool ensure(std::size_t n) { return end - pos >= n || refill(n); }
    int peek() { return ensure(1) ? static_cast<unsigned char>(buffer[pos]) : -1; }
    bool startsWith(std::string_view s) { return ensure(s.size()) && std::memcmp(buffer.data() + pos, s.data(), s.size()) == 0; }
    bool readFailed() const { return readError_; }
    // The offset of pos in the source's bytes; none once line ends were rewritten, which moves
    // what follows against the source.
    std::optional<std::size_t> sourceOffset() const {
        if (rewrittenLineEnds_) return std::nullopt;
        return consumedBase_ + pos;
    }

    void skipSpace() {
        for (;;) {
            while (pos < end) {
                const char c = buffer[pos];
                if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return;
                ++pos;
            }
            if (!ensure(1)) return;
        }
    }

    // Skips to just after `terminator`; false when the document ends first.
    bool skipPast(std::string_view terminator) {
        for (;;) {
            if (!ensure(terminator.size())) return false;
            const char* start = buffer.data() + pos;
            const char* last = buffer.data() + end;
            const char* hit = std::search(start, last, terminator.begin(), terminator.end());
            if (hit != last) {
                pos = static_cast<std::size_t>(hit - buffer.data()) + terminator.size();
                return true;
            }
            // Keep the last bytes in case the terminator straddles the chunk boundary.
            pos = end - (terminator.size() - 1);
            if (!ensure(terminator.size() + 1)) return false;
        }
    }

    // Passes over a byte-order mark at the start, which is not a character of the first line.
    void skipByteOrderMark() {
        if (!startsWith("\xEF\xBB\xBF")) return;
        pos += 3;
        scanned_ = pos;
        lineStartAbs_ = consumedBase_ + pos;
    }

    // The line of pos, and its column in characters (which brings the line count up to date).
    std::size_t line() const {
        advanceLines(std::min(pos, end));
        return line_;
    }
    std::size_t column() const {
        const std::size_t at = std::min(pos, end);
        advanceLines(at);
        return consumedBase_ + at - lineStartAbs_ - continuationsInLine_ + 1;
    }

    std::vector<char> buffer;
    std::size_t pos = 0, end = 0;

private:
    [[gnu::noinline]] bool refill(std::size_t n) {
        while (end - pos < n) {
            if (eof_) return false;
            // Move what is left to the front, counting the lines of what is dropped.
            advanceLines(pos);
            std::memmove(buffer.data(), buffer.data() + pos, end - pos);
            end -= pos;
            consumedBase_ += pos;
            scanned_ = 0;
            pos = 0;
            if (end + kChunk / 4 > buffer.size()) buffer.resize(std::max(buffer.size() * 2, end + kChunk));
            const std::ptrdiff_t got = source_(buffer.data() + end, buffer.size() - end);
            if (got < 0) {
                readError_ = true;
                return false;
            }
            if (got == 0) eof_ = true;
            end += normalizeLineEnds(buffer.data() + end, static_cast<std::size_t>(got));
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
        if (first != nullptr || from != 0) rewrittenLineEnds_ = true;
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

    // Counts the lines of buffer[scanned_, upTo), and the UTF-8 continuation bytes of the
    // current line, so that columns count characters. Runs over every byte of the document
    // once (on each refill), so it counts sixteen bytes at a time.
    void advanceLines(std::size_t upTo) const {
        if (upTo <= scanned_) return;
        const char* p = buffer.data() + scanned_;
        const char* stop = buffer.data() + upTo;
        const auto* last = static_cast<const char*>(memrchr(p, '\n', static_cast<std::size_t>(stop - p)));
        if (last != nullptr) {
            line_ += countNewlines(p, last + 1);
            lineStartAbs_ = consumedBase_ + static_cast<std::size_t>(last - buffer.data()) + 1;
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

    const ByteSource& source_;
    bool eof_ = false, readError_ = false, crEndedLastRead_ = false, rewrittenLineEnds_ = false;
    // Position bookkeeping for messages.
    mutable std::size_t line_ = 1, scanned_ = 0, lineStartAbs_ = 0, continuationsInLine_ = 0;
    std::size_t consumedBase_ = 0;
};

}  // namespace kestrane::musiclibrary
