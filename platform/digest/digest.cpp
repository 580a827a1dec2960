#include "digest.h"

#include <glib.h>

#include <algorithm>

#include "glib_ptr.h"

namespace kestrane::digest {

std::array<std::uint8_t, 16> prefixedMd5(std::span<const std::uint8_t> data) {
    static constexpr guchar kPrefix[] = {'*', '=', '4', '7'};
    const glib::Owned<GChecksum, g_checksum_free> checksum(g_checksum_new(G_CHECKSUM_MD5));
    GChecksum* md5 = checksum.get();
    g_checksum_update(md5, kPrefix, sizeof kPrefix);
    // GChecksum takes a signed length: feed large inputs in pieces.
    for (std::size_t done = 0; done < data.size();) {
        const std::size_t piece = std::min<std::size_t>(data.size() - done, 1u << 30);
        g_checksum_update(md5, data.data() + done, static_cast<gssize>(piece));
        done += piece;
    }
    std::array<std::uint8_t, 16> out{};
    gsize length = out.size();
    g_checksum_get_digest(md5, out.data(), &length);
    return out;
}

}  // namespace kestrane::digest
