#include "own_tags.h"

namespace kestrane::musiclibrary {

namespace {

std::uint32_t le32(std::string_view bytes) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 | static_cast<std::uint32_t>(b[2]) << 16 |
           static_cast<std::uint32_t>(b[3]) << 24;
}

}  // namespace

std::optional<OwnTags> readUntaggedWave(audiofile::LoadedBytes& bytes, std::int64_t size) {
    const std::optional<std::string_view> head = bytes.bytesAt(0, 12);
    if (!head || head->substr(0, 4) != "RIFF" || head->substr(8, 4) != "WAVE") return std::nullopt;
    // The RIFF size must end where the file ends, so that TagLib, which follows it, sees the
    // same chunks.
    if (static_cast<std::int64_t>(le32(head->substr(4, 4))) + 8 != size) return std::nullopt;
    bool format = false, data = false;
    std::int64_t at = 12;
    while (at < size) {
        const std::optional<std::string_view> chunk = bytes.bytesAt(at, 8);
        if (!chunk) return std::nullopt;
        const std::string_view id = chunk->substr(0, 4);
        const std::int64_t length = le32(chunk->substr(4, 4));
        if (id == "fmt ") {
            format = true;
        } else if (id == "data") {
            data = true;
        } else if (id == "LIST" && length == 4) {
            // An empty INFO list, as GStreamer's encoder writes one after the data.
            const std::optional<std::string_view> list = bytes.bytesAt(at + 8, 4);
            if (!list || *list != "INFO") return std::nullopt;
        } else if (id != "fact") {
            return std::nullopt;  // tags (INFO, id3) and the rest: TagLib's to read
        }
        at += 8 + length + (length & 1);
    }
    if (at != size || !format || !data) return std::nullopt;
    OwnTags tags;
    tags.kind = "WAV audio file";
    return tags;
}

}  // namespace kestrane::musiclibrary
