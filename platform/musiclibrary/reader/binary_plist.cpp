#include "binary_plist.h"

#include <bit>
#include <cstdint>
#include <limits>
#include <string>

#include "utf.h"
#include "values.h"

namespace kestrane::musiclibrary {

namespace {

// Seconds from 1970-01-01 to 2001-01-01, the epoch of binary dates.
constexpr double kEpoch2001 = 978307200.0;
// Containers nest no deeper than this; a reference cycle reaches it too.
constexpr int kMaxDepth = 512;
constexpr std::size_t kTrailerSize = 32;

class BinaryReader final : public PlistLocator {
public:
    BinaryReader(std::string_view document, PlistSink& sink)
        : data_(document),
          sink_(sink),
          // A document whose containers are each used once visits no more objects than it
          // has references; one that shares containers to multiply its size is refused.
          visitLimit_(document.size() + 16) {
        sink_.attach(this);
    }
    ~BinaryReader() override { sink_.attach(nullptr); }
    BinaryReader(const BinaryReader&) = delete;
    BinaryReader& operator=(const BinaryReader&) = delete;

    std::string position() const override { return "object " + std::to_string(current_); }

    Expected<void> run() {
        if (!readTrailer()) return Error(PlistError::malformed, error_);
        if (readObject(top_, 0)) return {};
        return Error(PlistError::malformed, position() + ": " + error_);
    }

private:
    bool fail(std::string reason) {
        if (error_.empty()) error_ = std::move(reason);
        return false;
    }

    // n bytes (1 to 8) at offset as a big-endian unsigned number; false when they are not
    // all in the document.
    bool readUnsigned(std::uint64_t offset, unsigned n, std::uint64_t& out) const {
        if (offset > data_.size() || n > data_.size() - offset) return false;
        out = 0;
        for (unsigned i = 0; i < n; ++i) out = out << 8 | static_cast<unsigned char>(data_[offset + i]);
        return true;
    }

    bool readTrailer() {
        if (data_.size() < 8 + kTrailerSize) return fail("the binary property list is truncated");
        const std::uint64_t t = data_.size() - kTrailerSize;
        offsetSize_ = static_cast<unsigned char>(data_[t + 6]);
        refSize_ = static_cast<unsigned char>(data_[t + 7]);
        std::uint64_t tableOffset = 0;
        readUnsigned(t + 8, 8, objectCount_);
        readUnsigned(t + 16, 8, top_);
        readUnsigned(t + 24, 8, tableOffset);
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) {
            return fail("the binary property list's trailer is damaged");
        }
        if (tableOffset < 8 || tableOffset > t || objectCount_ > (t - tableOffset) / offsetSize_ || top_ >= objectCount_) {
            return fail("the binary property list's trailer is damaged");
        }
        tableOffset_ = tableOffset;
        return true;
    }

    // Where object `ref` starts.
    bool objectOffset(std::uint64_t ref, std::uint64_t& offset) {
        if (ref >= objectCount_) return fail("a reference names object " + std::to_string(ref) + ", which does not exist");
        readUnsigned(tableOffset_ + ref * offsetSize_, offsetSize_, offset);
        if (offset < 8 || offset >= tableOffset_) return fail("the offset of object " + std::to_string(ref) + " is out of range");
        return true;
    }

    // The element count of the object whose marker is at offset: the marker's low nibble, or
    // the integer that follows when the nibble is 0xF. `at` moves past the count.
    bool readCount(std::uint64_t& at, std::uint64_t& count) {
        const unsigned low = static_cast<unsigned char>(data_[at]) & 0x0F;
        ++at;
        if (low != 0x0F) {
            count = low;
            return true;
        }
        std::uint64_t marker = 0;
        if (!readUnsigned(at, 1, marker) || (marker & 0xF0) != 0x10 || (marker & 0x0F) > 3) return fail("a count is malformed");
        const unsigned width = 1u << (marker & 0x0F);
        if (!readUnsigned(at + 1, width, count)) return fail("a count is truncated");
        at += 1 + width;
        return true;
    }

