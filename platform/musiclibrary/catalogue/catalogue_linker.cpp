#include "catalogue_linker.h"

#include <map>
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
        std::unordered_map<std::string_view, Artist*> byName;
        for (Object* object : s.allItems.list) {
            auto& item = *static_cast<MediaItem*>(object);
            const Text name = item.readText(TrackKey::artist);
            if (!name) continue;
            auto [it, fresh] = byName.try_emplace(*name, nullptr);
            if (fresh) {
                Artist& a = s.artists.emplace_back();
                a.snapshot_ = &s;
                a.name_ = std::string(*name);
                if (const Text sort = item.readText(TrackKey::sortArtist)) a.sortName_ = std::string(*sort);
                a.id_ = stableId("artist", {text::utf16FromUtf8(*name)});
                it->second = &a;
            }
            item.artist_ = it->second;
        }
    }

    // One album per title, album artist (or artist), compilation flag and disc number, shared by
    // its tracks; the first track gives the album's other values.
    void shareAlbums() {
        Snapshot& s = *b_.snapshot;
        std::unordered_map<std::string, Album*> byIdentity;
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
            auto [it, fresh] = byIdentity.try_emplace(identity, nullptr);
            if (fresh) {
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
                it->second = &a;
            }
            item.album_ = it->second;
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
