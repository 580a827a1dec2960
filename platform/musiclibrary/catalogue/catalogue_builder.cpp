#include "catalogue_builder.h"

#include <cstring>
#include <map>

#include "log.h"
#include "utf.h"
#include "values.h"

namespace kestrane::musiclibrary {

namespace {

// The platform's code of a distinguished playlist from the number that music-library
// applications write in "Distinguished Kind"; none for numbers without a counterpart.
Integer distinguishedKindOfFileNumber(std::int64_t number) {
    switch (number) {
        case 2: return codes::movies;
        case 3: return codes::tvShows;
        case 4: return codes::music;
        case 5: return codes::audiobooks;
        case 10: return codes::podcasts;
        case 19: return codes::purchases;
        case 31: return codes::iTunesUCollection;
        default: return codes::noDistinguishedKind;
    }
}

// The platform's code of a distinguished playlist from the marker key that the file sets to
// true in it ("Music", "Movies", ...); none for any other key.
Integer distinguishedKindOfMarker(std::string_view key) {
    if (key == "Music") return codes::music;
    if (key == "Movies") return codes::movies;
    if (key == "TV Shows") return codes::tvShows;
    if (key == "Podcasts") return codes::podcasts;
    if (key == "Audiobooks") return codes::audiobooks;
    if (key == "Purchased Music") return codes::purchases;
    if (key == "iTunesU") return codes::iTunesUCollection;
    return codes::noDistinguishedKind;
}

// Equality of two texts, in words of eight bytes: keys are short, and comparing them inline
// beats a call to memcmp.
bool sameShortText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    std::size_t i = 0;
    for (; i + 8 <= a.size(); i += 8) {
        std::uint64_t x, y;
        std::memcpy(&x, a.data() + i, 8);
        std::memcpy(&y, b.data() + i, 8);
        if (x != y) return false;
    }
    for (; i < a.size(); ++i) {
        if (a[i] != b[i]) return false;
    }
    return true;
}

// Key numbers are 16 bits wide in a field; keys beyond these many distinct ones are dropped.
constexpr std::size_t kMaxKeyNumbers = 65535;

}  // namespace

// Builds a snapshot from the reader's events; the linking passes (catalogue_linker.h) then tie
// its parts together.
//
// A value that does not parse costs that value, not the library: it is left out as if absent
// and counted, and finish() writes one log line that names the keys. Structure is another
// matter: an element out of place still fails the load, so that a half-written file never
// looks like a library whose tracks were deleted.
class CatalogueBuilder final : public CatalogueSink {
public:
    // source names the file in messages ("The music library file '...'").
    explicit CatalogueBuilder(std::string source) : source_(std::move(source)), snapshot_(std::make_unique<Snapshot>()) {}

    // The builder of a tail (CatalogueTail): its events begin inside "Tracks".
    explicit CatalogueBuilder(const std::atomic<bool>& cancelled) : CatalogueBuilder(std::string()) {
        cancelled_ = &cancelled;
        stack_ = {Ctx::topDict, Ctx::tracks};
    }

    bool beginDict() override { return container(true); }
    bool beginArray() override { return container(false); }
    bool endDict() override { return end(); }
    bool endArray() override { return end(); }

    bool key(std::string_view text) override {
        key_.assign(text);
        return true;
    }

    bool value(ValueKind kind, std::string_view text) override {
        switch (context()) {
            case Ctx::top: return fail("the library file does not hold a dictionary");
            case Ctx::topDict: return topValue(kind, text);
            case Ctx::track: return trackValue(kind, text);
            case Ctx::playlist: return playlistValue(kind, text);
            case Ctx::playlistItem: return playlistItemValue(kind, text);
            default: return true;  // values in places the catalogue does not read
        }
    }

