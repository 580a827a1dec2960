// libFuzzer target: any bytes as a library file must give a catalogue or an error, never a
// crash or an out-of-bounds access. Every item and playlist of a catalogue is read back. The
// same bytes read from a file by two threads must give the same catalogue.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "holders.h"
#include "loader.h"

namespace ml = kestrane::musiclibrary;

namespace {

// What a catalogue holds, in brief: its items' IDs and names, its playlists' sizes.
std::string digest(const ml::Snapshot& s) {
    std::string out;
    for (const ml::Object* object : s.allItems.list) {
        const auto* item = static_cast<const ml::MediaItem*>(object);
        out += std::to_string(item->persistentId()) + ":" + item->valueForProperty("Name").value_or("-") + ":" +
               item->valueForProperty("Blob").value_or("-") + ";";
    }
    for (const ml::Object* object : s.allPlaylists.list) {
        const ml::Array* members = static_cast<const ml::Playlist*>(object)->items();
        out += "p" + std::to_string(members != nullptr ? members->size() : 0) + ";";
    }
    return out;
}

// The bytes as a file, read by two threads whatever their size; aborts where the result is not
// the one read in memory by one.
void checkTwoThreads(std::string_view bytes, const kestrane::Expected<ml::SnapshotRef>& one) {
    const kestrane::UniqueFd fd(memfd_create("library", MFD_CLOEXEC));
    if (!fd || write(fd.get(), bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) return;
    const auto two = ml::loadSnapshot("/proc/self/fd/" + std::to_string(fd.get()), {}, 0);
    if (static_cast<bool>(two) != static_cast<bool>(one)) std::abort();
    if (one && digest(*two->get()) != digest(*one->get())) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto loaded = ml::parseSnapshot(bytes);
    // A file and a thread cost more than a small parse: one input in four is read both ways.
    if (size % 4 == 0) checkTwoThreads(bytes, loaded);
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
