#include "library.h"

#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <unistd.h>
#include <unordered_map>

#include "folders.h"
#include "plist_scanner.h"
#include "utf.h"

namespace kestrane::musiclibrary {

namespace {

// ---- keys of a track's dictionary -----------------------------------------------------------

enum Key : std::uint32_t {
    kName, kSortName, kArtist, kSortArtist, kAlbumArtist, kSortAlbumArtist, kAlbum, kSortAlbum, kComposer,
    kSortComposer, kGenre, kKind, kSize, kTotalTime, kStartTime, kStopTime, kDiscNumber, kDiscCount, kTrackNumber,
    kTrackCount, kYear, kBPM, kDateModified, kDateAdded, kBitRate, kSampleRate, kVolumeAdjustment, kPlayCount,
    kPlayDateUTC, kSkipCount, kSkipDate, kReleaseDate, kRating, kRatingComputed, kAlbumRating, kAlbumRatingComputed,
    kCompilation, kPartOfGaplessAlbum, kArtworkCount, kPersistentID, kTrackType, kLocation, kComments, kGrouping,
    kCategory, kDescription, kContentRating, kPurchased, kProtected, kHasVideo, kMovie, kMusicVideo, kTVShow,
    kPodcast, kAudiobook, kExplicit, kClean, kDisabled, kAppleMusic, kMatched, kPlaylistOnly, kUnplayed, kBookmark,
    kNormalization, kTrackID, kKnownKeys
};

constexpr const char* kKeyNames[kKnownKeys] = {
    "Name", "Sort Name", "Artist", "Sort Artist", "Album Artist", "Sort Album Artist", "Album", "Sort Album",
    "Composer", "Sort Composer", "Genre", "Kind", "Size", "Total Time", "Start Time", "Stop Time", "Disc Number",
    "Disc Count", "Track Number", "Track Count", "Year", "BPM", "Date Modified", "Date Added", "Bit Rate",
    "Sample Rate", "Volume Adjustment", "Play Count", "Play Date UTC", "Skip Count", "Skip Date", "Release Date",
    "Rating", "Rating Computed", "Album Rating", "Album Rating Computed", "Compilation", "Part Of Gapless Album",
    "Artwork Count", "Persistent ID", "Track Type", "Location", "Comments", "Grouping", "Category", "Description",
    "Content Rating", "Purchased", "Protected", "Has Video", "Movie", "Music Video", "TV Show", "Podcast",
    "Audiobook", "Explicit", "Clean", "Disabled", "Apple Music", "Matched", "Playlist Only", "Unplayed", "Bookmark",
    "Normalization", "Track ID"};

}  // namespace

enum class FieldType : std::uint8_t { string, integer, real, date, boolean, data, array, dict };

// One value of a track. Strings and data live in the snapshot's string pool.
struct Field {
    std::uint32_t key;
    std::uint32_t length;  // units of a pooled string
    FieldType type;
    union {
        std::int64_t i;
        double d;
        std::uint64_t ref;  // pool position
    };
};

namespace {

// Storage that grows in fixed chunks: no reallocation copies the whole (and so no moment
// holds twice the memory), and element addresses never change.
template <class T, std::size_t ChunkSize>
class ChunkedStore {
public:
    std::size_t size() const { return size_; }
    T& push_back(const T& value) {
        if (chunks_.empty() || chunks_.back().size() == ChunkSize) {
            chunks_.emplace_back();
            chunks_.back().reserve(ChunkSize);
        }
        ++size_;
        return chunks_.back().emplace_back(value);
    }
    const T& operator[](std::size_t i) const { return chunks_[i / ChunkSize][i % ChunkSize]; }

private:
    std::vector<std::vector<T>> chunks_;
    std::size_t size_ = 0;
};

// UTF-16 text in large chunks; a position packs the chunk and the offset.
class StringPool {
public:
    std::uint64_t add(std::u16string_view s) {
        if (chunks_.empty() || chunks_.back().capacity() - chunks_.back().size() < s.size()) {
            chunks_.emplace_back();
            chunks_.back().reserve(std::max<std::size_t>(kChunk, s.size()));
        }
        auto& chunk = chunks_.back();
        const std::uint64_t ref = (static_cast<std::uint64_t>(chunks_.size() - 1) << 32) | chunk.size();
        chunk.insert(chunk.end(), s.begin(), s.end());
        return ref;
    }
    std::u16string_view view(std::uint64_t ref, std::uint32_t length) const {
        const auto& chunk = chunks_[ref >> 32];
        return std::u16string_view(chunk.data() + (ref & 0xFFFFFFFFu), length);
    }

private:
    static constexpr std::size_t kChunk = 1 << 20;
    std::vector<std::vector<char16_t>> chunks_;
};

struct StringHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
};
using KeyMap = std::unordered_map<std::string, std::uint32_t, StringHash, std::equal_to<>>;

const KeyMap& knownKeys() {
    static const KeyMap keys = [] {
        KeyMap m;
        for (std::uint32_t k = 0; k < kKnownKeys; ++k) m.emplace(kKeyNames[k], k);
        return m;
    }();
    return keys;
}

std::u16string utf16Ascii(std::string_view ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// "YYYY-MM-DDTHH:MM:SSZ" (seconds may carry a fraction) as seconds since 1970.
std::optional<double> parseDate(std::string_view t) {
    while (!t.empty() && (t.front() == ' ' || t.front() == '\n' || t.front() == '\t' || t.front() == '\r')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\n' || t.back() == '\t' || t.back() == '\r')) t.remove_suffix(1);
    // The usual form has a fixed layout: read it without the C library's scanner.
    auto digits = [&t](std::size_t at, std::size_t n, int& out) {
        out = 0;
        for (std::size_t i = at; i < at + n; ++i) {
            if (i >= t.size() || t[i] < '0' || t[i] > '9') return false;
            out = out * 10 + (t[i] - '0');
        }
        return true;
    };
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, whole = 0;
    double second = 0;
    if (t.size() == 20 && t[4] == '-' && t[7] == '-' && t[10] == 'T' && t[13] == ':' && t[16] == ':' && t[19] == 'Z' &&
        digits(0, 4, year) && digits(5, 2, month) && digits(8, 2, day) && digits(11, 2, hour) && digits(14, 2, minute) &&
        digits(17, 2, whole)) {
        second = whole;
    } else {
        const std::string s(t);
        char zone = 0;
        if (std::sscanf(s.c_str(), "%d-%d-%dT%d:%d:%lf%c", &year, &month, &day, &hour, &minute, &second, &zone) != 7 ||
            zone != 'Z') {
            return std::nullopt;
        }
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        !(second >= 0 && second < 61) || year < -100000 || year > 100000) {
        return std::nullopt;
    }
    return static_cast<double>(daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day))) * 86400.0 +
           hour * 3600.0 + minute * 60.0 + second;
}

std::optional<std::uint64_t> parseHexId(std::u16string_view s) {
    if (s.empty() || s.size() > 16) return std::nullopt;
    std::uint64_t v = 0;
    for (char16_t c : s) {
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else return std::nullopt;
        v = (v << 4) | static_cast<std::uint64_t>(digit);
    }
    return v;
}

// A stable 64-bit ID from a kind and the names that identify an object (FNV-1a over UTF-16).
std::uint64_t stableId(std::string_view kind, std::initializer_list<std::u16string_view> parts) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    auto mix = [&h](std::uint64_t byte) {
        h ^= byte;
        h *= 0x100000001b3ull;
    };
    for (char c : kind) mix(static_cast<unsigned char>(c));
    for (std::u16string_view p : parts) {
        mix(0xFF);
        for (char16_t c : p) {
            mix(c & 0xFF);
            mix(c >> 8);
        }
    }
    return h == 0 ? 1 : h;
}

