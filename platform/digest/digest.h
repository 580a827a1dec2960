// The application's content digest: MD5 (GLib's GChecksum) of a fixed prefix and the data.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace kestrane::digest {

// MD5 of the four bytes "*=47" followed by data, in the digest's standard byte order.
std::array<std::uint8_t, 16> prefixedMd5(std::span<const std::uint8_t> data);

}  // namespace kestrane::digest