    // Whether `count` items of `size` bytes each fit between at and the offset table.
    bool fits(std::uint64_t at, std::uint64_t count, std::uint64_t size) const {
        return at <= tableOffset_ && count <= (tableOffset_ - at) / size;
    }

    bool readObject(std::uint64_t ref, int depth) {
        if (depth > kMaxDepth) return fail("containers nest too deeply (or refer to themselves)");
        if (++visits_ > visitLimit_) return fail("containers are shared too often to be a library");
        current_ = ref;
        std::uint64_t at = 0;
        if (!objectOffset(ref, at)) return false;
        const auto marker = static_cast<unsigned char>(data_[at]);
        const unsigned low = marker & 0x0F;
        switch (marker >> 4) {
            case 0x0:
                if (marker == 0x08) return sink_.value(ValueKind::boolean, "false") || fail(sink_.reason());
                if (marker == 0x09) return sink_.value(ValueKind::boolean, "true") || fail(sink_.reason());
                return fail("an object of type " + hex(marker) + " has no place in a library");
            case 0x1:
            case 0x8:  // a UID, which has no XML form; its number is what it holds
                return readInteger(at, marker) && (sink_.value(ValueKind::integer, text_) || fail(sink_.reason()));
            case 0x2: {
                double value = 0;
                if (!readReal(at + 1, low, value)) return false;
                text_ = formatReal(value);
                return sink_.value(ValueKind::real, text_) || fail(sink_.reason());
            }
            case 0x3: {
                double value = 0;
                if (marker != 0x33 || !readReal(at + 1, 3, value)) return fail("a date is malformed");
                text_ = formatIsoDate(value + kEpoch2001);
                return sink_.value(ValueKind::date, text_) || fail(sink_.reason());
            }
            case 0x4:
            case 0x5:
            case 0x6:
            case 0x7: {
                if (!readStringLike(at, marker)) return false;
                const ValueKind kind = marker >> 4 == 0x4 ? ValueKind::data : ValueKind::string;
                return sink_.value(kind, text_) || fail(sink_.reason());
            }
            case 0xA:
            case 0xC:  // a set reads as an array
                return readArray(at, depth);
            case 0xD:
                return readDict(at, depth);
            default:
                return fail("an object of type " + hex(marker) + " has no place in a library");
        }
    }

    static std::string hex(unsigned byte) {
        static constexpr char kDigits[] = "0123456789abcdef";
        return std::string("0x") + kDigits[byte >> 4] + kDigits[byte & 15];
    }

    // An integer (or UID) object into text_ as its decimal text. Eight-byte integers are
    // signed; sixteen-byte ones (how values of 2^63 and more are written) keep their value when
    // it fits in 64 bits, and otherwise become text the integer reader refuses.
    bool readInteger(std::uint64_t at, unsigned marker) {
        const unsigned low = marker & 0x0F;
        const bool uid = marker >> 4 == 0x8;
        const unsigned width = uid ? low + 1 : 1u << low;
        if (!uid && low > 4) return fail("an integer is malformed");
        if (width == 16) {
            std::uint64_t high = 0, bits = 0;
            if (!readUnsigned(at + 1, 8, high) || !readUnsigned(at + 9, 8, bits)) return fail("an integer is truncated");
            if (high == 0) text_ = formatInteger({bits, bits > static_cast<std::uint64_t>(INT64_MAX)});
            else if (high == ~std::uint64_t{0} && bits >> 63 != 0) text_ = formatInteger({bits, false});
            else text_ = "beyond 64 bits";
            return true;
        }
        if (width > 8) return fail("an integer is malformed");
        std::uint64_t bits = 0;
        if (!readUnsigned(at + 1, width, bits)) return fail("an integer is truncated");
        // Narrower than eight bytes is unsigned, so below 2^56; eight bytes is a signed value.
        text_ = formatInteger({bits, false});
        return true;
    }

    bool readReal(std::uint64_t at, unsigned low, double& value) {
        std::uint64_t bits = 0;
        if (low == 2) {
            if (!readUnsigned(at, 4, bits)) return fail("a real is truncated");
            value = std::bit_cast<float>(static_cast<std::uint32_t>(bits));
            return true;
        }
        if (low != 3) return fail("a real is malformed");
        if (!readUnsigned(at, 8, bits)) return fail("a real is truncated");
        value = std::bit_cast<double>(bits);
        return true;
    }