std::u16string formatDate(double seconds) {
    const auto whole = static_cast<std::int64_t>(std::floor(seconds));
    std::int64_t days = whole >= 0 ? whole / 86400 : -((-whole + 86399) / 86400);
    std::int64_t rest = whole - days * 86400;
    // civil from days
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
    char text[64];
    std::snprintf(text, sizeof text, "%04" PRId64 "-%02u-%02u %02d:%02d:%02d +0000", y, m, d, static_cast<int>(rest / 3600),
                  static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60));
    return utf16Ascii(text);
}

}  // namespace

// ---- the snapshot ---------------------------------------------------------------------------

// A list owned by a snapshot: references to it are references to the snapshot.
class SnapshotArray final : public Array {
public:
    const Snapshot* snapshot = nullptr;
    std::vector<Object*> elements;
    void retain() const override;
    void release() const override;
    std::size_t size() const override { return elements.size(); }
    Object* at(std::size_t index) const override { return elements[index]; }
};

class Snapshot {
public:
    mutable std::atomic<long> refs{1};
    ChunkedStore<Field, 65536> fields;
    StringPool pool;
    std::deque<MediaItem> items;
    std::deque<Playlist> playlists;
    std::deque<Album> albums;
    std::deque<Artist> artists;
    std::deque<SnapshotArray> playlistItems;
    SnapshotArray allItems, allPlaylists;
    KeyMap dynamicKeys;  // beyond the known keys
    std::optional<std::u16string> applicationVersion, musicFolder;
    bool showContentRating = false;

