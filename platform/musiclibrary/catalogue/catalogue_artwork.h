// The artwork of a media item or a media file: the encoded picture embedded in the file, else
// the cover picture of its folder, and its format by the platform's codes (platform/artwork).
#pragma once

#include <string>
#include <string_view>

#include "object.h"

namespace kestrane::musiclibrary {

class Artwork final : public Counted<Object> {
public:
    static constexpr ObjectKind kKind = ObjectKind::artwork;

    // The artwork of the media file named by a file:// URL (embedded, else its folder's
    // cover), with one reference for the caller (transfer full); null when there is none.
    static Artwork* ofMediaFile(const std::string& url);
    // Only the picture embedded in the file, and only the cover of the file's folder (the
    // artwork cache reads each folder's once).
    static Artwork* embeddedInMediaFile(const std::string& url);
    static Artwork* ofFolderOfMediaFile(const std::string& url);

    std::string_view imageData() const { return data_; }
    int imageDataFormat() const { return format_; }

    // Only the functions above make the key.
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