    bool copyTrack(std::string_view key, const MediaItem& item) override {
        if (context() != Ctx::tracks) return fail("a track was copied outside \"Tracks\"");
        const SnapshotStore& from = *item.snapshot_;
        key_.assign(key);
        startTrack();
        stack_.push_back(Ctx::track);
        for (std::uint32_t i = 0; i < item.fieldCount_; ++i) {
            Field f = from.fields[item.firstField_ + i];
            if (f.key >= kKnownKeyCount) {
                // Numbers of unknown keys are the other snapshot's own: renumbered by their text.
                const std::optional<std::uint16_t> number = lookUpKeyNumber(std::string(unknownKeyText(from, f.key)));
                if (!number) {
                    leaveOut("(keys beyond the 65,535th)");
                    continue;
                }
                f.key = *number;
            }
            if (f.type == FieldType::string || f.type == FieldType::data) {
                const auto ref = snapshot_->pool.add(from.pool.view(f.ref()));
                if (!ref) return fail("the library holds more text than one catalogue can keep (2 GiB)");
                f = Field::ofString(f.key, f.type, *ref);
            }
            placeField(f);
        }
        // The ID that item was read with: its text need not be parsed again.
        stack_.pop_back();
        finishTrack(item.persistentId_);
        return true;
    }

    bool joinTail(CatalogueTail& tail, const std::function<bool()>& finished) override {
        const bool betweenTracks = stack_.size() == 2 && stack_[0] == Ctx::topDict && stack_[1] == Ctx::tracks && !inTrack_;
        if (!betweenTracks || !snapshot_->playlists.empty() || !finished()) return false;
        CatalogueBuilder& t = *tail.builder_;
        if (t.unfit_) return false;
        Snapshot& to = *snapshot_;
        Snapshot& from = *t.snapshot_;
        // The tail numbered the keys it did not know on its own: in the order it met them, each
        // gets this builder's number for its text (one it has, or the next one).
        std::vector<std::string_view> textOf(from.unknownKeys.size());
        for (const auto& [text, n] : from.unknownKeys) textOf[n - kKnownKeyCount] = text;
        std::size_t fresh = 0;
        for (const std::string_view text : textOf) fresh += to.unknownKeys.find(text) == to.unknownKeys.end();
        if (kKnownKeyCount + to.unknownKeys.size() + fresh > kMaxKeyNumbers || !to.pool.canAppend(from.pool)) return false;
        std::vector<std::uint16_t> keyOf(textOf.size());
        for (std::size_t i = 0; i < textOf.size(); ++i) keyOf[i] = *lookUpKeyNumber(std::string(textOf[i]));

        // Its values follow these, its text follows this pool's: each field's key and place
        // are made this snapshot's.
        const std::size_t fieldBase = to.fields.append(std::move(from.fields));
        const std::uint32_t poolBase = to.pool.append(std::move(from.pool));
        to.fields.forEachFrom(fieldBase, [&](Field& f) {
            if (f.key >= kKnownKeyCount) f.key = keyOf[f.key - kKnownKeyCount];
            if (f.type == FieldType::string || f.type == FieldType::data) f.words[0] += poolBase;
        });
        const std::size_t itemBase = to.items.size();
        for (MediaItem& item : from.items) {
            item.snapshot_ = &to;
            item.firstField_ += fieldBase;
        }
        to.items.append(std::move(from.items));
        droppedItems_.insert(droppedItems_.end(), t.droppedItems_.begin(), t.droppedItems_.end());
        for (const auto& [id, index] : t.trackKeys_) trackKeys_.emplace_back(id, itemBase + index);
        for (const auto& [id, index] : t.innerTrackIds_) innerTrackIds_.emplace_back(id, itemBase + index);

        // No playlist came before the tail's.
        for (const Playlist& playlist : from.playlists) {
            Playlist& copy = to.playlists.emplace_back();
            copy.snapshot_ = &to;
            copy.persistentId_ = playlist.persistentId_;
            copy.parentId_ = playlist.parentId_;
            copy.visible_ = playlist.visible_;
            copy.master_ = playlist.master_;
            copy.hasItems_ = playlist.hasItems_;
            copy.name_ = playlist.name_;
            copy.distinguishedKind_ = playlist.distinguishedKind_;
            copy.kind_ = playlist.kind_;
            copy.itemsIndex_ = playlist.itemsIndex_;
        }
        for (std::size_t i = 0; i < from.playlistItems.size(); ++i) to.playlistItems.emplace_back().snapshot = &to;
        droppedPlaylists_ = std::move(t.droppedPlaylists_);
        pendingItems_ = std::move(t.pendingItems_);

        // The library's settings: the last value read wins.
        if (from.applicationVersion) to.applicationVersion = std::move(from.applicationVersion);
        if (from.musicFolder) to.musicFolder = std::move(from.musicFolder);
        if (t.readShowContentRating_) to.showContentRating = from.showContentRating;
        return true;
    }

