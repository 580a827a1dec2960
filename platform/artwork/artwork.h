// Pictures embedded in media files (cover art), read with TagLib: ID3v2 attached pictures
// (MP3, AIFF, WAV, TrueAudio), FLAC pictures, Vorbis/Opus/Speex/Ogg-FLAC pictures, MP4 cover
// art, APE cover items (Monkey's Audio, WavPack, Musepack) and ASF pictures. The bytes are the
// encoded image as the file holds it; the format comes from the image's leading bytes.
//
// Where a track's file holds no picture, players on Linux show the cover that sits beside it
// in its folder: the first of cover, folder, front, album, albumart (any case) with the
// extension .jpg, .jpeg, .png or .webp (in that order of preference).
//
// Files are opened without blocking and only when regular (a FIFO put where a file was is
// not waited on), and read with bounded reads.
//
// Reading never throws and never crashes on a damaged file: what cannot be read gives no
// picture. Calls on different files may run on several threads at once.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace TagLib {
class File;
}

namespace kestrane::artwork {

// Image formats, by the platform's codes.
// WebP, which the platform's list lacks, takes the next code.
enum Format : int { none = 0, bitmap = 1, jpeg = 2, jpeg2000 = 3, gif = 4, png = 5, bmp = 6, tiff = 7, pict = 8, webp = 9 };

struct Picture {
    std::string data;  // the encoded image
    int format = none;
};

// The format of encoded image bytes from their leading bytes; none when no known format's
// signature starts them.
int formatOf(std::string_view bytes);

// The picture embedded in the media file at path: the front cover when the file marks one,
// else its first picture. None when the file is missing, unreadable, of a kind TagLib does
// not read, damaged, or holds no picture.
std::optional<Picture> embeddedPicture(const std::string& path);

// The same for a file named by a file:// URL of this machine (url.h); none for any other text,
// a URL of another host included.
std::optional<Picture> embeddedPictureOfUrl(const std::string& fileUrl);

// Whether a file name is that of a folder cover, and its rank: lower ranks are preferred.
std::optional<int> folderCoverRank(std::string_view name);

// The folder cover of folder: the path of its best-ranked cover file, or none (one listing
// of the folder).
std::optional<std::string> folderCoverPath(const std::string& folder);

// The picture of the folder's cover file; none when it has none, the file cannot be read, or
// it is larger than kMaxCoverBytes. The format comes from its bytes, not its name.
std::optional<Picture> folderCover(const std::string& folder);
constexpr std::size_t kMaxCoverBytes = 32 * 1024 * 1024;

// The picture of a media file named by a file:// URL of this machine: the embedded one, else
// the cover of its folder.
std::optional<Picture> pictureOfUrl(const std::string& fileUrl);

// How many pictures a file opened by TagLib holds, in the places the picture above is looked
// for (transfer none; the file stays the caller's).
int pictureCount(TagLib::File* file);

}  // namespace kestrane::artwork
