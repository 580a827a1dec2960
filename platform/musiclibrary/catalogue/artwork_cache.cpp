#include "artwork_cache.h"

#include "catalogue_artwork.h"
#include "url.h"

namespace kestrane::musiclibrary {

ArtworkCache::~ArtworkCache() {
    for (auto& [item, entry] : entries_) {
        if (entry->artwork != nullptr) entry->artwork->release();
    }
    for (auto& [folder, entry] : folders_) {
        if (entry->artwork != nullptr) entry->artwork->release();
    }
}

template <class Key>
ArtworkCache::Entry* ArtworkCache::entryOf(std::unordered_map<Key, std::unique_ptr<Entry>>& entries, const Key& key) {
    std::lock_guard lock(mutex_);
    std::unique_ptr<Entry>& slot = entries[key];
    if (!slot) slot = std::make_unique<Entry>();
    return slot.get();
}

Artwork* ArtworkCache::of(const MediaItem* item, const std::optional<std::string>& location) {
    Entry* entry = entryOf(entries_, item);
    // Files are read outside the lock, so other items' artwork is not held up; threads asking
    // for this item (or this folder) wait for the one that reads it.
    std::call_once(entry->read, [&] {
        if (!location) return;
        entry->artwork = Artwork::embeddedInMediaFile(*location);
        if (entry->artwork != nullptr) return;
        const std::optional<std::string> path = url::localPathOfFileUrl(*location);
        if (!path) return;
        Entry* folder = entryOf(folders_, path->substr(0, path->find_last_of('/')));
        std::call_once(folder->read, [&] { folder->artwork = Artwork::ofFolderOfMediaFile(*location); });
        entry->artwork = folder->artwork;
        if (entry->artwork != nullptr) entry->artwork->retain();  // the item's own reference
    });
    return entry->artwork;
}

}  // namespace kestrane::musiclibrary