    std::string reason() const override { return reason_; }

    // Where the reader was, for a message about a failed load: " (in track 7, at key "Name")".
    std::string where() const {
        std::string at;
        if (inTrack_) at = "track " + trackKey_;
        else if (inPlaylist_) at = "playlist " + std::to_string(snapshot_->playlists.size());
        if (at.empty()) return "";
        if (!key_.empty()) at += ", at key \"" + key_ + "\"";
        return " (in " + at + ")";
    }

    // The tracks and playlists as read, for the linking passes; the builder is done with them.
    BuiltCatalogue take() {
        reportLeftOut();
        return BuiltCatalogue{source_, std::move(snapshot_), std::move(droppedItems_), std::move(droppedPlaylists_),
                              std::move(trackKeys_), std::move(innerTrackIds_),
                              std::move(pendingItems_)};
    }

    void setFile(std::string path, std::optional<FileIdentity> identity) {
        snapshot_->path = std::move(path);
        snapshot_->file = identity;
    }

private:
    enum class Ctx { top, topDict, tracks, track, playlists, playlist, playlistItems, playlistItem, skip };

    Ctx context() const { return stack_.empty() ? Ctx::top : stack_.back(); }

    bool fail(std::string reason) {
        reason_ = std::move(reason);
        return false;
    }

    // ---- the document's structure ----------------------------------------------------------

    bool container(bool dict) {
        switch (context()) {
            case Ctx::top:
                if (!dict) return fail("the library file does not hold a dictionary");
                stack_.push_back(Ctx::topDict);
                return true;
            case Ctx::topDict:
                if (dict && key_ == "Tracks") {
                    // A second "Tracks" in a tail would replace what the first reader read too.
                    if (cancelled_ != nullptr) return unfit();
                    dropAll(droppedItems_, snapshot_->items.size());  // a second "Tracks" replaces the first
                    trackKeys_.clear();
                    stack_.push_back(Ctx::tracks);
                } else if (!dict && key_ == "Playlists") {
                    dropAll(droppedPlaylists_, snapshot_->playlists.size());
                    stack_.push_back(Ctx::playlists);
                } else {
                    stack_.push_back(Ctx::skip);
                }
                return true;
            case Ctx::tracks:
                if (!dict) {
                    stack_.push_back(Ctx::skip);
                    return true;
                }
                startTrack();
                stack_.push_back(Ctx::track);
                return true;
            case Ctx::track:
                // A nested value is kept as a field of its own kind; what it holds is not read.
                addField(Field::ofContainer(0, dict ? FieldType::dict : FieldType::array));
                stack_.push_back(Ctx::skip);
                return true;
            case Ctx::playlists:
                if (dict) {
                    snapshot_->playlists.emplace_back().snapshot_ = snapshot_.get();
                    droppedPlaylists_.push_back(false);
                    inPlaylist_ = true;
                    stack_.push_back(Ctx::playlist);
                } else {
                    stack_.push_back(Ctx::skip);
                }
                return true;
            case Ctx::playlist:
                if (!dict && key_ == "Playlist Items") {
                    startPlaylistItems();
                    stack_.push_back(Ctx::playlistItems);
                } else {
                    stack_.push_back(Ctx::skip);
                }
                return true;
            case Ctx::playlistItems:
                stack_.push_back(dict ? Ctx::playlistItem : Ctx::skip);
                key_.clear();
                return true;
            default:
                stack_.push_back(Ctx::skip);
                return true;
        }
    }

    bool end() {
        if (cancelled_ != nullptr && (unfit_ || cancelled_->load(std::memory_order_relaxed))) return unfit();
        if (stack_.empty()) return fail("unbalanced container");
        const Ctx ctx = stack_.back();
        stack_.pop_back();
        if (ctx == Ctx::track) finishTrack();
        if (ctx == Ctx::playlist) inPlaylist_ = false;
        return true;
    }

