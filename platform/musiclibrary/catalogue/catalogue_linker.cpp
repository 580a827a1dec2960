#include "catalogue_linker.h"

#include <algorithm>
#include <deque>
#include <map>
#include <optional>
#include <exception>
#include <string>
#include <system_error>
#include <thread>
#include <string_view>
#include <unordered_map>

#include "log.h"
#include "utf.h"
#include "values.h"

namespace kestrane::musiclibrary {

namespace {

// Texts to the first value given to each. A library's albums and artists are looked up once per
// track: a hash map of strings costs three cache misses a lookup (bucket, node, text) and an
// allocation per new text; this open table with the hashes in it costs one entry and the text
// it names, and growing never hashes a text again.
class TextIndex {
public:
    static std::uint64_t hashOf(std::string_view text) { return std::hash<std::string_view>()(text); }

    // The value of text (whose hash is hash), if it has one.
    std::optional<std::uint32_t> find(std::string_view text, std::uint64_t hash) const {
        if (table_.empty()) return std::nullopt;
        for (std::size_t at = hash & (table_.size() - 1);; at = (at + 1) & (table_.size() - 1)) {
            const Entry& e = table_[at];
            if (e.data == nullptr) return std::nullopt;
            if (e.hash == hash && std::string_view(e.data, e.length) == text) return e.value;
        }
    }

    // Gives text, which has no value yet and stays where it is while the index lives, value.
    void add(std::string_view text, std::uint64_t hash, std::uint32_t value) {
        if ((count_ + 1) * 2 > table_.size()) grow();
        std::size_t at = hash & (table_.size() - 1);
        while (table_[at].data != nullptr) at = (at + 1) & (table_.size() - 1);
        table_[at] = Entry{hash, text.data() != nullptr ? text.data() : "", text.size(), value};
        ++count_;
    }

private:
    struct Entry {
        std::uint64_t hash = 0;
        const char* data = nullptr;  // null: an empty entry
        std::size_t length = 0;
        std::uint32_t value = 0;
    };

    void grow() {
        std::vector<Entry> old(std::max<std::size_t>(table_.size() * 2, 1024));
        old.swap(table_);
        for (const Entry& e : old) {
            if (e.data == nullptr) continue;
            std::size_t at = e.hash & (table_.size() - 1);
            while (table_[at].data != nullptr) at = (at + 1) & (table_.size() - 1);
            table_[at] = e;
        }
    }

    std::vector<Entry> table_;
    std::size_t count_ = 0;
};

}  // namespace

class CatalogueLinker {
public:
    explicit CatalogueLinker(BuiltCatalogue built) : b_(std::move(built)) {}

    SnapshotRef link() {
        indexTrackKeys();
        listItems();
        resolvePlaylists();
        // What only the reading needed goes before the rest is made, which reuses its memory.
        trackByKey_ = {};
        b_.trackKeys = {};
        b_.innerTrackIds = {};
        b_.pendingItems = {};
        // Albums and artists (with the ID index) are made from the same items but write
        // different parts of them: a large catalogue makes them on two threads at once, for
        // their lookups wait on memory for most of their time.
        std::thread albums;
        std::exception_ptr albumsFailed;
        if (b_.snapshot->allItems.list.size() >= kItemsForTwoThreads) {
            try {
                albums = std::thread([this, &albumsFailed] {
                    try {
                        shareAlbums();
                    } catch (...) {
                        albumsFailed = std::current_exception();
                    }
                });
            } catch (const std::system_error&) {
            }
        }
        indexPersistentIds();
        shareArtists();
        if (albums.joinable()) albums.join();
        else shareAlbums();
        if (albumsFailed) std::rethrow_exception(albumsFailed);
        return SnapshotRef(b_.snapshot.release());
    }

private:
    static constexpr std::size_t kItemsForTwoThreads = 20000;

    // Each track's ID to its item, the last track with an ID winning over earlier ones (which
    // are left out).
    void indexTrackKeys() {
        trackByKey_.reserve(b_.trackKeys.size());
        for (const auto& [id, index] : b_.trackKeys) {
            const auto [it, fresh] = trackByKey_.try_emplace(id, index);
            if (fresh) continue;
            b_.droppedItems[it->second] = true;
            it->second = index;
            ++repeatedTrackKeys_[id];
        }
    }

    // Every track in file order that was not left out forms the list of all media items.
    void listItems() {
        Snapshot& s = *b_.snapshot;
        s.allItems.list.reserve(s.items.size());
        for (std::size_t i = 0; i < s.items.size(); ++i) {
            if (!b_.droppedItems[i]) s.allItems.list.push_back(&s.items[i]);
        }
        for (const auto& [key, repeats] : repeatedTrackKeys_) {
            logFormat("%s: the track key %lld appears %zu times in \"Tracks\"; the last one is kept.", b_.source.c_str(),
                      static_cast<long long>(key), repeats + 1);
        }
    }

