#include "track_keys.h"

#include <array>
#include <string>
#include <unordered_map>

namespace kestrane::musiclibrary {

namespace {

constexpr std::array<std::string_view, kKnownKeyCount> kTexts = {
#define KESTRANE_KEY_TEXT(identifier, text) text,
    KESTRANE_TRACK_KEYS(KESTRANE_KEY_TEXT)
#undef KESTRANE_KEY_TEXT
};

const std::unordered_map<std::string_view, std::uint32_t>& numbersByText() {
    static const auto map = [] {
        std::unordered_map<std::string_view, std::uint32_t> m;
        for (std::uint32_t k = 0; k < kKnownKeyCount; ++k) m.emplace(kTexts[k], k);
        return m;
    }();
    return map;
}

}  // namespace

std::string_view keyText(TrackKey key) {
    return kTexts[keyNumber(key)];
}

std::optional<std::uint32_t> knownKeyNumber(std::string_view text) {
    const auto& map = numbersByText();
    if (const auto it = map.find(text); it != map.end()) return it->second;
    return std::nullopt;
}

}  // namespace kestrane::musiclibrary