    void retain() const { refs.fetch_add(1, std::memory_order_relaxed); }
    void release() const {
        if (refs.fetch_sub(1, std::memory_order_acq_rel) == 1) std::unique_ptr<const Snapshot> last(this);
    }

    std::optional<std::uint32_t> keyId(std::string_view name) const {
        if (auto it = knownKeys().find(name); it != knownKeys().end()) return it->second;
        if (auto it = dynamicKeys.find(name); it != dynamicKeys.end()) return it->second;
        return std::nullopt;
    }

    const Field* find(std::uint32_t key, std::size_t first, std::uint32_t count) const {
        for (std::size_t i = first; i < first + count; ++i) {
            const Field& f = fields[i];
            if (f.key == key) return &f;
        }
        return nullptr;
    }
};

void SnapshotArray::retain() const { snapshot->retain(); }
void SnapshotArray::release() const { snapshot->release(); }

void releaseSnapshot(const Snapshot* snapshot) {
    if (snapshot != nullptr) snapshot->release();
}
Array* snapshotItems(const Snapshot* snapshot) { return const_cast<SnapshotArray*>(&snapshot->allItems); }
Array* snapshotPlaylists(const Snapshot* snapshot) { return const_cast<SnapshotArray*>(&snapshot->allPlaylists); }

// ---- the thread's release scope ---------------------------------------------------------------

namespace {

class ReleaseScope {
public:
    ~ReleaseScope() {
        if (held_ != nullptr) held_->release();
    }
    void hold(Object* object) {
        if (object == held_) return;
        if (object != nullptr) object->retain();
        if (held_ != nullptr) held_->release();
        held_ = object;
    }

private:
    Object* held_ = nullptr;
};

}  // namespace

Object* handOut(Object* object) {
    thread_local ReleaseScope scope;
    scope.hold(object);
    return object;
}

// ---- media items --------------------------------------------------------------------------------

void MediaItem::retain() const { snapshot_->retain(); }
void MediaItem::release() const { snapshot_->release(); }
void Album::retain() const { snapshot_->retain(); }
void Album::release() const { snapshot_->release(); }
void Artist::retain() const { snapshot_->retain(); }
void Artist::release() const { snapshot_->release(); }
void Playlist::retain() const { snapshot_->retain(); }
void Playlist::release() const { snapshot_->release(); }

const Field* MediaItem::field(std::uint32_t key) const {
    return snapshot_->find(key, firstField_, fieldCount_);
}

namespace {
Text textOf(const Snapshot* s, const Field* f) {
    if (f == nullptr || f->type != FieldType::string) return std::nullopt;
    return s->pool.view(f->ref, f->length);
}
std::int64_t integerOf(const Field* f) {
    if (f == nullptr) return 0;
    if (f->type == FieldType::integer) return f->i;
    if (f->type == FieldType::boolean) return f->i;
    if (f->type == FieldType::real) return static_cast<std::int64_t>(f->d);
    return 0;
}
bool flagOf(const Field* f) { return integerOf(f) != 0; }
std::optional<double> dateOf(const Field* f) {
    if (f == nullptr || f->type != FieldType::date) return std::nullopt;
    return f->d;
}
}  // namespace

