// Pictures for notifications: encoded bytes (PNG, JPEG, ...) decoded with gdk-pixbuf into the
// raw layout of the notification protocol's "image-data" hint.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kestrane::notifications {

// A decoded picture in the layout of the "image-data" hint.
struct ImageData {
    int width = 0, height = 0, rowstride = 0;
    bool hasAlpha = false;
    int bitsPerSample = 0, channels = 0;
    std::vector<std::uint8_t> pixels;
};

// The picture in bytes (any format gdk-pixbuf reads); none when they are not a picture.
std::optional<ImageData> decodeImage(std::span<const std::uint8_t> bytes);

}  // namespace kestrane::notifications
