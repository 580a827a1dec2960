// libFuzzer target: any text through the file-URL rule keeps its invariants (a parsed path is
// absolute and holds no U+0000, a made URL parses back to its path), never a crash.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "url_invariants.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (const char* broken = kestrane::url::test::brokenInvariant(bytes)) {
        std::fprintf(stderr, "url_fuzzer: %s\n", broken);
        std::abort();
    }
    return 0;
}