Text MediaItem::title() const { return textOf(snapshot_, field(kName)); }
Text MediaItem::sortTitle() const { return textOf(snapshot_, field(kSortName)); }
Text MediaItem::composer() const { return textOf(snapshot_, field(kComposer)); }
Text MediaItem::sortComposer() const { return textOf(snapshot_, field(kSortComposer)); }
Text MediaItem::genre() const { return textOf(snapshot_, field(kGenre)); }
Text MediaItem::kind() const { return textOf(snapshot_, field(kKind)); }
Text MediaItem::category() const { return textOf(snapshot_, field(kCategory)); }
Text MediaItem::description() const { return textOf(snapshot_, field(kDescription)); }
Text MediaItem::contentRating() const { return textOf(snapshot_, field(kContentRating)); }
Text MediaItem::comments() const { return textOf(snapshot_, field(kComments)); }
Text MediaItem::grouping() const { return textOf(snapshot_, field(kGrouping)); }
Text MediaItem::location() const { return textOf(snapshot_, field(kLocation)); }
std::int64_t MediaItem::rating() const { return integerOf(field(kRating)); }
bool MediaItem::isRatingComputed() const { return flagOf(field(kRatingComputed)); }
std::int64_t MediaItem::startTime() const { return integerOf(field(kStartTime)); }
std::int64_t MediaItem::stopTime() const { return integerOf(field(kStopTime)); }
std::int64_t MediaItem::totalTime() const { return integerOf(field(kTotalTime)); }
std::int64_t MediaItem::trackNumber() const { return integerOf(field(kTrackNumber)); }
std::int64_t MediaItem::bitrate() const { return integerOf(field(kBitRate)); }
std::int64_t MediaItem::sampleRate() const { return integerOf(field(kSampleRate)); }
std::int64_t MediaItem::beatsPerMinute() const { return integerOf(field(kBPM)); }
std::int64_t MediaItem::playCount() const { return integerOf(field(kPlayCount)); }
std::int64_t MediaItem::year() const { return integerOf(field(kYear)); }
std::int64_t MediaItem::skipCount() const { return integerOf(field(kSkipCount)); }
std::int64_t MediaItem::volumeAdjustment() const { return integerOf(field(kVolumeAdjustment)); }
std::int64_t MediaItem::volumeNormalizationEnergy() const { return integerOf(field(kNormalization)); }
std::int64_t MediaItem::fileSize() const { return integerOf(field(kSize)); }
bool MediaItem::hasArtworkAvailable() const { return integerOf(field(kArtworkCount)) > 0; }
bool MediaItem::isPurchased() const { return flagOf(field(kPurchased)); }
bool MediaItem::isDRMProtected() const { return flagOf(field(kProtected)); }
bool MediaItem::isVideo() const { return flagOf(field(kHasVideo)); }
bool MediaItem::isUserDisabled() const { return flagOf(field(kDisabled)); }
std::optional<double> MediaItem::addedDate() const { return dateOf(field(kDateAdded)); }
std::optional<double> MediaItem::modifiedDate() const { return dateOf(field(kDateModified)); }
std::optional<double> MediaItem::lastPlayedDate() const { return dateOf(field(kPlayDateUTC)); }
std::optional<double> MediaItem::releaseDate() const { return dateOf(field(kReleaseDate)); }
std::optional<double> MediaItem::skipDate() const { return dateOf(field(kSkipDate)); }

bool MediaItem::isCloud() const {
    if (flagOf(field(kAppleMusic)) || flagOf(field(kMatched)) || flagOf(field(kPlaylistOnly))) return true;
    const Text type = textOf(snapshot_, field(kTrackType));
    return type && *type == u"Remote";
}

int MediaItem::mediaKind() const {
    if (flagOf(field(kPodcast))) return codes::podcast;
    if (flagOf(field(kMovie))) return codes::movie;
    if (flagOf(field(kMusicVideo))) return codes::musicVideo;
    if (flagOf(field(kTVShow))) return codes::tvShow;
    if (flagOf(field(kAudiobook))) return codes::audiobook;
    const Text k = kind();
    const std::u16string_view kindText = k.value_or(u"");
    auto has = [kindText](std::u16string_view word) { return kindText.find(word) != std::u16string_view::npos; };
    if (has(u"PDF")) return codes::pdfBooklet;
    if (has(u"Ringtone")) return codes::ringtone;
    if (has(u"Alert Tone")) return codes::alertTone;
    if (has(u"Voice Memo")) return codes::voiceMemo;
    if (has(u"iTunes U")) return codes::iTunesU;
    if (has(u"Digital Booklet") || has(u"digital booklet")) return codes::digitalBooklet;
    if (has(u"iTunes LP") || has(u"iTunes Extras")) return codes::interactiveBooklet;
    if (has(u"app")) return codes::iosApplication;
    if (has(u"Book") || has(u"book")) return codes::book;
    if (isVideo()) return codes::homeVideo;
    return codes::song;
}

int MediaItem::lyricsContentRating() const {
    if (flagOf(field(kExplicit))) return codes::explicitLyrics;
    if (flagOf(field(kClean))) return codes::clean;
    return codes::none;
}

int MediaItem::locationType() const {
    const Text type = textOf(snapshot_, field(kTrackType));
    if (!type) return codes::unknownLocation;
    if (*type == u"File") return codes::file;
    if (*type == u"URL") return codes::url;
    if (*type == u"Remote") return codes::remote;
    return codes::unknownLocation;
}

int MediaItem::playStatus() const {
    if (flagOf(field(kUnplayed))) return codes::unplayed;
    if (integerOf(field(kBookmark)) > 0) return codes::partiallyPlayed;
    return codes::noStatus;
}