    // One artist per name, shared by its tracks; the first track gives its sort name.
    void shareArtists() {
        Snapshot& s = *b_.snapshot;
        TextIndex byName;
        std::vector<Artist*> artists;
        for (Object* object : s.allItems.list) {
            auto& item = *static_cast<MediaItem*>(object);
            const Text name = item.readText(TrackKey::artist);
            if (!name) continue;
            const std::uint64_t hash = TextIndex::hashOf(*name);
            std::optional<std::uint32_t> index = byName.find(*name, hash);
            if (!index) {
                index = static_cast<std::uint32_t>(artists.size());
                byName.add(*name, hash, *index);
                Artist& a = s.artists.emplace_back();
                a.snapshot_ = &s;
                a.name_ = std::string(*name);
                if (const Text sort = item.readText(TrackKey::sortArtist)) a.sortName_ = std::string(*sort);
                a.id_ = stableId("artist", {text::utf16FromUtf8(*name)});
                artists.push_back(&a);
            }
            item.artist_ = artists[*index];
        }
    }

    // One album per title, album artist (or artist), compilation flag and disc number, shared by
    // its tracks; the first track gives the album's other values.
    void shareAlbums() {
        Snapshot& s = *b_.snapshot;
        TextIndex byIdentity;
        std::vector<Album*> albums;
        std::deque<std::string> identities;  // of each album, for the index
        std::string identity;  // one buffer for every track: only a new album's is copied
        for (Object* object : s.allItems.list) {
            auto& item = *static_cast<MediaItem*>(object);
            const Text title = item.readText(TrackKey::album);
            if (!title) continue;
            const Text albumArtist = item.readText(TrackKey::albumArtist);
            const std::string_view who = albumArtist ? *albumArtist : item.readText(TrackKey::artist).value_or("");
            const bool compilation = item.readFlag(TrackKey::compilation);
            const std::int64_t disc = item.readInteger(TrackKey::discNumber);
            const std::string discText = std::to_string(disc);
            identity.assign(*title);
            identity.push_back('\0');
            identity += who;
            identity.push_back('\0');
            identity.push_back(compilation ? '1' : '0');
            identity.push_back('\0');
            identity += discText;
            const std::uint64_t hash = TextIndex::hashOf(identity);
            std::optional<std::uint32_t> index = byIdentity.find(identity, hash);
            if (!index) {
                index = static_cast<std::uint32_t>(albums.size());
                byIdentity.add(identities.emplace_back(identity), hash, *index);
                Album& a = s.albums.emplace_back();
                a.snapshot_ = &s;
                auto copy = [](Text t) { return t ? std::optional<std::string>(*t) : std::nullopt; };
                a.title_ = std::string(*title);
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
                // The same IDs as names hashed as UTF-16 have always given.
                const std::u16string discUnits(discText.begin(), discText.end());
                a.id_ = stableId("album", {text::utf16FromUtf8(*title), text::utf16FromUtf8(who), compilation ? u"1" : u"0",
                                           discUnits});
                albums.push_back(&a);
            }
            item.album_ = albums[*index];
        }
    }

    // The position of the first item with each persistent ID, so that finding an item by its
    // ID needs no search, and the IDs in list order.
    void indexPersistentIds() {
        Snapshot& s = *b_.snapshot;
        s.itemIds.reserve(s.allItems.list.size());
        for (const Object* item : s.allItems.list) s.itemIds.push_back(static_cast<const MediaItem*>(item)->persistentId_);
        s.positionsById.index(s.itemIds);
    }

    // Every playlist in file order forms the list of all playlists; its members are the tracks
    // its items name: by their key in "Tracks" (what exporters write), else by their inner
    // "Track ID". Names of unknown tracks are passed over, with one log line per playlist that
    // has any.
    void resolvePlaylists() {
        Snapshot& s = *b_.snapshot;
        // Made at the first item that no track key names: files whose playlists name tracks by
        // their keys, as exporters write them, never pay for it.
        std::unordered_map<std::int64_t, MediaItem*> byInnerId;
        bool innerIndexed = false;
        auto trackNamed = [&](std::int64_t id) -> MediaItem* {
            if (const auto it = trackByKey_.find(id); it != trackByKey_.end()) return &s.items[it->second];
            if (!innerIndexed) {
                innerIndexed = true;
                byInnerId.reserve(b_.innerTrackIds.size());
                for (const auto& [inner, index] : b_.innerTrackIds) {
                    if (!b_.droppedItems[index]) byInnerId[inner] = &s.items[index];  // the last one wins
                }
            }
            if (const auto it = byInnerId.find(id); it != byInnerId.end()) return it->second;
            return nullptr;
        };
        for (std::size_t p = 0; p < s.playlists.size(); ++p) {
            if (b_.droppedPlaylists[p]) continue;
            Playlist& playlist = s.playlists[p];
            s.allPlaylists.list.push_back(&playlist);
            if (!playlist.hasItems_) continue;
            SnapshotArray& members = s.playlistItems[playlist.itemsIndex_];
            std::size_t unknown = 0;
            for (std::int64_t trackId : b_.pendingItems[playlist.itemsIndex_]) {
                if (MediaItem* item = trackNamed(trackId)) members.list.push_back(item);
                else ++unknown;
            }
            if (unknown > 0) {
                logFormat("Playlist \"%s\": %zu of its items name tracks that the library does not have; they are left out.",
                          playlist.name_.value_or("").c_str(), unknown);
            }
        }
    }

    BuiltCatalogue b_;
    std::unordered_map<std::int64_t, std::size_t> trackByKey_;  // track ID -> item index
    std::map<std::int64_t, std::size_t> repeatedTrackKeys_;     // ID -> times repeated
};

SnapshotRef linkCatalogue(BuiltCatalogue built) {
    return CatalogueLinker(std::move(built)).link();
}

}  // namespace kestrane::musiclibrary
