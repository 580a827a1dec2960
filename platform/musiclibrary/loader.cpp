#include "loader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <unordered_map>

#include "log.h"
#include "plist_scanner.h"
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

}  // namespace

// Builds a snapshot from the scanner's events, then ties its parts together in finish().
class LibraryLoader final : public PlistSink {
public:
    LibraryLoader() : snapshot_(std::make_unique<Snapshot>()) {}

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

    std::string reason() const override { return reason_; }

    // The complete snapshot (transfer full).
    SnapshotRef finish() {
        listItems();
        shareArtists();
        shareAlbums();
        indexPersistentIds();
        resolvePlaylists();
        return SnapshotRef(snapshot_.release());
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
                if (dict && key_ == "Tracks") stack_.push_back(Ctx::tracks);
                else if (!dict && key_ == "Playlists") stack_.push_back(Ctx::playlists);
                else stack_.push_back(Ctx::skip);
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
                addField(dict ? FieldType::dict : FieldType::array, 0, 0, 0);
                stack_.push_back(Ctx::skip);
                return true;
            case Ctx::playlists:
                if (dict) {
                    snapshot_->playlists.emplace_back().snapshot_ = snapshot_.get();
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
        if (stack_.empty()) return fail("unbalanced container");
        const Ctx ctx = stack_.back();
        stack_.pop_back();
        if (ctx == Ctx::track) finishTrack();
        return true;
    }

    // ---- tracks --------------------------------------------------------------------------------

    void startTrack() {
        MediaItem& item = snapshot_->items.emplace_back();
        item.snapshot_ = snapshot_.get();
        item.firstField_ = snapshot_->fields.size();
    }

    void finishTrack() {
        MediaItem& item = snapshot_->items.back();
        item.fieldCount_ = static_cast<std::uint32_t>(snapshot_->fields.size() - item.firstField_);
        if (const Text id = item.readText(TrackKey::persistentId)) item.persistentId_ = parseHexId(*id).value_or(0);
    }

    std::uint32_t keyNumberFor(const std::string& text) {
        if (const auto known = knownKeyNumber(text)) return *known;
        KeyNumbers& unknown = snapshot_->unknownKeys;
        if (const auto it = unknown.find(text); it != unknown.end()) return it->second;
        const auto number = static_cast<std::uint32_t>(kKnownKeyCount + unknown.size());
        unknown.emplace(text, number);
        return number;
    }

    // Adds a value under the current key to the current track, noting where a known key's
    // first value sits so that reading it later needs no search.
    void addField(FieldType type, std::int64_t i, double d, std::uint64_t ref, std::uint32_t length = 0) {
        Field f{};
        f.key = keyNumberFor(key_);
        f.type = type;
        f.length = length;
        if (type == FieldType::real || type == FieldType::date) f.d = d;
        else if (type == FieldType::string || type == FieldType::data) f.ref = ref;
        else f.i = i;
        MediaItem& item = snapshot_->items.back();
        if (f.key < kKnownKeyCount && item.slots_[f.key] == 0) {
            const std::size_t offset = snapshot_->fields.size() - item.firstField_;
            item.slots_[f.key] = offset + 1 < MediaItem::kFarSlot ? static_cast<std::uint8_t>(offset + 1) : MediaItem::kFarSlot;
        }
        snapshot_->fields.push_back(f);
    }

    bool integer(std::string_view text, std::int64_t& out) {
        const auto value = parseInteger(text);
        if (!value) return fail("invalid <integer> '" + std::string(text.substr(0, 40)) + "'");
        out = *value;
        return true;
    }

    bool trackValue(ValueKind kind, std::string_view text) {
        switch (kind) {
            case ValueKind::string: {
                if (text.size() > UINT32_MAX) return fail("string too long");
                // Straight into the pool: no string of its own for each value.
                char16_t* room = nullptr;
                const std::uint64_t ref = snapshot_->pool.reserve(text.size(), room);
                const std::size_t units = text::utf16FromUtf8(text, room);
                snapshot_->pool.commit(units);
                addField(FieldType::string, 0, 0, ref, static_cast<std::uint32_t>(units));
                return true;
            }
            case ValueKind::integer: {
                std::int64_t i = 0;
                if (!integer(text, i)) return false;
                addField(FieldType::integer, i, 0, 0);
                return true;
            }
            case ValueKind::real: {
                const auto d = parseReal(text);
                if (!d) return fail("invalid <real> '" + std::string(text.substr(0, 40)) + "'");
                addField(FieldType::real, 0, *d, 0);
                return true;
            }
            case ValueKind::date: {
                const auto d = parseDate(text);
                if (!d) return fail("invalid <date> '" + std::string(text.substr(0, 40)) + "'");
                addField(FieldType::date, 0, *d, 0);
                return true;
            }
            case ValueKind::boolean: addField(FieldType::boolean, text == "true" ? 1 : 0, 0, 0); return true;
            case ValueKind::data: {
                // One unit per byte: data values are rare and small in a library file.
                const std::string bytes = decodeBase64(text);
                std::u16string units(bytes.size(), u'\0');
                for (std::size_t i = 0; i < bytes.size(); ++i) units[i] = static_cast<unsigned char>(bytes[i]);
                addField(FieldType::data, 0, 0, snapshot_->pool.add(units), static_cast<std::uint32_t>(units.size()));
                return true;
            }
        }
        return true;
    }

    // ---- the library's settings and its playlists ------------------------------------------------

    bool topValue(ValueKind kind, std::string_view text) {
        Snapshot& s = *snapshot_;
        if (key_ == "Application Version" && kind == ValueKind::string) s.applicationVersion = text::utf16FromUtf8(text);
        else if (key_ == "Music Folder" && kind == ValueKind::string) s.musicFolder = text::utf16FromUtf8(text);
        else if (key_ == "Show Content Ratings" && kind == ValueKind::boolean) s.showContentRating = text == "true";
        return true;
    }

    bool playlistValue(ValueKind kind, std::string_view text) {
        Playlist& p = snapshot_->playlists.back();
        if (key_ == "Name" && kind == ValueKind::string) p.name_ = text::utf16FromUtf8(text);
        else if (key_ == "Playlist Persistent ID" && kind == ValueKind::string) p.persistentId_ = parseHexId(text::utf16FromUtf8(text)).value_or(0);
        else if (key_ == "Parent Persistent ID" && kind == ValueKind::string) p.parentId_ = parseHexId(text::utf16FromUtf8(text));
        else if (key_ == "Visible" && kind == ValueKind::boolean) p.visible_ = text == "true";
        else if (key_ == "Master" && kind == ValueKind::boolean) p.master_ = text == "true";
        else if (key_ == "Folder" && kind == ValueKind::boolean && text == "true") p.kind_ = codes::folder;
        else if (key_ == "Smart Info" && kind == ValueKind::data && p.kind_ == codes::regular) p.kind_ = codes::smart;
        else if (key_ == "Genius Track ID" && p.kind_ == codes::regular) p.kind_ = codes::genius;
        else if (key_ == "Distinguished Kind" && kind == ValueKind::integer) {
            std::int64_t number = 0;
            if (!integer(text, number)) return false;
            if (const Integer code = distinguishedKindOfFileNumber(number)) p.distinguishedKind_ = code;
        } else if (kind == ValueKind::boolean && text == "true") {
            if (const Integer code = distinguishedKindOfMarker(key_)) p.distinguishedKind_ = code;
        }
        return true;
    }

    void startPlaylistItems() {
        Playlist& p = snapshot_->playlists.back();
        if (p.hasItems_) return;  // a second list adds to the first
        p.hasItems_ = true;
        p.itemsIndex_ = snapshot_->playlistItems.size();
        snapshot_->playlistItems.emplace_back().snapshot = snapshot_.get();
        pendingItems_.emplace_back();
    }

    bool playlistItemValue(ValueKind kind, std::string_view text) {
        if (key_ != "Track ID" || kind != ValueKind::integer) return true;
        std::int64_t trackId = 0;
        if (!integer(text, trackId)) return false;
        pendingItems_.back().push_back(trackId);
        return true;
    }

    // ---- finishing: the steps that tie the tracks together -----------------------------------

    // Every track in file order forms the list of all media items.
    void listItems() {
        Snapshot& s = *snapshot_;
        s.allItems.list.reserve(s.items.size());
        for (MediaItem& item : s.items) s.allItems.list.push_back(&item);
    }

    // One artist per name, shared by its tracks; the first track gives its sort name.
    void shareArtists() {
        Snapshot& s = *snapshot_;
        std::unordered_map<std::u16string, Artist*> byName;
        for (MediaItem& item : s.items) {
            const Text name = item.readText(TrackKey::artist);
            if (!name) continue;
            auto [it, fresh] = byName.try_emplace(std::u16string(*name), nullptr);
            if (fresh) {
                Artist& a = s.artists.emplace_back();
                a.snapshot_ = &s;
                a.name_ = std::u16string(*name);
                if (const Text sort = item.readText(TrackKey::sortArtist)) a.sortName_ = std::u16string(*sort);
                a.id_ = stableId("artist", {*name});
                it->second = &a;
            }
            item.artist_ = it->second;
        }
    }

    // One album per title, album artist (or artist), compilation flag and disc number, shared by
    // its tracks; the first track gives the album's other values.
    void shareAlbums() {
        Snapshot& s = *snapshot_;
        std::unordered_map<std::u16string, Album*> byIdentity;
        for (MediaItem& item : s.items) {
            const Text title = item.readText(TrackKey::album);
            if (!title) continue;
            const Text albumArtist = item.readText(TrackKey::albumArtist);
            const std::u16string_view who = albumArtist ? *albumArtist : item.readText(TrackKey::artist).value_or(u"");
            const bool compilation = item.readFlag(TrackKey::compilation);
            const std::int64_t disc = item.readInteger(TrackKey::discNumber);
            const std::string discDigits = std::to_string(disc);
            const std::u16string discText(discDigits.begin(), discDigits.end());
            std::u16string identity(*title);
            identity.push_back(0);
            identity += who;
            identity.push_back(0);
            identity.push_back(compilation ? u'1' : u'0');
            identity.push_back(0);
            identity += discText;
            auto [it, fresh] = byIdentity.try_emplace(identity, nullptr);
            if (fresh) {
                Album& a = s.albums.emplace_back();
                a.snapshot_ = &s;
                auto copy = [](Text t) { return t ? std::optional<std::u16string>(*t) : std::nullopt; };
                a.title_ = std::u16string(*title);
                a.sortTitle_ = copy(item.readText(TrackKey::sortAlbum));
                a.albumArtist_ = copy(albumArtist);
                a.sortAlbumArtist_ = copy(item.readText(TrackKey::sortAlbumArtist));
                a.trackCount_ = item.readInteger(TrackKey::trackCount);
                a.rating_ = item.readInteger(TrackKey::albumRating);
                a.ratingComputed_ = item.readFlag(TrackKey::albumRatingComputed);
                a.gapless_ = item.readFlag(TrackKey::partOfGaplessAlbum);
                a.discNumber_ = disc;
                a.discCount_ = item.readInteger(TrackKey::discCount);
                a.compilation_ = compilation;
                a.id_ = stableId("album", {*title, who, compilation ? u"1" : u"0", discText});
                it->second = &a;
            }
            item.album_ = it->second;
        }
    }

    // The position of the first item with each persistent ID, so that finding an item by its
    // ID needs no search, and the IDs in list order.
    void indexPersistentIds() {
        Snapshot& s = *snapshot_;
        s.itemPositionById.reserve(s.allItems.list.size());
        s.itemIds.reserve(s.allItems.list.size());
        for (std::uint32_t i = 0; i < s.allItems.list.size(); ++i) {
            const std::uint64_t id = static_cast<MediaItem*>(s.allItems.list[i])->persistentId_;
            s.itemPositionById.try_emplace(id, i);
            s.itemIds.push_back(id);
        }
    }

    // Every playlist in file order forms the list of all playlists; its members are the tracks
    // whose "Track ID" its items name. Names of unknown tracks are passed over, with one log
    // line per playlist that has any.
    void resolvePlaylists() {
        Snapshot& s = *snapshot_;
        std::unordered_map<std::int64_t, MediaItem*> byTrackId;
        byTrackId.reserve(s.items.size());
        for (MediaItem& item : s.items) {
            const Field* id = item.field(keyNumber(TrackKey::trackId));
            if (id != nullptr && id->type == FieldType::integer) byTrackId.emplace(id->i, &item);
        }
        for (Playlist& playlist : s.playlists) {
            s.allPlaylists.list.push_back(&playlist);
            if (!playlist.hasItems_) continue;
            SnapshotArray& members = s.playlistItems[playlist.itemsIndex_];
            std::size_t unknown = 0;
            for (std::int64_t trackId : pendingItems_[playlist.itemsIndex_]) {
                if (const auto it = byTrackId.find(trackId); it != byTrackId.end()) members.list.push_back(it->second);
                else ++unknown;
            }
            if (unknown > 0) {
                const std::string name = playlist.name_ ? text::utf8FromUtf16(*playlist.name_) : std::string();
                logFormat("Playlist \"%s\": %zu of its items name tracks that the library does not have; they are left out.",
                          name.c_str(), unknown);
            }
        }
    }

    std::unique_ptr<Snapshot> snapshot_;
    std::vector<Ctx> stack_;
    std::string key_;
    std::deque<std::vector<std::int64_t>> pendingItems_;
    std::string reason_;
};

Expected<SnapshotRef> parseSnapshot(std::string_view bytes) {
    LibraryLoader loader;
    if (const Expected<void> scanned = scanPlist(bytes, loader); !scanned) {
        return Error{kNotALibrary, scanned.error().message};
    }
    return loader.finish();
}

Expected<SnapshotRef> loadSnapshot(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Error{kUnreadable, "Cannot read the music library file '" + path + "': " + std::strerror(errno) + "."};
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        return Error{kUnreadable, "Cannot read the music library file '" + path + "': it is a folder."};
    }
    LibraryLoader loader;
    const ByteSource source = [fd](char* buffer, std::size_t capacity) -> std::ptrdiff_t {
        for (;;) {
            const ssize_t n = ::read(fd, buffer, capacity);
            if (n < 0 && errno == EINTR) continue;
            return n;
        }
    };
    const Expected<void> scanned = scanPlist(source, loader);
    ::close(fd);
    if (!scanned) {
        return Error{kNotALibrary,
                     "The music library file '" + path + "' is not a valid library: " + scanned.error().message + "."};
    }
    return loader.finish();
}

}  // namespace kestrane::musiclibrary
