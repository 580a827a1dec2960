// The property-list reader's events as text, for comparing parses in tests.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "plist_reader.h"

namespace kestrane::musiclibrary::test {

class Recorder : public PlistSink {
public:
    std::string log;
    bool beginDict() override { log += "{"; return true; }
    bool endDict() override { log += "}"; return true; }
    bool beginArray() override { log += "["; return true; }
    bool endArray() override { log += "]"; return true; }
    bool key(std::string_view t) override { log += "k:" + std::string(t) + ";"; return true; }
    bool value(ValueKind kind, std::string_view t) override {
        log += std::to_string(static_cast<int>(kind)) + ":" + std::string(t) + ";";
        return true;
    }
};

// The events of a document, fed whole (chunk 0) or in chunks of that many bytes; "ERROR
// message" when it does not parse.
inline std::string events(std::string_view doc, std::size_t chunk = 0) {
    Recorder r;
    std::size_t offset = 0;
    const auto result = chunk == 0 ? scanPlist(doc, r)
                                   : scanPlist(ByteSource([&](char* b, std::size_t cap) -> std::ptrdiff_t {
                                                   const std::size_t n = std::min({cap, chunk, doc.size() - offset});
                                                   std::memcpy(b, doc.data() + offset, n);
                                                   offset += n;
                                                   return static_cast<std::ptrdiff_t>(n);
                                               }),
                                               r);
    return result ? r.log : "ERROR " + result.error().message;
}

}  // namespace kestrane::musiclibrary::test
