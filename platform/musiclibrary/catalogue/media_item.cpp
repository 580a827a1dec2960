#include "media_item.h"

#include <cmath>
#include <string>

#include "snapshot_store.h"
#include "values.h"

namespace kestrane::musiclibrary {

namespace {

// A whole number of the field: integers and booleans as they are (an unsigned value beyond the
// signed range held to its largest value), reals truncated toward zero and held to the range.
Integer integerOf(const Field* f) {
    if (f == nullptr) return 0;
    if (f->type == FieldType::integer || f->type == FieldType::boolean) return f->integer();
    if (f->type == FieldType::real) {
        const double d = f->real();
        if (std::isnan(d)) return 0;
        if (d >= 9223372036854775807.0) return INT64_MAX;
        if (d <= -9223372036854775808.0) return INT64_MIN;
        return static_cast<Integer>(d);
    }
    return 0;
}

}  // namespace

const Field* MediaItem::field(std::uint32_t key) const {
    if (key < kKnownKeyCount) {
        const std::uint8_t slot = slots_[key];
        if (slot == 0) return nullptr;
        if (slot != kFarSlot) return &snapshot_->fields[firstField_ + slot - 1];
    }
    return snapshot_->find(key, firstField_, fieldCount_);
}

Text MediaItem::readText(TrackKey key) const { return snapshot_->text(field(keyNumber(key))); }
Integer MediaItem::readInteger(TrackKey key) const { return integerOf(field(keyNumber(key))); }
Flag MediaItem::readFlag(TrackKey key) const { return integerOf(field(keyNumber(key))) != 0; }

Date MediaItem::readDate(TrackKey key) const {
    const Field* f = field(keyNumber(key));
    if (f == nullptr || f->type != FieldType::date) return std::nullopt;
    return f->real();
}

Artwork* MediaItem::artwork() const {
    const Text at = location();
    return snapshot_->artworks.of(this, at ? std::optional<std::string>(*at) : std::nullopt);
}

// ---- derived properties: the platform's codes from the track's flags and texts ------------

Flag MediaItem::hasArtworkAvailable() const {
    return readInteger(TrackKey::artworkCount) > 0;
}

Flag MediaItem::isCloud() const {
    if (readFlag(TrackKey::appleMusic) || readFlag(TrackKey::matched) || readFlag(TrackKey::playlistOnly)) return true;
    const Text type = readText(TrackKey::trackType);
    return type && *type == "Remote";
}

Integer MediaItem::mediaKind() const {
    if (readFlag(TrackKey::podcast)) return codes::podcast;
    if (readFlag(TrackKey::movie)) return codes::movie;
    if (readFlag(TrackKey::musicVideo)) return codes::musicVideo;
    if (readFlag(TrackKey::tvShow)) return codes::tvShow;
    if (readFlag(TrackKey::audiobook)) return codes::audiobook;
    const std::string_view kindText = kind().value_or("");
    auto has = [kindText](std::string_view word) { return kindText.find(word) != std::string_view::npos; };
    if (has("PDF")) return codes::pdfBooklet;
    if (has("Ringtone")) return codes::ringtone;
    if (has("Alert Tone")) return codes::alertTone;
    if (has("Voice Memo")) return codes::voiceMemo;
    if (has("iTunes U")) return codes::iTunesU;
    if (has("Digital Booklet") || has("digital booklet")) return codes::digitalBooklet;
    if (has("iTunes LP") || has("iTunes Extras")) return codes::interactiveBooklet;
    if (has("app")) return codes::iosApplication;
    if (has("Book") || has("book")) return codes::book;
    if (isVideo()) return codes::homeVideo;
    return codes::song;
}

Integer MediaItem::lyricsContentRating() const {
    if (readFlag(TrackKey::explicitLyrics)) return codes::explicitLyrics;
    if (readFlag(TrackKey::clean)) return codes::clean;
    return codes::none;
}

Text MediaItem::location() const {
    // Where the item is on this machine when the library came from another one.
    if (const auto local = snapshot_->localLocations.find(this); local != snapshot_->localLocations.end()) return Text(local->second);
    return readText(TrackKey::location);
}

Integer MediaItem::locationType() const {
    const Text type = readText(TrackKey::trackType);
    if (!type) return codes::unknownLocation;
    if (*type == "File") return codes::file;
    if (*type == "URL") return codes::url;
    if (*type == "Remote") return codes::remote;
    return codes::unknownLocation;
}

Integer MediaItem::playStatus() const {
    if (readFlag(TrackKey::unplayed)) return codes::unplayed;
    if (readInteger(TrackKey::bookmark) > 0) return codes::partiallyPlayed;
    return codes::noStatus;
}

// ---- any value by key --------------------------------------------------------------------------

std::optional<std::string> MediaItem::valueForProperty(std::string_view key) const {
    const auto number = snapshot_->keyNumber(key);
    if (!number) return std::nullopt;
    const Field* f = field(*number);
    if (f == nullptr) return std::nullopt;
    switch (f->type) {
        case FieldType::string: return std::string(snapshot_->pool.view(f->ref()));
        case FieldType::integer: return formatInteger(WholeNumber{f->bits(), f->isUnsigned()});
        case FieldType::boolean: return std::string(f->integer() != 0 ? "1" : "0");
        case FieldType::real: return formatReal(f->real());
        case FieldType::date: return formatDate(f->real());
        case FieldType::data: return formatData(snapshot_->pool.view(f->ref()));
        case FieldType::array: return std::string("(array)");
        case FieldType::dict: return std::string("{dictionary}");
    }
    return std::nullopt;
}

}  // namespace kestrane::musiclibrary