    // A tail's events that a single reader would have logged or read differently.
    bool unfit() {
        unfit_ = true;
        return fail("the tail cannot stand for the rest of the file");
    }

    static void dropAll(std::vector<bool>& dropped, std::size_t count) {
        dropped.assign(count, true);
    }

    // ---- tracks --------------------------------------------------------------------------------

    void startTrack() {
        MediaItem& item = snapshot_->items.emplace_back();
        item.snapshot_ = snapshot_.get();
        item.firstField_ = snapshot_->fields.size();
        droppedItems_.push_back(false);
        trackKey_ = key_;
        inTrack_ = true;
    }

    void finishTrack(std::optional<std::uint64_t> persistentId = std::nullopt) {
        inTrack_ = false;
        const std::size_t index = snapshot_->items.size() - 1;
        MediaItem& item = snapshot_->items.back();
        item.fieldCount_ = static_cast<std::uint32_t>(snapshot_->fields.size() - item.firstField_);
        if (persistentId) {
            item.persistentId_ = *persistentId;
        } else if (const Text id = item.readText(TrackKey::persistentId)) {
            item.persistentId_ = parseHexId(*id).value_or(0);
        }
        // The track's ID: its key in "Tracks", else its inner "Track ID".
        std::optional<std::int64_t> id;
        if (const auto fromKey = parseInteger(trackKey_); fromKey && !fromKey->isUnsigned) id = fromKey->value();
        const Field* inner = item.field(keyNumber(TrackKey::trackId));
        if (inner != nullptr && inner->type == FieldType::integer && !inner->isUnsigned()) {
            innerTrackIds_.emplace_back(inner->integer(), index);
            if (!id) id = inner->integer();
        }
        if (!id) {
            if (cancelled_ != nullptr) return static_cast<void>(unfit_ = true);
            droppedItems_[index] = true;
            logFormat("%s: the track with the key \"%s\" (%s) has no usable Track ID; it is left out.", source_.c_str(),
                      trackKey_.c_str(), position().c_str());
            return;
        }
        // The linking passes index them, the last track with a key winning.
        trackKeys_.emplace_back(*id, index);
    }

    // The number of a key's text: a known key's, or one given to the key when first met; none
    // when there are too many distinct keys to number.
    std::optional<std::uint16_t> keyNumberFor(const std::string& text) {
        // Tracks mostly list their keys in the same order: the key met last time at this place
        // in a track is tried first, which spares the hash of the key's text.
        const std::size_t place = snapshot_->fields.size() - snapshot_->items.back().firstField_;
        if (place < recentKeys_.size() && sameShortText(recentKeys_[place].first, text)) return recentKeys_[place].second;
        const std::optional<std::uint16_t> number = lookUpKeyNumber(text);
        if (number && place < kRecentKeyPlaces) {
            if (place >= recentKeys_.size()) recentKeys_.resize(place + 1);
            recentKeys_[place] = {text, *number};
        }
        return number;
    }

    std::optional<std::uint16_t> lookUpKeyNumber(const std::string& text) {
        if (const auto known = knownKeyNumber(text)) return static_cast<std::uint16_t>(*known);
        KeyNumbers& unknown = snapshot_->unknownKeys;
        if (const auto it = unknown.find(text); it != unknown.end()) return static_cast<std::uint16_t>(it->second);
        if (kKnownKeyCount + unknown.size() >= kMaxKeyNumbers) return std::nullopt;
        const auto number = static_cast<std::uint16_t>(kKnownKeyCount + unknown.size());
        unknown.emplace(text, number);
        return number;
    }

    // Adds a value under the current key to the current track, noting where a known key's
    // value sits so that reading it later needs no search. A key repeated inside the track: the
    // last value is the one read.
    void addField(Field f) {
        const std::optional<std::uint16_t> number = keyNumberFor(key_);
        if (!number) return leaveOut("(keys beyond the 65,535th)");
        f.key = *number;
        placeField(f);
    }

