// libFuzzer target: any bytes as a library file must give a catalogue or an error, never a
// crash or an out-of-bounds access. Every item and playlist of a catalogue is read back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "loader.h"

namespace ml = kestrane::musiclibrary;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto loaded = ml::parseSnapshot(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!loaded) return 0;
    const ml::Snapshot& s = *loaded->get();
    for (ml::Object* object : s.allItems.list) {
        const auto* item = static_cast<const ml::MediaItem*>(object);
        (void)item->title();
        (void)item->mediaKind();
        (void)item->addedDate();
        (void)item->valueForProperty("Name");
        (void)item->valueForProperty("Date Added");
        (void)item->valueForProperty("Blob");
        if (item->album() != nullptr) (void)item->album()->title();
    }
    for (ml::Object* object : s.allPlaylists.list) {
        const auto* p = static_cast<const ml::Playlist*>(object);
        if (ml::Array* members = p->items()) {
            for (std::size_t k = 0; k < members->size(); ++k) (void)members->at(k);
        }
    }
    return 0;
}
