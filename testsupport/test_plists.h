// Binary property lists of a chosen shape, written byte by byte, for the tests of readers that
// must bound libplist's work.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrane::test {

// A bplist00 of levels objects, each an array holding refs references (1 to 14) to the next
// and the last an integer: refs 1 nests as deep as levels, refs 2 makes a decoder that follows
// every reference build 2^levels nodes.
inline std::string binaryPlistChain(int levels, int refs) {
    std::string plist = "bplist00";
    std::vector<std::uint64_t> offsets;
    for (int level = 0; level < levels; ++level) {
        offsets.push_back(plist.size());
        if (level + 1 == levels) {
            plist += "\x10\x07";  // the integer 7
            continue;
        }
        plist += static_cast<char>(0xA0 | refs);
        for (int r = 0; r < refs; ++r) {
            plist += static_cast<char>((level + 1) >> 8);  // two-byte references
            plist += static_cast<char>((level + 1) & 0xFF);
        }
    }
    const std::uint64_t table = plist.size();
    for (std::uint64_t offset : offsets) {
        for (int shift = 24; shift >= 0; shift -= 8) plist += static_cast<char>(offset >> shift);  // four-byte offsets
    }
    std::string trailer(32, '\0');
    trailer[6] = 4;
    trailer[7] = 2;
    for (int i = 0; i < 8; ++i) {
        trailer[15 - i] = static_cast<char>(static_cast<std::uint64_t>(levels) >> (8 * i));  // objects; the top is 0
        trailer[31 - i] = static_cast<char>(table >> (8 * i));
    }
    return plist + trailer;
}

}  // namespace kestrane::test
