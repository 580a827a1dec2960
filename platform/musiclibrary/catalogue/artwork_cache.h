// The artwork of each media item of a load asked for so far: read from the item's file once
// (also when several threads ask at once) and kept, with a reference, until the load goes.
// Items without a picture of their own share their folder's cover, read once per folder.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace kestrane::musiclibrary {

class Artwork;
class MediaItem;

class ArtworkCache {
public:
    ArtworkCache() = default;
    ArtworkCache(const ArtworkCache&) = delete;
    ArtworkCache& operator=(const ArtworkCache&) = delete;
    ~ArtworkCache();

    // The artwork of item, whose file location names (a file URL), or null when neither the
    // file nor its folder has one (transfer none).
    Artwork* of(const MediaItem* item, const std::optional<std::string>& location);

private:
    struct Entry {
        std::once_flag read;
        Artwork* artwork = nullptr;  // one reference held
    };
    // The entry of key in entries, made when missing.
    template <class Key>
    Entry* entryOf(std::unordered_map<Key, std::unique_ptr<Entry>>& entries, const Key& key);

    std::mutex mutex_;
    std::unordered_map<const MediaItem*, std::unique_ptr<Entry>> entries_;
    std::unordered_map<std::string, std::unique_ptr<Entry>> folders_;  // by the folder's path
};

}  // namespace kestrane::musiclibrary
