#include "artwork_cache.h"

#include "catalogue_artwork.h"

namespace kestrane::musiclibrary {

ArtworkCache::~ArtworkCache() {
    for (auto& [item, entry] : entries_) {
        if (entry->artwork != nullptr) entry->artwork->release();
    }
}

Artwork* ArtworkCache::of(const MediaItem* item, const std::optional<std::string>& location) {
    Entry* entry;
    {
        std::lock_guard lock(mutex_);
        std::unique_ptr<Entry>& slot = entries_[item];
        if (!slot) slot = std::make_unique<Entry>();
        entry = slot.get();
    }
    // The file is read outside the lock, so other items' artwork is not held up; threads asking
    // for this item wait for the one that reads it.
    std::call_once(entry->read, [&] {
        if (location) entry->artwork = Artwork::ofMediaFile(*location);
    });
    return entry->artwork;
}

}  // namespace kestrane::musiclibrary
