// The catalogue builder: turns the events of a library file's reader (or of a scanned music
// folder, which speaks the same events) into a snapshot's tracks and playlists, as read. The
// linking passes (catalogue_linker.h) then tie them together.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "plist_sink.h"
#include "snapshot.h"

namespace kestrane::musiclibrary {

class CatalogueBuilder;

// The builder of the tail of a library file, from a key of its "Tracks" on, that a second
// reader reads while the first reads up to it, so that a large file loads on two processors at
// once (CatalogueSink::joinTail). Whatever would give its events another meaning than they
// have for a single reader (a value left out, a track without an ID, a second "Tracks") makes
// it refuse them, and the first reader then reads the tail itself; so does cancelled.
class CatalogueTail {
public:
    explicit CatalogueTail(const std::atomic<bool>& cancelled);
    ~CatalogueTail();
    CatalogueTail(const CatalogueTail&) = delete;
    CatalogueTail& operator=(const CatalogueTail&) = delete;
    PlistSink& sink();

private:
    friend class CatalogueBuilder;
    std::unique_ptr<CatalogueBuilder> builder_;
};

// The builder's side that a library's producer talks to: the reader's events, and a track
// taken whole from an earlier snapshot. A rescan of a folder hands on the tracks whose files
// did not change this way, so that it costs what changed rather than the whole library.
class CatalogueSink : public PlistSink {
public:
    // Takes tail's tracks and playlists as the rest of the file, when the events so far end
    // between two tracks of the first "Tracks" with no playlist read yet: finished is called
    // then, waits for the tail's reader and says whether it read to the document's end. False
    // (nothing taken, the build goes on with the events that follow) otherwise.
    virtual bool joinTail(CatalogueTail& tail, const std::function<bool()>& finished) = 0;

    // Adds, where a track's dictionary may begin and under key, a track whose values are those
    // that item (of another snapshot, alive for the call) was built with: the same snapshot
    // as sending its events again would give. False (the build fails) out of place, or when
    // the catalogue is full.
    virtual bool copyTrack(std::string_view key, const MediaItem& item) = 0;
};

// A snapshot as the builder read it, with what the linking passes need to tie it together.
struct BuiltCatalogue {
    std::string source;                  // names the file in messages
    std::unique_ptr<Snapshot> snapshot;  // its tracks and playlists in file order
    std::vector<bool> droppedItems, droppedPlaylists;  // by index: left out (replaced, or no usable ID)
    std::vector<std::pair<std::int64_t, std::size_t>> trackKeys;      // each track's ID -> item index, in file order
    std::vector<std::pair<std::int64_t, std::size_t>> innerTrackIds;  // inner "Track ID" -> item index
    std::deque<std::vector<std::int64_t>> pendingItems;                // each item list's track IDs
};

// Makes a builder for a load named source in messages ("The music library file '...'"), with
// the snapshot's origin, and runs feed with it: on success the result holds what it built; on
// failure the builder's reason (when it refused an event) and where it was.
struct BuildResult {
    bool ok = false;
    std::string reason;  // when !ok: the builder's reason for refusing an event
    std::string where;   // " (in track 7, at key "Name")", or ""
    BuiltCatalogue built;
};
BuildResult buildCatalogue(std::string source, std::string path, const std::optional<FileIdentity>& identity,
                           const std::function<bool(CatalogueSink&)>& feed);

}  // namespace kestrane::musiclibrary