std::optional<std::u16string> MediaItem::valueForProperty(std::string_view key) const {
    const auto id = snapshot_->keyId(key);
    if (!id) return std::nullopt;
    const Field* f = field(*id);
    if (f == nullptr) return std::nullopt;
    char text[64];
    switch (f->type) {
        case FieldType::string: return std::u16string(snapshot_->pool.view(f->ref, f->length));
        case FieldType::integer: std::snprintf(text, sizeof text, "%" PRId64, f->i); return utf16Ascii(text);
        case FieldType::boolean: return utf16Ascii(f->i != 0 ? "1" : "0");
        case FieldType::real: std::snprintf(text, sizeof text, "%.17g", f->d); return utf16Ascii(text);
        case FieldType::date: return formatDate(f->d);
        case FieldType::data: {
            // The pool holds one byte per unit; shown as <hex> like the platform's data.
            const std::u16string_view units = snapshot_->pool.view(f->ref, f->length);
            std::string hex = "<";
            static const char* digits = "0123456789abcdef";
            for (std::size_t i = 0; i < units.size(); ++i) {
                const unsigned byte = units[i] & 0xFFu;
                if (i > 0 && i % 4 == 0) hex.push_back(' ');
                hex.push_back(digits[byte >> 4]);
                hex.push_back(digits[byte & 15]);
            }
            return utf16Ascii(hex + ">");
        }
        case FieldType::array: return utf16Ascii("(array)");
        case FieldType::dict: return utf16Ascii("{dictionary}");
    }
    return std::nullopt;
}


Text Album::title() const { return title_ ? Text(*title_) : std::nullopt; }
Text Album::sortTitle() const { return sortTitle_ ? Text(*sortTitle_) : std::nullopt; }
Text Album::albumArtist() const { return albumArtist_ ? Text(*albumArtist_) : std::nullopt; }
Text Album::sortAlbumArtist() const { return sortAlbumArtist_ ? Text(*sortAlbumArtist_) : std::nullopt; }
Text Artist::name() const { return name_ ? Text(*name_) : std::nullopt; }
Text Artist::sortName() const { return sortName_ ? Text(*sortName_) : std::nullopt; }
Text Playlist::name() const { return name_ ? Text(*name_) : std::nullopt; }
Array* Playlist::items() const {
    if (!hasItems_) return nullptr;
    return const_cast<SnapshotArray*>(&snapshot_->playlistItems[itemsIndex_]);
}

// ---- loading --------------------------------------------------------------------------------

// Builds a snapshot from the scanner's events.
class LibraryLoader final : public PlistSink {
public:
    LibraryLoader() : snapshot_(std::make_unique<Snapshot>()) {
        snapshot_->allItems.snapshot = snapshot_.get();
        snapshot_->allPlaylists.snapshot = snapshot_.get();
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
        const Ctx ctx = stack_.empty() ? Ctx::top : stack_.back();
        switch (ctx) {
            case Ctx::top: return fail("the library file does not hold a dictionary");
            case Ctx::topDict: return topValue(kind, text);
            case Ctx::track: return trackValue(kind, text);
            case Ctx::playlist: return playlistValue(kind, text);
            case Ctx::playlistItem:
                if (key_ == "Track ID" && kind == ValueKind::integer) {
                    Field f{};
                    if (!integer(text, f)) return false;
                    pendingItems_.back().push_back(f.i);
                }
                return true;
            default: return true;  // values in places the catalogue does not read
        }
    }

    std::string reason() const override { return reason_; }

