// What must hold for any text, checked by the fuzzer and by the tests' replay of its
// regression inputs: parsing never crashes; a parsed path is absolute and holds no U+0000;
// making the URL of a path and parsing it gives the path back; decoding undoes encoding.
// Returns the first broken invariant, or null.
#pragma once

#include <string>
#include <string_view>

#include "url.h"

namespace kestrane::url::test {

inline const char* brokenInvariant(std::string_view bytes) {
    if (Expected<std::string> path = parseFileUrl(bytes)) {
        if (path->empty() || path->front() != '/') return "a parsed path is not absolute";
        if (path->find('\0') != std::string::npos) return "a parsed path holds U+0000";
        if (localPathOfFileUrl(fileUrlOf(*path)) != *path) return "the URL made of a parsed path gives another path";
    }
    if (bytes.find('\0') == std::string_view::npos) {
        const std::string absolute = "/" + std::string(bytes);
        if (localPathOfFileUrl(fileUrlOf(absolute)) != absolute) return "the URL made of a path gives another path";
        if (percentDecode(percentEncode(bytes)) != std::string(bytes)) return "decoding does not undo encoding";
    }
    return nullptr;
}

}  // namespace kestrane::url::test
