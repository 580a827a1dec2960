#include "catalogue_artwork.h"

#include <memory>

#include "artwork.h"

namespace kestrane::musiclibrary {

Artwork* Artwork::ofMediaFile(const std::string& url) {
    std::optional<artwork::Picture> picture = artwork::embeddedPictureOfUrl(url);
    if (!picture) return nullptr;
    return std::make_unique<Artwork>(Key(), std::move(picture->data), picture->format).release();
}

}  // namespace kestrane::musiclibrary
