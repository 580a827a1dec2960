#include "catalogue_artwork.h"

#include <memory>

#include "artwork.h"
#include "url.h"

namespace kestrane::musiclibrary {

namespace {
Artwork* made(Artwork::Key key, std::optional<artwork::Picture> picture) {
    if (!picture) return nullptr;
    return std::make_unique<Artwork>(key, std::move(picture->data), picture->format).release();
}
}  // namespace

Artwork* Artwork::ofMediaFile(const std::string& url) { return made(Key(), artwork::pictureOfUrl(url)); }

Artwork* Artwork::embeddedInMediaFile(const std::string& url) { return made(Key(), artwork::embeddedPictureOfUrl(url)); }

Artwork* Artwork::ofFolderOfMediaFile(const std::string& url) {
    const std::optional<std::string> path = url::localPathOfFileUrl(url);
    if (!path) return nullptr;
    return made(Key(), artwork::folderCover(path->substr(0, path->find_last_of('/'))));
}

}  // namespace kestrane::musiclibrary
