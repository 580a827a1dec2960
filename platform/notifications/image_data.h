// Pictures for notifications: encoded bytes (PNG, JPEG, ...) decoded with gdk-pixbuf into the
// raw layout of the notification protocol's "image-data" hint.
//
// Pictures come from the caller and are not trusted: the header is read before anything is
// decoded, and a picture that claims more than kMaxPixels is refused without decoding it (a
// kilobyte of PNG can claim gigabytes). The rest is scaled down while it is decoded to fit
// kMaxSide x kMaxSide, far more than a notification server shows, and far under the bus's
// message limit that a full-size picture can exceed.
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "expected.h"

namespace kestrane::notifications {

// The most pixels a picture may claim in its header (about 150 MB once decoded).
constexpr std::int64_t kMaxPixels = 36'000'000;
// The longest side of a decoded picture.
constexpr int kMaxSide = 512;

// A decoded picture in the layout of the "image-data" hint.
struct ImageData {
    int width = 0, height = 0, rowstride = 0;
    bool hasAlpha = false;
    int bitsPerSample = 0, channels = 0;
    std::vector<std::uint8_t> pixels;
};

enum class ImageError {
    notAPicture = 1,  // no reader takes the bytes, or they end early
    tooLarge = 2,     // the header claims more than kMaxPixels: refused before decoding
};

// The picture in bytes (any format gdk-pixbuf reads), at most kMaxSide on its longer side.
Expected<ImageData> decodeImage(std::span<const std::uint8_t> bytes);

// The size to decode a picture of width x height at: itself when it fits kMaxSide, else scaled
// down keeping its shape (no side below 1).
std::pair<int, int> fittedSize(int width, int height);

}  // namespace kestrane::notifications
