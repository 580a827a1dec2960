// The artwork of a media item or a media file: the encoded picture embedded in the file, and
// its format by the platform's codes (platform/artwork).
#pragma once

#include <string>
#include <string_view>

#include "object.h"

namespace kestrane::musiclibrary {

class Artwork final : public Counted<Object> {
public:
    static constexpr ObjectKind kKind = ObjectKind::artwork;

    // The artwork embedded in the media file named by a file:// URL, with one reference for
    // the caller (transfer full); null when the file has none or cannot be read.
    static Artwork* ofMediaFile(const std::string& url);

    std::string_view imageData() const { return data_; }
    int imageDataFormat() const { return format_; }

    // Only ofMediaFile makes the key.
    class Key {
        friend class Artwork;
        Key() = default;
    };
    Artwork(Key, std::string data, int format)
        : Counted<Object>(kKind), data_(std::move(data)), format_(format) {}

private:
    std::string data_;
    int format_;
};

}  // namespace kestrane::musiclibrary
