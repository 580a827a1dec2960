// Media files for tests, made here rather than shipped: short tones encoded by GStreamer, with
// pictures attached by TagLib.
#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace kestrane::test {

// A short tone encoded into path by the GStreamer elements of encoder, e.g. "lamemp3enc",
// "flacenc", "vorbisenc ! oggmux"; source describes the tone's elements. False when an
// element is missing or the pipeline fails.
bool encodeTone(const std::filesystem::path& path, const std::string& encoder,
                const std::string& source = "audiotestsrc num-buffers=12");

// The length in seconds of the audio that GStreamer decodes from the file at path (decodebin,
// every sample counted); a negative number when it cannot be decoded.
double decodedSeconds(const std::filesystem::path& path);

// Writes an uncompressed AIFF file of 16-bit mono samples (a tone) by hand: GStreamer reads
// AIFF but has no muxer for it.
bool writeAiff(const std::filesystem::path& path, int sampleRate, long frames);

// Attaches a picture to the media file at path in the way its kind keeps pictures (chosen by
// its extension: .mp3, .flac, .ogg, .opus, .m4a). frontCover marks it as the front cover where
// the kind can say so. False when the kind is not one of these or TagLib cannot save.
bool attachPicture(const std::filesystem::path& path, const std::string& image, bool frontCover = true);

// Writes tags (TagLib property names: "TITLE", "ALBUMARTIST", "TRACKNUMBER" = "3/12", ...)
// into the media file at path. False when TagLib cannot open or save it.
bool writeTags(const std::filesystem::path& path, const std::map<std::string, std::string>& tags);

// Adds an ID3v2 popularimeter (rating 0-255, play counter) to the MP3 file at path.
bool writePopularimeter(const std::filesystem::path& path, int rating, unsigned counter);

// Small images with the signatures of their formats (the decoders never see them).
std::string tinyPng();
std::string tinyJpeg();

}  // namespace kestrane::test