    // Resolves playlist members and shares albums and artists; the snapshot is then complete.
    const Snapshot* finish() {
        Snapshot& s = *snapshot_;
        std::unordered_map<std::int64_t, MediaItem*> byTrackId;
        byTrackId.reserve(s.items.size());
        std::unordered_map<std::u16string, Artist*> artists;
        std::unordered_map<std::u16string, Album*> albums;
        for (MediaItem& item : s.items) {
            s.allItems.elements.push_back(&item);
            const Field* id = s.find(kTrackID, item.firstField_, item.fieldCount_);
            if (id != nullptr && id->type == FieldType::integer) byTrackId.emplace(id->i, &item);
            const Text artistName = textOf(&s, s.find(kArtist, item.firstField_, item.fieldCount_));
            if (artistName) {
                auto [it, fresh] = artists.try_emplace(std::u16string(*artistName), nullptr);
                if (fresh) {
                    Artist& a = s.artists.emplace_back();
                    a.snapshot_ = &s;
                    a.name_ = std::u16string(*artistName);
                    if (Text sort = textOf(&s, s.find(kSortArtist, item.firstField_, item.fieldCount_))) a.sortName_ = std::u16string(*sort);
                    a.id_ = stableId("artist", {*artistName});
                    it->second = &a;
                }
                item.artist_ = it->second;
            }
            const Text albumTitle = textOf(&s, s.find(kAlbum, item.firstField_, item.fieldCount_));
            if (albumTitle) {
                const Text albumArtist = textOf(&s, s.find(kAlbumArtist, item.firstField_, item.fieldCount_));
                const std::u16string_view who = albumArtist ? *albumArtist : artistName.value_or(u"");
                const bool compilation = flagOf(s.find(kCompilation, item.firstField_, item.fieldCount_));
                const std::int64_t disc = integerOf(s.find(kDiscNumber, item.firstField_, item.fieldCount_));
                const std::u16string discText = utf16Ascii(std::to_string(disc));
                std::u16string identity(*albumTitle);
                identity.push_back(0);
                identity += who;
                identity.push_back(0);
                identity.push_back(compilation ? u'1' : u'0');
                identity.push_back(0);
                identity += discText;
                auto [it, fresh] = albums.try_emplace(identity, nullptr);
                if (fresh) {
                    Album& a = s.albums.emplace_back();
                    a.snapshot_ = &s;
                    auto text = [&](std::uint32_t k) -> std::optional<std::u16string> {
                        if (Text t = textOf(&s, s.find(k, item.firstField_, item.fieldCount_))) return std::u16string(*t);
                        return std::nullopt;
                    };
                    auto number = [&](std::uint32_t k) { return integerOf(s.find(k, item.firstField_, item.fieldCount_)); };
                    a.title_ = std::u16string(*albumTitle);
                    a.sortTitle_ = text(kSortAlbum);
                    a.albumArtist_ = text(kAlbumArtist);
                    a.sortAlbumArtist_ = text(kSortAlbumArtist);
                    a.trackCount_ = number(kTrackCount);
                    a.rating_ = number(kAlbumRating);
                    a.ratingComputed_ = number(kAlbumRatingComputed) != 0;
                    a.gapless_ = number(kPartOfGaplessAlbum) != 0;
                    a.discNumber_ = disc;
                    a.discCount_ = number(kDiscCount);
                    a.compilation_ = compilation;
                    a.id_ = stableId("album", {*albumTitle, who, compilation ? u"1" : u"0", discText});
                    it->second = &a;
                }
                item.album_ = it->second;
            }
        }
        for (std::size_t p = 0; p < s.playlists.size(); ++p) {
            Playlist& playlist = s.playlists[p];
            s.allPlaylists.elements.push_back(&playlist);
            if (!playlist.hasItems_) continue;
            SnapshotArray& members = s.playlistItems[playlist.itemsIndex_];
            for (std::int64_t trackId : pendingItems_[playlist.itemsIndex_]) {
                if (auto it = byTrackId.find(trackId); it != byTrackId.end()) members.elements.push_back(it->second);
            }
        }
        return snapshot_.release();  // the caller's reference
    }

private:
    enum class Ctx { top, topDict, tracks, track, playlists, playlist, playlistItems, playlistItem, skip };

    bool fail(std::string reason) {
        reason_ = std::move(reason);
        return false;
    }

