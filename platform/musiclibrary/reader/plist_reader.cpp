#include "plist_reader.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <utility>

#include "binary_plist.h"
#include "utf.h"
#include "xml_plist.h"

namespace kestrane::musiclibrary {

namespace {

constexpr std::size_t kChunk = 1 << 20;

// Reads a UTF-16 document as UTF-8, as it streams (text::Utf16ByteDecoder does the decoding).
class Utf16Source {
public:
    Utf16Source(const ByteSource& inner, std::string prefix, bool bigEndian)
        : inner_(inner), pending_(std::move(prefix)), decoder_(bigEndian) {}

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
        if (!pending_.empty()) {  // the bytes read to tell the form come first
            decoder_.decode(pending_, out_);
            pending_.clear();
            return true;
        }
        raw_.resize(kChunk / 2);
        const std::ptrdiff_t got = inner_(raw_.data(), raw_.size());
        if (got < 0) return false;
        if (got == 0) {
            ended_ = true;
            decoder_.finish(out_);
            return true;
        }
        decoder_.decode(std::string_view(raw_.data(), static_cast<std::size_t>(got)), out_);
        return true;
    }

    const ByteSource& inner_;
    std::string pending_;
    text::Utf16ByteDecoder decoder_;
    std::string raw_;
    bool ended_ = false;
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
    return scanPlist(source, sink, nullptr);
}

Expected<void> scanPlist(const ByteSource& source, PlistSink& sink, XmlSplit* split) {
    // Only a UTF-8 document's offsets are those of the source's bytes.
    auto abandonSplit = [&split] {
        if (split != nullptr) std::exchange(split, nullptr)->abandon();
    };
    // The first bytes tell the form: binary, UTF-16 (by its byte-order mark, or by the "<?"
    // of a declaration), or else UTF-8.
    std::string head;
    if (!readUpTo(source, head, 8)) {
        abandonSplit();
        return Error(PlistError::malformed, "line 1, column 1: the file could not be read");
    }
    if (isBinaryPlist(head)) {
        abandonSplit();
        if (!readRest(source, head)) return Error(PlistError::malformed, "the file could not be read");
        return scanBinaryPlist(head, sink);
    }
    const std::string_view h = head;
    const bool le = h.starts_with("\xFF\xFE") || h.starts_with(std::string_view("<\0?\0", 4));
    const bool be = h.starts_with("\xFE\xFF") || h.starts_with(std::string_view("\0<\0?", 4));
    if (le || be) {
        abandonSplit();
        Utf16Source utf16(source, std::move(head), be);
        const ByteSource transcoded = std::ref(utf16);
        return scanXmlPlist(transcoded, sink, true);
    }
    const ByteSource prefixed = PrefixedSource(source, std::move(head));
    return split != nullptr ? scanXmlPlist(prefixed, sink, split) : scanXmlPlist(prefixed, sink, false);
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
