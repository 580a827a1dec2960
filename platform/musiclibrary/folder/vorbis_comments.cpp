#include "own_tags.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace kestrane::musiclibrary {

namespace {

std::uint32_t littleEndian32(std::string_view b, std::size_t at) {
    const auto* p = reinterpret_cast<const unsigned char*>(b.data() + at);
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 | static_cast<std::uint32_t>(p[2]) << 16 |
           static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint32_t bigEndian32(std::string_view b, std::size_t at) {
    const auto* p = reinterpret_cast<const unsigned char*>(b.data() + at);
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 | static_cast<std::uint32_t>(p[2]) << 8 |
           static_cast<std::uint32_t>(p[3]);
}


// Adds the fields of one comment block (vendor, count, fields) to out as TagLib reads them: a
// field without '=' or with an empty key is skipped, an empty value adds nothing, and a field
// that runs past the block ends the reading (the fields before it stay). false for what we
// leave to TagLib.
bool parseComment(std::string_view data, OwnTags& out) {
    if (data.size() < 8) return false;
    const std::uint32_t vendor = littleEndian32(data, 0);
    if (vendor > data.size() - 8) return false;
    std::size_t pos = 8 + vendor;
    const std::uint32_t count = littleEndian32(data, pos - 4);
    if (count > (data.size() - 8) / 4) return false;  // TagLib drops every field then
    for (std::uint32_t i = 0; i < count; ++i) {
        if (data.size() - pos < 4) return false;
        const std::uint32_t length = littleEndian32(data, pos);
        pos += 4;
        if (length > data.size() - pos) {
            // TagLib's 32-bit position would wrap round past a length this large and read on.
            if (static_cast<std::uint64_t>(pos) + length > 0xFFFFFFFFu) return false;
            break;
        }
        const std::string_view entry = data.substr(pos, length);
        pos += length;
        const std::size_t sep = entry.find('=');
        if (sep == std::string_view::npos || sep == 0) continue;
        std::string key(entry.substr(0, sep));
        for (char& c : key) {
            if (c < 0x20 || c > 0x7D) return false;
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        }
        // Pictures in comments are base64 that TagLib decodes and checks.
        if (key == "METADATA_BLOCK_PICTURE" || key == "COVERART") return false;
        const std::string_view value = entry.substr(sep + 1);
        if (!isPlainUtf8(value)) return false;
        if (value.empty()) continue;
        const bool known = std::any_of(out.firsts.begin(), out.firsts.end(), [&key](const auto& f) { return f.first == key; });
        if (!known) out.firsts.emplace_back(std::move(key), std::string(value));
    }
    // With no field, TagLib may take a FLAC file's tags from an ID3 tag instead.
    return !out.firsts.empty();
}

// The picture block that begins at offset and spans length bytes: 1 when TagLib's reader
// accepts it (its lengths fit the block), 0 when it discards it, nullopt for lengths so large
// that TagLib's 32-bit sums wrap round, or bytes not loaded.
std::optional<int> flacPicture(audiofile::LoadedBytes& bytes, std::int64_t offset, std::uint32_t length) {
    if (length < 32) return 0;
    std::uint64_t pos = 4;
    auto field = [&](std::uint64_t at) -> std::optional<std::uint32_t> {
        const std::optional<std::string_view> b = bytes.bytesAt(offset + static_cast<std::int64_t>(at), 4);
        if (!b || bigEndian32(*b, 0) >= 0x80000000u) return std::nullopt;
        return bigEndian32(*b, 0);
    };
    const std::optional<std::uint32_t> mime = field(pos);
    if (!mime) return std::nullopt;
    pos += 4;
    if (pos + *mime + 24 > length) return 0;
    pos += *mime;
    const std::optional<std::uint32_t> description = field(pos);
    if (!description) return std::nullopt;
    pos += 4;
    if (pos + *description + 20 > length) return 0;
    pos += *description + 16;  // width, height, depth, colours
    const std::optional<std::uint32_t> data = field(pos);
    if (!data) return std::nullopt;
    pos += 4;
    return pos + *data > length ? 0 : 1;
}

std::optional<OwnTags> readFlac(audiofile::LoadedBytes& bytes, std::int64_t size) {
    const std::optional<std::string_view> magic = bytes.bytesAt(0, 4);
    if (!magic || *magic != "fLaC") return std::nullopt;  // an ID3 tag first: TagLib's to read
    OwnTags out;
    out.kind = "FLAC audio file";
    bool comment = false;
    std::int64_t at = 4;
    for (bool first = true;; first = false) {
        const std::optional<std::string_view> header = bytes.bytesAt(at, 4);
        if (!header) return std::nullopt;
        const auto type = static_cast<unsigned char>((*header)[0]) & 0x7F;
        const bool last = (static_cast<unsigned char>((*header)[0]) & 0x80) != 0;
        const std::uint32_t length = bigEndian32(*header, 0) & 0xFFFFFF;
        // TagLib rejects a stream without STREAMINFO first, or an empty block other than
        // padding or a seek table; such a file is left to it.
        if (first && type != 0) return std::nullopt;
        if (length == 0 && type != 1 && type != 3) return std::nullopt;
        at += 4;
        if (length > size - at) return std::nullopt;
        if (type == 4) {
            if (comment) return std::nullopt;  // which one counts is TagLib's to say
            const std::optional<std::string_view> block = bytes.bytesAt(at, length);
            if (!block || !parseComment(*block, out)) return std::nullopt;
            comment = true;
        } else if (type == 6) {
            const std::optional<int> picture = flacPicture(bytes, at, length);
            if (!picture) return std::nullopt;
            out.pictures += *picture;
        }
        at += length;
        if (last) break;
    }
    if (!comment) return std::nullopt;
    return out;
}

// The second packet of the Ogg stream that begins the file (its comment header), put together
// from the lacing values of the pages before it. nullopt where TagLib would stop first (a page
// without segments, a last page) or the pages run past the loaded bytes.
std::optional<std::string> secondOggPacket(audiofile::LoadedBytes& bytes, std::string_view& firstPacketHead) {
    std::string packet;
    int index = 0;
    std::int64_t at = 0;
    while (true) {
        const std::optional<std::string_view> header = bytes.bytesAt(at, 27);
        if (!header || header->substr(0, 4) != "OggS" || (*header)[4] != 0) return std::nullopt;
        if ((static_cast<unsigned char>((*header)[5]) & 0x04) != 0) return std::nullopt;
        const auto segments = static_cast<unsigned char>((*header)[26]);
        if (segments == 0) return std::nullopt;
        const std::optional<std::string_view> lacing = bytes.bytesAt(at + 27, segments);
        if (!lacing) return std::nullopt;
        std::int64_t data = at + 27 + segments;
        for (const char l : *lacing) {
            const auto n = static_cast<unsigned char>(l);
            const std::optional<std::string_view> piece = bytes.bytesAt(data, n);
            if (!piece) return std::nullopt;
            if (index == 0 && firstPacketHead.empty()) firstPacketHead = piece->substr(0, 8);
            if (index == 1) packet.append(*piece);
            data += n;
            if (n < 255 && ++index == 2) return packet;
        }
        at = data;
    }
}

std::optional<OwnTags> readOgg(audiofile::LoadedBytes& bytes, bool opus) {
    std::string_view head;
    const std::optional<std::string> packet = secondOggPacket(bytes, head);
    if (!packet) return std::nullopt;
    OwnTags out;
    std::string_view comment(*packet);
    if (opus) {
        if (head != "OpusHead" || comment.substr(0, 8) != "OpusTags") return std::nullopt;
        comment.remove_prefix(8);
        out.kind = "Opus audio file";
    } else {
        if (head.substr(0, 7) != "\x01vorbis" || comment.substr(0, 7) != "\x03vorbis") return std::nullopt;
        comment.remove_prefix(7);
        out.kind = "Ogg Vorbis audio file";
    }
    if (!parseComment(comment, out)) return std::nullopt;
    return out;
}

}  // namespace

bool isPlainUtf8(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c >= 0x01 && c < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
        if (c >= 0xC2 && c <= 0xDF) length = 2;
        else if (c == 0xE0) length = 3, low = 0xA0;
        else if (c == 0xED) length = 3, high = 0x9F;
        else if (c >= 0xE1 && c <= 0xEF) length = 3;
        else if (c == 0xF0) length = 4, low = 0x90;
        else if (c >= 0xF1 && c <= 0xF3) length = 4;
        else if (c == 0xF4) length = 4, high = 0x8F;
        else return false;  // NUL, a continuation byte, C0/C1, F5 and above
        if (n - i < length || p[i + 1] < low || p[i + 1] > high) return false;
        for (std::size_t k = 2; k < length; ++k) {
            if (p[i + k] < 0x80 || p[i + k] > 0xBF) return false;
        }
        if (c == 0xEF && ((p[i + 1] == 0xBB && p[i + 2] == 0xBF) || (p[i + 1] == 0xBF && p[i + 2] >= 0xBE))) return false;
        i += length;
    }
    return true;
}

std::optional<OwnTags> readVorbisComments(audiofile::LoadedBytes& bytes, std::int64_t size, const std::string& ext) {
    if (ext == "flac") return readFlac(bytes, size);
    if (ext == "ogg") return readOgg(bytes, false);
    if (ext == "opus") return readOgg(bytes, true);
    return std::nullopt;
}

}  // namespace kestrane::musiclibrary
