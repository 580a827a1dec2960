// libFuzzer target: any bytes as a library file must give a catalogue or an error, never a
// crash or an out-of-bounds access. Every item and playlist of a catalogue is read back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "library.h"

namespace ml = kestrane::musiclibrary;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    const ml::Snapshot* s = ml::parseSnapshot(std::string_view(reinterpret_cast<const char*>(data), size), error);
    if (s == nullptr) return 0;
    ml::Array* items = ml::snapshotItems(s);
    for (std::size_t i = 0; i < items->size(); ++i) {
        auto* item = static_cast<ml::MediaItem*>(items->at(i));
        (void)item->title();
        (void)item->mediaKind();
        (void)item->addedDate();
        (void)item->valueForProperty("Name");
        (void)item->valueForProperty("Date Added");
        (void)item->valueForProperty("Blob");
        if (item->album() != nullptr) (void)item->album()->title();
    }
    ml::Array* playlists = ml::snapshotPlaylists(s);
    for (std::size_t i = 0; i < playlists->size(); ++i) {
        auto* p = static_cast<ml::Playlist*>(playlists->at(i));
        if (ml::Array* members = p->items()) {
            for (std::size_t k = 0; k < members->size(); ++k) (void)members->at(k);
        }
    }
    ml::releaseSnapshot(s);
    return 0;
}
