#include <glib.h>
#include <glib/gstdio.h>

#include <charconv>

#include "artwork.h"
#include "audio_tags.h"
#include "glib_ptr.h"
#include "mpris.h"
#include "url.h"

namespace kestrane::mpris {

namespace {

const char* extensionOf(int format) {
    switch (format) {
        case artwork::jpeg: return ".jpg";
        case artwork::png: return ".png";
        case artwork::gif: return ".gif";
        case artwork::webp: return ".webp";
        case artwork::bmp: return ".bmp";
        case artwork::tiff: return ".tiff";
        default: return nullptr;  // nothing a desktop would show
    }
}

// The cover's file in folder, written unless a file of the same bytes is there already; none
// when it cannot be written. The name is the digest of the bytes: the same cover of a whole
// album is one file, and a file of that name never needs to be written again.
std::optional<std::string> coverFile(const artwork::Picture& picture, const std::string& folder) {
    const char* extension = extensionOf(picture.format);
    if (extension == nullptr || folder.empty()) return std::nullopt;
    const glib::CharPtr digest(g_compute_checksum_for_data(G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(picture.data.data()),
                                                           picture.data.size()));
    const std::string path = folder + "/" + digest.get() + extension;
    if (g_file_test(path.c_str(), G_FILE_TEST_IS_REGULAR)) return path;
    if (g_mkdir_with_parents(folder.c_str(), 0700) != 0) return std::nullopt;
    // Written under another name and renamed, so that a reader never sees half a picture.
    GError* raw = nullptr;
    const bool written = g_file_set_contents_full(path.c_str(), picture.data.data(), static_cast<gssize>(picture.data.size()),
                                                  G_FILE_SET_CONTENTS_CONSISTENT, 0600, &raw) != FALSE;
    const glib::ErrorPtr error(raw);
    if (!written) return std::nullopt;
    return path;
}

}  // namespace

TrackInfo trackInfoOf(const std::string& url, const std::string& coverFolder) {
    TrackInfo info;
    const std::optional<std::string> path = url::localPathOfFileUrl(url);
    if (!path) return info;
    if (Expected<musiclibrary::TrackValues> values = musiclibrary::readAudioFile(*path)) {
        for (const musiclibrary::TrackValue& value : *values) {
            if (value.text.empty()) continue;
            if (value.key == "Name") info.title = value.text;
            if (value.key == "Album") info.album = value.text;
            if (value.key == "Artist") info.artists = {value.text};
            if (value.key == "Album Artist") info.albumArtists = {value.text};
            if (value.key == "Track Number") {
                int number = 0;
                const char* end = value.text.data() + value.text.size();
                if (std::from_chars(value.text.data(), end, number).ptr == end) info.trackNumber = number;
            }
        }
    }
    if (std::optional<artwork::Picture> picture = artwork::pictureOfUrl(url)) {
        if (std::optional<std::string> file = coverFile(*picture, coverFolder)) info.artUrl = url::fileUrlOf(*file);
    }
    return info;
}

}  // namespace kestrane::mpris
