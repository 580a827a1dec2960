// libFuzzer target: any bytes in a file's typed-value attribute give a value or none, within
// bounded work, never a crash.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "filetags.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    (void)kestrane::filetags::decodeValue(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