    // Data (its base64 text) or a string (as UTF-8) into text_.
    bool readStringLike(std::uint64_t at, unsigned marker) {
        std::uint64_t count = 0;
        if (!readCount(at, count)) return false;
        const unsigned type = marker >> 4;
        const std::uint64_t unitSize = type == 0x6 ? 2 : 1;
        if (!fits(at, count, unitSize)) return fail("a string or data object runs past the end of the objects");
        const std::string_view bytes = data_.substr(at, count * unitSize);
        text_.clear();
        switch (type) {
            case 0x4: text_ = encodeBase64(bytes); break;
            case 0x5:  // ASCII by the format; other bytes are read as Latin-1 rather than refused
                for (const char c : bytes) text::appendUtf8(text_, static_cast<unsigned char>(c));
                break;
            case 0x6: {
                std::u16string units(count, u'\0');
                for (std::uint64_t i = 0; i < count; ++i) {
                    units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) << 8 |
                                                     static_cast<unsigned char>(bytes[2 * i + 1]));
                }
                text_ = text::utf8FromUtf16(units);
                break;
            }
            default:  // 0x7: UTF-8, passed through as the XML reader passes its text
                text_.assign(bytes);
                break;
        }
        return true;
    }

    bool readArray(std::uint64_t at, int depth) {
        std::uint64_t count = 0;
        if (!readCount(at, count)) return false;
        if (!fits(at, count, refSize_)) return fail("an array runs past the end of the objects");
        if (!sink_.beginArray()) return fail(sink_.reason());
        for (std::uint64_t i = 0; i < count; ++i) {
            std::uint64_t ref = 0;
            readUnsigned(at + i * refSize_, refSize_, ref);
            if (!readObject(ref, depth + 1)) return false;
        }
        return sink_.endArray() || fail(sink_.reason());
    }

    bool readDict(std::uint64_t at, int depth) {
        const std::uint64_t self = current_;
        std::uint64_t count = 0;
        if (!readCount(at, count)) return false;
        if (count > std::numeric_limits<std::uint64_t>::max() / 2 || !fits(at, count * 2, refSize_)) {
            return fail("a dictionary runs past the end of the objects");
        }
        if (!sink_.beginDict()) return fail(sink_.reason());
        for (std::uint64_t i = 0; i < count; ++i) {
            std::uint64_t keyRef = 0, valueRef = 0;
            readUnsigned(at + i * refSize_, refSize_, keyRef);
            readUnsigned(at + (count + i) * refSize_, refSize_, valueRef);
            std::uint64_t keyAt = 0;
            current_ = keyRef;
            if (!objectOffset(keyRef, keyAt)) return false;
            const auto marker = static_cast<unsigned char>(data_[keyAt]);
            if (marker >> 4 != 0x5 && marker >> 4 != 0x6 && marker >> 4 != 0x7) return fail("a dictionary key is not a string");
            if (!readStringLike(keyAt, marker)) return false;
            if (!sink_.key(text_)) return fail(sink_.reason());
            if (!readObject(valueRef, depth + 1)) return false;
        }
        current_ = self;
        return sink_.endDict() || fail(sink_.reason());
    }

    std::string_view data_;
    PlistSink& sink_;
    std::uint64_t visitLimit_, visits_ = 0;
    unsigned offsetSize_ = 0, refSize_ = 0;
    std::uint64_t objectCount_ = 0, top_ = 0, tableOffset_ = 0;  // objects lie before the offset table
    std::uint64_t current_ = 0;
    std::string text_;
    std::string error_;
};

}  // namespace

bool isBinaryPlist(std::string_view firstBytes) {
    return firstBytes.substr(0, 7) == "bplist0";
}

Expected<void> scanBinaryPlist(std::string_view document, PlistSink& sink) {
    BinaryReader reader(document, sink);
    return reader.run();
}

}  // namespace kestrane::musiclibrary
