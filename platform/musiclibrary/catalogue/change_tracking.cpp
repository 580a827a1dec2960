#include "change_tracking.h"

#include <new>

#include "media_item.h"
#include "playlist.h"

namespace kestrane::musiclibrary {

namespace {

Error unreadable() {
    return Error(LibraryError::listUnreadable, "There is not enough memory to read the library's lists.");
}

}  // namespace

Expected<std::optional<double>> newestChangeDate(const Array& items) {
    std::optional<double> newest;
    for (Object* element : items.elements()) {
        const MediaItem* item = objectAs<MediaItem>(element);
        if (item == nullptr) continue;
        for (const Date date : {item->lastPlayedDate(), item->skipDate(), item->addedDate(), item->modifiedDate()}) {
            if (date && (!newest || *date > *newest)) newest = date;
        }
    }
    return newest;
}

Expected<void> collectChangedSince(const Array& items, double sinceMillis, std::vector<Object*>& list) {
    try {
        for (Object* element : items.elements()) {
            MediaItem* item = objectAs<MediaItem>(element);
            if (item == nullptr) continue;
            const Date added = item->addedDate(), modified = item->modifiedDate();
            double changed = 0;  // no added date: changed at 0
            if (added) changed = (modified && *modified > *added ? *modified : *added) * 1000.0;
            if (changed > sinceMillis) list.push_back(item);
        }
    } catch (const std::bad_alloc&) {
        return unreadable();
    }
    return {};
}

void copyPersistentIds(const Array& items, std::uint64_t* out) {
    for (Object* element : items.elements()) {
        const MediaItem* item = objectAs<MediaItem>(element);
        *out++ = item != nullptr ? item->persistentId() : 0;
    }
}

std::vector<std::uint64_t> persistentIds(const Array& items) {
    std::vector<std::uint64_t> ids(items.size());
    copyPersistentIds(items, ids.data());
    return ids;
}

Expected<PlaylistHash> playlistHash(const Array& playlists) {
    PlaylistHash result;
    for (Object* element : playlists.elements()) {
        const Playlist* playlist = objectAs<Playlist>(element);
        if (playlist == nullptr || !playlist->isVisible()) continue;
        const Array* items = playlist->items();
        if (items == nullptr) {
            ++result.visibleWithoutItems;
            continue;
        }
        std::uint32_t position = 0;
        for (Object* member : items->elements()) {
            const std::uint32_t p = position++;
            const MediaItem* item = objectAs<MediaItem>(member);
            const std::uint64_t id = item != nullptr ? item->persistentId() : 0;
            if (id == 0) continue;
            const auto low = static_cast<std::uint32_t>(id), high = static_cast<std::uint32_t>(id >> 32);
            result.hash ^= static_cast<std::uint32_t>(low + p) ^ high;
        }
    }
    return result;
}

}  // namespace kestrane::musiclibrary