    // The text of an unknown key's number in another snapshot (its numbers, reversed once per
    // snapshot copied from).
    std::string_view unknownKeyText(const SnapshotStore& from, std::uint16_t number) {
        if (unknownKeysOf_ != &from) {
            unknownKeysOf_ = &from;
            unknownKeyTexts_.assign(from.unknownKeys.size(), {});
            for (const auto& [text, n] : from.unknownKeys) {
                if (n >= kKnownKeyCount && n - kKnownKeyCount < unknownKeyTexts_.size()) unknownKeyTexts_[n - kKnownKeyCount] = text;
            }
        }
        const std::size_t at = number - kKnownKeyCount;
        return at < unknownKeyTexts_.size() ? unknownKeyTexts_[at] : std::string_view();
    }

    void placeField(const Field& f) {
        MediaItem& item = snapshot_->items.back();
        if (f.key < kKnownKeyCount) {
            const std::size_t offset = snapshot_->fields.size() - item.firstField_;
            item.slots_[f.key] = offset + 1 < MediaItem::kFarSlot ? static_cast<std::uint8_t>(offset + 1) : MediaItem::kFarSlot;
        }
        snapshot_->fields.push_back(f);
    }

    bool trackValue(ValueKind kind, std::string_view text) {
        switch (kind) {
            case ValueKind::string: {
                // The pool keeps the file's UTF-8 as it is: no conversion while loading.
                const auto ref = snapshot_->pool.add(text);
                if (!ref) return fail("the library holds more text than one catalogue can keep (2 GiB)");
                addField(Field::ofString(0, FieldType::string, *ref));
                return true;
            }
            case ValueKind::integer:
                if (const auto number = parseInteger(text)) addField(Field::ofInteger(0, number->bits, number->isUnsigned));
                else leaveOut(key_);
                return true;
            case ValueKind::real:
                if (const auto d = parseReal(text)) addField(Field::ofDouble(0, FieldType::real, *d));
                else leaveOut(key_);
                return true;
            case ValueKind::date:
                if (const auto d = parseDate(text)) addField(Field::ofDouble(0, FieldType::date, *d));
                else leaveOut(key_);
                return true;
            case ValueKind::boolean: addField(Field::ofBoolean(0, text == "true")); return true;
            case ValueKind::data: {
                const auto ref = snapshot_->pool.add(decodeBase64(text));
                if (!ref) return fail("the library holds more text than one catalogue can keep (2 GiB)");
                addField(Field::ofString(0, FieldType::data, *ref));
                return true;
            }
        }
        return true;
    }

    // ---- the library's settings and its playlists ------------------------------------------------

    bool topValue(ValueKind kind, std::string_view text) {
        Snapshot& s = *snapshot_;
        if (key_ == "Application Version" && kind == ValueKind::string) s.applicationVersion = std::string(text);
        else if (key_ == "Music Folder" && kind == ValueKind::string) s.musicFolder = std::string(text);
        else if (key_ == "Show Content Ratings" && kind == ValueKind::boolean) {
            s.showContentRating = text == "true";
            readShowContentRating_ = true;
        }
        return true;
    }

    bool playlistValue(ValueKind kind, std::string_view text) {
        Playlist& p = snapshot_->playlists.back();
        if (key_ == "Name" && kind == ValueKind::string) p.name_ = std::string(text);
        else if (key_ == "Playlist Persistent ID" && kind == ValueKind::string) p.persistentId_ = parseHexId(text).value_or(0);
        else if (key_ == "Parent Persistent ID" && kind == ValueKind::string) p.parentId_ = parseHexId(text);
        else if (key_ == "Visible" && kind == ValueKind::boolean) p.visible_ = text == "true";
        else if (key_ == "Master" && kind == ValueKind::boolean) p.master_ = text == "true";
        else if (key_ == "Folder" && kind == ValueKind::boolean && text == "true") p.kind_ = codes::folder;
        else if (key_ == "Smart Info" && kind == ValueKind::data && p.kind_ == codes::regular) p.kind_ = codes::smart;
        else if (key_ == "Genius Track ID" && p.kind_ == codes::regular) p.kind_ = codes::genius;
        else if (key_ == "Distinguished Kind" && kind == ValueKind::integer) {
            const auto number = parseInteger(text);
            if (!number) return leaveOut(key_), true;
            if (const Integer code = distinguishedKindOfFileNumber(number->value())) p.distinguishedKind_ = code;
        } else if (kind == ValueKind::boolean && text == "true") {
            if (const Integer code = distinguishedKindOfMarker(key_)) p.distinguishedKind_ = code;
        }
        return true;
    }

