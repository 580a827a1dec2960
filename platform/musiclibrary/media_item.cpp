#include "media_item.h"

#include <string>

#include "snapshot.h"
#include "values.h"

namespace kestrane::musiclibrary {

namespace {

std::u16string ascii(std::string_view text) {
    return std::u16string(text.begin(), text.end());
}

Integer integerOf(const Field* f) {
    if (f == nullptr) return 0;
    if (f->type == FieldType::integer || f->type == FieldType::boolean) return f->i;
    if (f->type == FieldType::real) return static_cast<Integer>(f->d);
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
    return f->d;
}

Artwork* MediaItem::artwork() const {
    return snapshot_->artworks.of(*this);
}

// ---- derived properties: the platform's codes from the track's flags and texts ------------

Flag MediaItem::hasArtworkAvailable() const {
    return readInteger(TrackKey::artworkCount) > 0;
}

Flag MediaItem::isCloud() const {
    if (readFlag(TrackKey::appleMusic) || readFlag(TrackKey::matched) || readFlag(TrackKey::playlistOnly)) return true;
    const Text type = readText(TrackKey::trackType);
    return type && *type == u"Remote";
}

Integer MediaItem::mediaKind() const {
    if (readFlag(TrackKey::podcast)) return codes::podcast;
    if (readFlag(TrackKey::movie)) return codes::movie;
    if (readFlag(TrackKey::musicVideo)) return codes::musicVideo;
    if (readFlag(TrackKey::tvShow)) return codes::tvShow;
    if (readFlag(TrackKey::audiobook)) return codes::audiobook;
    const std::u16string_view kindText = kind().value_or(u"");
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

Integer MediaItem::lyricsContentRating() const {
    if (readFlag(TrackKey::explicitLyrics)) return codes::explicitLyrics;
    if (readFlag(TrackKey::clean)) return codes::clean;
    return codes::none;
}

Integer MediaItem::locationType() const {
    const Text type = readText(TrackKey::trackType);
    if (!type) return codes::unknownLocation;
    if (*type == u"File") return codes::file;
    if (*type == u"URL") return codes::url;
    if (*type == u"Remote") return codes::remote;
    return codes::unknownLocation;
}

Integer MediaItem::playStatus() const {
    if (readFlag(TrackKey::unplayed)) return codes::unplayed;
    if (readInteger(TrackKey::bookmark) > 0) return codes::partiallyPlayed;
    return codes::noStatus;
}

// ---- any value by key --------------------------------------------------------------------------

std::optional<std::u16string> MediaItem::valueForProperty(std::string_view key) const {
    const auto number = snapshot_->keyNumber(key);
    if (!number) return std::nullopt;
    const Field* f = field(*number);
    if (f == nullptr) return std::nullopt;
    switch (f->type) {
        case FieldType::string: return std::u16string(snapshot_->pool.view(f->ref, f->length));
        case FieldType::integer: return ascii(std::to_string(f->i));
        case FieldType::boolean: return ascii(f->i != 0 ? "1" : "0");
        case FieldType::real: return formatReal(f->d);
        case FieldType::date: return formatDate(f->d);
        case FieldType::data: {
            // The pool holds one byte per unit.
            const std::u16string_view units = snapshot_->pool.view(f->ref, f->length);
            std::string bytes(units.size(), '\0');
            for (std::size_t i = 0; i < units.size(); ++i) bytes[i] = static_cast<char>(units[i] & 0xFF);
            return formatData(bytes);
        }
        case FieldType::array: return ascii("(array)");
        case FieldType::dict: return ascii("{dictionary}");
    }
    return std::nullopt;
}

}  // namespace kestrane::musiclibrary