    bool container(bool dict) {
        const Ctx ctx = stack_.empty() ? Ctx::top : stack_.back();
        switch (ctx) {
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
                addField(dict ? FieldType::dict : FieldType::array, 0, 0, 0);
                stack_.push_back(Ctx::skip);
                return true;
            case Ctx::playlists:
                if (dict) {
                    startPlaylist();
                    stack_.push_back(Ctx::playlist);
                } else {
                    stack_.push_back(Ctx::skip);
                }
                return true;
            case Ctx::playlist:
                if (!dict && key_ == "Playlist Items") {
                    Playlist& pl = snapshot_->playlists.back();
                    if (!pl.hasItems_) {
                        pl.hasItems_ = true;
                        pl.itemsIndex_ = snapshot_->playlistItems.size();
                        snapshot_->playlistItems.emplace_back().snapshot = snapshot_.get();
                        pendingItems_.emplace_back();
                    }
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

    void startTrack() {
        MediaItem& item = snapshot_->items.emplace_back();
        item.snapshot_ = snapshot_.get();
        item.firstField_ = snapshot_->fields.size();
    }

    void finishTrack() {
        MediaItem& item = snapshot_->items.back();
        item.fieldCount_ = static_cast<std::uint32_t>(snapshot_->fields.size() - item.firstField_);
        if (Text pid = textOf(snapshot_.get(), snapshot_->find(kPersistentID, item.firstField_, item.fieldCount_))) {
            item.persistentId_ = parseHexId(*pid).value_or(0);
        }
    }

    void startPlaylist() {
        Playlist& p = snapshot_->playlists.emplace_back();
        p.snapshot_ = snapshot_.get();
    }

    std::uint32_t keyIdFor(const std::string& name) {
        if (auto it = knownKeys().find(name); it != knownKeys().end()) return it->second;
        if (auto it = snapshot_->dynamicKeys.find(name); it != snapshot_->dynamicKeys.end()) return it->second;
        const auto id = static_cast<std::uint32_t>(kKnownKeys + snapshot_->dynamicKeys.size());
        snapshot_->dynamicKeys.emplace(name, id);
        return id;
    }

    void addField(FieldType type, std::int64_t i, double d, std::uint64_t ref, std::uint32_t length = 0) {
        Field f{};
        f.key = keyIdFor(key_);
        f.type = type;
        f.length = length;
        if (type == FieldType::real || type == FieldType::date) f.d = d;
        else if (type == FieldType::string || type == FieldType::data) f.ref = ref;
        else f.i = i;
        snapshot_->fields.push_back(f);
    }

    // A decimal integer; unsigned values up to 2^64 - 1 keep their bits.
    bool integer(std::string_view text, Field& out) {
        auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
        while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
        while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
        const bool negative = !text.empty() && text.front() == '-';
        std::string_view digits = text.substr(negative || (!text.empty() && text.front() == '+') ? 1 : 0);
        std::uint64_t v = 0;
        bool ok = !digits.empty() && digits.size() <= 20;
        for (char c : digits) {
            if (c < '0' || c > '9') {
                ok = false;
                break;
            }
            const std::uint64_t next = v * 10 + static_cast<std::uint64_t>(c - '0');
            if (next / 10 != v) {
                ok = false;
                break;
            }
            v = next;
        }
        if (ok && negative && v > (std::uint64_t{1} << 63)) ok = false;
        if (!ok) return fail("invalid <integer> '" + std::string(text.substr(0, 40)) + "'");
        out.i = negative ? static_cast<std::int64_t>(~v + 1) : static_cast<std::int64_t>(v);
        return true;
    }

    bool trackValue(ValueKind kind, std::string_view text) {
        switch (kind) {
            case ValueKind::string: {
                const std::u16string units = text::utf16FromUtf8(text);
                if (units.size() > UINT32_MAX) return fail("string too long");
                addField(FieldType::string, 0, 0, snapshot_->pool.add(units), static_cast<std::uint32_t>(units.size()));
                return true;
            }
            case ValueKind::integer: {
                Field f{};
                if (!integer(text, f)) return false;
                addField(FieldType::integer, f.i, 0, 0);
                return true;
            }
            case ValueKind::real: {
                const std::string s(text);
                char* end = nullptr;
                const double d = std::strtod(s.c_str(), &end);
                if (end == s.c_str()) return fail("invalid <real> '" + s.substr(0, 40) + "'");
                addField(FieldType::real, 0, d, 0);
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

    bool topValue(ValueKind kind, std::string_view text) {
        if (key_ == "Application Version" && kind == ValueKind::string) snapshot_->applicationVersion = text::utf16FromUtf8(text);
        else if (key_ == "Music Folder" && kind == ValueKind::string) snapshot_->musicFolder = text::utf16FromUtf8(text);
        else if (key_ == "Show Content Ratings" && kind == ValueKind::boolean) snapshot_->showContentRating = text == "true";
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
            Field f{};
            if (!integer(text, f)) return false;
            p.distinguishedKind_ = f.i;
        }
        return true;
    }

    static std::string decodeBase64(std::string_view text) {
        std::string out;
        unsigned buffer = 0;
        int bits = 0;
        for (char c : text) {
            int v;
            if (c >= 'A' && c <= 'Z') v = c - 'A';
            else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
            else if (c >= '0' && c <= '9') v = c - '0' + 52;
            else if (c == '+') v = 62;
            else if (c == '/') v = 63;
            else continue;  // white space and padding
            buffer = (buffer << 6) | static_cast<unsigned>(v);
            bits += 6;
            if (bits >= 8) {
                bits -= 8;
                out.push_back(static_cast<char>((buffer >> bits) & 0xFF));
            }
        }
        return out;
    }

    std::unique_ptr<Snapshot> snapshot_;
    std::vector<Ctx> stack_;
    std::string key_;
    std::deque<std::vector<std::int64_t>> pendingItems_;
    std::string reason_;
};

const Snapshot* parseSnapshot(std::string_view bytes, std::string& error) {
    LibraryLoader loader;
    const ScanResult result = scanPlist(bytes, loader);
    if (!result.ok) {
        error = result.error;
        return nullptr;
    }
    return loader.finish();
}

const Snapshot* loadSnapshot(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "Cannot read the music library file '" + path + "': " + std::strerror(errno) + ".";
        return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        error = "Cannot read the music library file '" + path + "': it is a folder.";
        return nullptr;
    }
    LibraryLoader loader;
    ByteSource source = [fd](char* buffer, std::size_t capacity) -> std::ptrdiff_t {
        for (;;) {
            const ssize_t n = ::read(fd, buffer, capacity);
            if (n < 0 && errno == EINTR) continue;
            return n;
        }
    };
    const ScanResult result = scanPlist(source, loader);
    ::close(fd);
    if (!result.ok) {
        error = "The music library file '" + path + "' is not a valid library: " + result.error + ".";
        return nullptr;
    }
    return loader.finish();
}

// ---- the library ----------------------------------------------------------------------------

std::string Library::locateFile() {
    if (const char* named = std::getenv("KESTRANE_MUSIC_LIBRARY"); named != nullptr && *named != '\0') return named;
    const auto music = folders::searchPathForDirectoriesInDomains(18, folders::kUserDomain);
    const std::string base = music.empty() ? std::string() : music.front();
    const std::string first = base + "/iTunes/iTunes Music Library.xml";
    const std::string second = base + "/iTunes/iTunes Library.xml";
    struct stat st {};
    if (stat(first.c_str(), &st) != 0 && stat(second.c_str(), &st) == 0) return second;
    return first;
}

Library* Library::open(const std::string& apiVersion, std::string& error) {
    int minor;
    if (apiVersion == "1.0") minor = 0;
    else if (apiVersion == "1.1") minor = 1;
    else {
        error = "The music library API version \"" + apiVersion + "\" is not supported; the supported versions are 1.0 and 1.1.";
        return nullptr;
    }
    const std::string path = locateFile();
    const Snapshot* first = loadSnapshot(path, error);
    if (first == nullptr) return nullptr;
    auto library = std::make_unique<Library>(Key());
    library->path_ = path;
    library->minor_ = minor;
    library->snapshot_ = first;
    return library.release();  // lives until the process ends
}

const Snapshot* Library::current() {
    {
        std::lock_guard lock(mutex_);
        if (snapshot_ != nullptr) {
            snapshot_->retain();
            return snapshot_;
        }
    }
    // Unloaded: load again. A file that cannot be read now gives an empty library.
    std::string error;
    const Snapshot* fresh = loadSnapshot(path_, error);
    if (fresh == nullptr) fresh = parseSnapshot("<plist><dict/></plist>", error);
    std::lock_guard lock(mutex_);
    if (snapshot_ == nullptr) {
        snapshot_ = fresh;
    } else {
        fresh->release();  // another thread loaded it first
    }
    snapshot_->retain();
    return snapshot_;
}

std::optional<std::u16string> Library::musicFolderLocation() {
    const Snapshot* s = current();
    std::optional<std::u16string> folder = s->musicFolder;
    s->release();
    return folder;
}

std::optional<std::u16string> Library::applicationVersion() {
    const Snapshot* s = current();
    std::optional<std::u16string> version = s->applicationVersion;
    s->release();
    return version;
}

bool Library::shouldShowContentRating() {
    const Snapshot* s = current();
    const bool show = s->showContentRating;
    s->release();
    return show;
}

bool Library::reloadData() {
    std::string error;
    const Snapshot* fresh = loadSnapshot(path_, error);
    if (fresh == nullptr) return false;
    const Snapshot* old;
    {
        std::lock_guard lock(mutex_);
        old = snapshot_;
        snapshot_ = fresh;
    }
    // Whoever still holds the old lists keeps them; they go with the last reference.
    if (old != nullptr) old->release();
    return true;
}

void Library::unloadData() {
    const Snapshot* old;
    {
        std::lock_guard lock(mutex_);
        old = snapshot_;
        snapshot_ = nullptr;
    }
    if (old != nullptr) old->release();
}

Array* Library::allMediaItems() {
    const Snapshot* s = current();
    Array* list = static_cast<Array*>(handOut(const_cast<SnapshotArray*>(&s->allItems)));
    s->release();
    return list;
}

Array* Library::allPlaylists() {
    const Snapshot* s = current();
    Array* list = static_cast<Array*>(handOut(const_cast<SnapshotArray*>(&s->allPlaylists)));
    s->release();
    return list;
}

}  // namespace kestrane::musiclibrary