    void startPlaylistItems() {
        Playlist& p = snapshot_->playlists.back();
        if (p.hasItems_) {
            pendingItems_[p.itemsIndex_].clear();  // a repeated list replaces the first
            return;
        }
        p.hasItems_ = true;
        p.itemsIndex_ = snapshot_->playlistItems.size();
        snapshot_->playlistItems.emplace_back().snapshot = snapshot_.get();
        pendingItems_.emplace_back();
    }

    bool playlistItemValue(ValueKind kind, std::string_view text) {
        if (key_ != "Track ID" || kind != ValueKind::integer) return true;
        const auto number = parseInteger(text);
        if (!number) return leaveOut(key_), true;
        pendingItems_.back().push_back(number->value());
        return true;
    }

    // ---- values left out -----------------------------------------------------------------------

    struct LeftOut {
        std::size_t count = 0;
        std::string firstWhere;
        std::string firstPosition;
    };

    void leaveOut(const std::string& key) {
        if (cancelled_ != nullptr) return static_cast<void>(unfit_ = true);
        LeftOut& entry = leftOut_[key];
        if (entry.count++ == 0) {
            entry.firstWhere = inTrack_ ? "track " + trackKey_
                               : inPlaylist_ ? "playlist " + std::to_string(snapshot_->playlists.size())
                                             : "the library's settings";
            entry.firstPosition = position();
        }
    }

    // One line for the whole load: how many values were left out, by key.
    void reportLeftOut() {
        if (leftOut_.empty()) return;
        std::size_t total = 0;
        std::string detail;
        for (const auto& [key, entry] : leftOut_) {
            total += entry.count;
            if (!detail.empty()) detail += "; ";
            detail += "\"" + key + "\" " + std::to_string(entry.count) + " (first in " + entry.firstWhere + ", " + entry.firstPosition + ")";
        }
        logFormat("%s: %zu value%s could not be read and %s left out: %s.", source_.c_str(), total, total == 1 ? "" : "s",
                  total == 1 ? "was" : "were", detail.c_str());
    }

    std::string source_;
    std::unique_ptr<Snapshot> snapshot_;
    std::vector<Ctx> stack_;
    std::string key_;
    std::string trackKey_;
    bool inTrack_ = false, inPlaylist_ = false;
    std::vector<bool> droppedItems_, droppedPlaylists_;
    std::vector<std::pair<std::int64_t, std::size_t>> trackKeys_;      // track ID -> item index, in file order
    std::vector<std::pair<std::int64_t, std::size_t>> innerTrackIds_;  // inner "Track ID" -> item index
    std::map<std::string, LeftOut> leftOut_;                            // by key, in key order
    std::deque<std::vector<std::int64_t>> pendingItems_;
    static constexpr std::size_t kRecentKeyPlaces = 128;
    std::vector<std::pair<std::string, std::uint16_t>> recentKeys_;  // by place in a track
    const SnapshotStore* unknownKeysOf_ = nullptr;
    std::vector<std::string_view> unknownKeyTexts_;  // by number less the known ones
    std::string reason_;
    bool readShowContentRating_ = false;
    // A tail's builder: cancelled by the first reader, and whether its events are unfit.
    const std::atomic<bool>* cancelled_ = nullptr;
    bool unfit_ = false;
};

CatalogueTail::CatalogueTail(const std::atomic<bool>& cancelled) : builder_(std::make_unique<CatalogueBuilder>(cancelled)) {}
CatalogueTail::~CatalogueTail() = default;
PlistSink& CatalogueTail::sink() {
    return *builder_;
}

BuildResult buildCatalogue(std::string source, std::string path, const std::optional<FileIdentity>& identity,
                           const std::function<bool(CatalogueSink&)>& feed) {
    CatalogueBuilder builder(std::move(source));
    builder.setFile(std::move(path), identity);
    BuildResult result;
    result.ok = feed(builder);
    result.where = builder.where();
    if (!result.ok) {
        result.reason = builder.reason();
        return result;
    }
    result.built = builder.take();
    return result;
}

}  // namespace kestrane::musiclibrary
