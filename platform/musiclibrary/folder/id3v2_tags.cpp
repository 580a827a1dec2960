#include <algorithm>
#include <array>
#include <string_view>

#include "own_tags.h"

namespace kestrane::musiclibrary {

namespace {

// The text frames whose values a track uses, with the keys TagLib's property map gives them.
// The date frame only in v2.4: TagLib rebuilds a v2.3 date from several frames.
struct TextFrame {
    std::string_view id, key;
};
constexpr std::array<TextFrame, 16> kTextFrames = {{{"TIT2", "TITLE"},
                                                    {"TPE1", "ARTIST"},
                                                    {"TPE2", "ALBUMARTIST"},
                                                    {"TALB", "ALBUM"},
                                                    {"TCOM", "COMPOSER"},
                                                    {"TCON", "GENRE"},
                                                    {"TRCK", "TRACKNUMBER"},
                                                    {"TPOS", "DISCNUMBER"},
                                                    {"TBPM", "BPM"},
                                                    {"TCMP", "COMPILATION"},
                                                    {"TSOT", "TITLESORT"},
                                                    {"TSOP", "ARTISTSORT"},
                                                    {"TSO2", "ALBUMARTISTSORT"},
                                                    {"TSOA", "ALBUMSORT"},
                                                    {"TSOC", "COMPOSERSORT"},
                                                    {"TDRC", "DATE"}}};
// Frames passed over: their keys are none that a track uses.
constexpr std::array<std::string_view, 4> kIgnoredFrames = {"TSSE", "TENC", "TLEN", "PRIV"};

std::uint32_t synchsafe(std::string_view b) {
    std::uint32_t n = 0;
    for (int i = 0; i < 4; ++i) n = n << 7 | (static_cast<unsigned char>(b[i]) & 0x7F);
    return n;
}

bool isSynchsafe(std::string_view b) {
    return std::none_of(b.begin(), b.begin() + 4, [](char c) { return (static_cast<unsigned char>(c) & 0x80) != 0; });
}

// A genre that TagLib would rewrite: "(13)", "(13)Pop" or a number (an ID3v1 genre).
bool mayBeGenreNumber(std::string_view v) {
    return v.front() == '(' || v.front() == ' ' || v.front() == '+' || v.front() == '-' ||
           std::any_of(v.begin(), v.end(), [](char c) { return (c >= '0' && c <= '9') || c == '\t' || c == '\n'; });
}

// Adds the values of a text frame's body (encoding byte, values separated by NUL) as TagLib
// splits them: trailing NULs dropped, empty values skipped. Only Latin-1 and UTF-8; false for
// what we leave to TagLib.
bool addText(std::string_view body, std::string_view id, std::string_view key, OwnTags& out) {
    if (body.size() < 2) return false;
    const char encoding = body[0];
    if (encoding != 0 && encoding != 3) return false;  // UTF-16 and its byte orders are TagLib's
    std::string_view text = body.substr(1);
    while (!text.empty() && text.back() == '\0') text.remove_suffix(1);
    bool any = false;
    while (!text.empty()) {
        const std::size_t nul = text.find('\0');
        const std::string_view piece = text.substr(0, nul);
        text = nul == std::string_view::npos ? std::string_view() : text.substr(nul + 1);
        if (piece.empty()) continue;
        std::string value;
        if (encoding == 3) {
            if (!isPlainUtf8(piece)) return false;
            value = piece;
        } else {
            for (const char c : piece) {
                const auto u = static_cast<unsigned char>(c);
                if (u < 0x80) {
                    value += c;
                } else {
                    value += static_cast<char>(0xC0 | u >> 6);
                    value += static_cast<char>(0x80 | (u & 0x3F));
                }
            }
        }
        if (id == "TCON" && mayBeGenreNumber(value)) return false;
        if (id == "TDRC") {
            // TagLib shows an ISO 8601 time's 'T' as a space.
            if (const std::size_t t = value.find('T'); t != std::string::npos) value[t] = ' ';
        }
        any = true;
        const bool known = std::any_of(out.firsts.begin(), out.firsts.end(), [key](const auto& f) { return f.first == key; });
        if (!known) out.firsts.emplace_back(std::string(key), std::move(value));
    }
    return any;
}

}  // namespace

std::optional<OwnTags> readId3v2Tag(audiofile::LoadedBytes& bytes) {
    const std::optional<std::string_view> header = bytes.bytesAt(0, 10);
    if (!header || header->substr(0, 3) != "ID3") return std::nullopt;
    const int version = static_cast<unsigned char>((*header)[3]);
    // Unsynchronisation, an extended header, a footer or an experimental tag: TagLib's to read.
    if ((version != 3 && version != 4) || (*header)[4] != 0 || (*header)[5] != 0) return std::nullopt;
    const std::string_view sizeBytes = header->substr(6, 4);
    if (!isSynchsafe(sizeBytes)) return std::nullopt;
    const std::uint32_t size = synchsafe(sizeBytes);
    if (size <= 10) return std::nullopt;
    const std::optional<std::string_view> tag = bytes.bytesAt(10, size);
    if (!tag) return std::nullopt;
    OwnTags out;
    out.kind = "MPEG audio file";
    bool titled = false;  // TagLib takes an MP3 file's tags from other tags when this one is empty
    std::size_t pos = 0;
    while (pos < tag->size() - 10) {
        const std::string_view frame = tag->substr(pos, 10);
        if (frame[0] == '\0') break;  // padding
        const std::string_view id = frame.substr(0, 4);
        if (frame[8] != 0 || frame[9] != 0) return std::nullopt;  // compressed, encrypted, grouped, ...
        std::uint32_t length = 0;
        if (version == 4) {
            if (!isSynchsafe(frame.substr(4))) return std::nullopt;
            length = synchsafe(frame.substr(4));
        } else {
            for (int i = 4; i < 8; ++i) length = length << 8 | static_cast<unsigned char>(frame[i]);
        }
        if (length == 0 || length > tag->size() - pos - 10) return std::nullopt;
        const std::string_view body = tag->substr(pos + 10, length);
        const auto text = std::find_if(kTextFrames.begin(), kTextFrames.end(), [id](const TextFrame& f) { return f.id == id; });
        if (text != kTextFrames.end() && !(id == "TDRC" && version != 4)) {
            if (!addText(body, id, text->key, out)) return std::nullopt;
            titled = titled || id == "TIT2" || id == "TPE1" || id == "TALB";
        } else if (id == "APIC") {
            ++out.pictures;
        } else if (std::find(kIgnoredFrames.begin(), kIgnoredFrames.end(), id) == kIgnoredFrames.end()) {
            return std::nullopt;
        }
        pos += 10 + length;
    }
    if (!titled) return std::nullopt;
    return out;
}

}  // namespace kestrane::musiclibrary
