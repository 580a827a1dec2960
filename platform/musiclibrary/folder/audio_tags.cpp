#include "audio_tags.h"

#include <aifffile.h>
#include <apefile.h>
#include <asffile.h>
#include <attachedpictureframe.h>
#include <fileref.h>
#include <flacfile.h>
#include <id3v2tag.h>
#include <mp4file.h>
#include <mp4properties.h>
#include <mpcfile.h>
#include <mpegfile.h>
#include <opusfile.h>
#include <popularimeterframe.h>
#include <tpropertymap.h>
#include <vorbisfile.h>
#include <wavfile.h>
#include <wavpackfile.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include <unistd.h>

#include "artwork.h"
#include "audio_stream.h"
#include "tag_stream.h"
#include "own_tags.h"

namespace kestrane::musiclibrary {

std::atomic<std::size_t> audioFilesOpened{0};

namespace {

std::string extensionOf(const std::string& name) {
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0) return "";
    std::string ext = name.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

// A readable name of the file's format; codec is the measured stream's, where there is one.
std::string kindOf(TagLib::File* file, const std::string& codec) {
    using namespace TagLib;
    if (dynamic_cast<MPEG::File*>(file)) return "MPEG audio file";
    if (dynamic_cast<FLAC::File*>(file)) return "FLAC audio file";
    if (dynamic_cast<Ogg::Vorbis::File*>(file)) return "Ogg Vorbis audio file";
    if (dynamic_cast<Ogg::Opus::File*>(file)) return "Opus audio file";
    if (dynamic_cast<MP4::File*>(file)) return codec == "alac" ? "Apple Lossless audio file" : "AAC audio file";
    if (dynamic_cast<RIFF::WAV::File*>(file)) return "WAV audio file";
    if (dynamic_cast<RIFF::AIFF::File*>(file)) return "AIFF audio file";
    if (dynamic_cast<WavPack::File*>(file)) return "WavPack audio file";
    if (dynamic_cast<APE::File*>(file)) return "Monkey's Audio file";
    if (dynamic_cast<MPC::File*>(file)) return "Musepack audio file";
    if (dynamic_cast<ASF::File*>(file)) return "Windows Media audio file";
    return "Audio file";
}

// "3/12" -> 3 and 12.
std::pair<int, int> numberAndCount(const std::string& s) {
    const int number = std::atoi(s.c_str());
    const std::size_t slash = s.find('/');
    return {number, slash == std::string::npos ? 0 : std::atoi(s.c_str() + slash + 1)};
}

// The ID3 popularimeter's 0-255 rating in the library's 0-100 steps of 20 (one to five stars).
int starsOfPopularimeter(int rating) {
    if (rating <= 0) return 0;
    if (rating <= 31) return 20;
    if (rating <= 95) return 40;
    if (rating <= 159) return 60;
    if (rating <= 223) return 80;
    return 100;
}

// The formats whose streams TagLib measures begin with their signatures (after an ID3v2 tag,
// which a Musepack or WavPack file may carry); TagLib's Musepack reader would take any bytes
// for a stream hours long.
bool hasSignature(int fd, const std::string& ext) {
    const char* signatures[4] = {};
    if (ext == "mpc") signatures[0] = "MPCK", signatures[1] = "MP+";
    else if (ext == "wv") signatures[0] = "wvpk";
    else if (ext == "ape") signatures[0] = "MAC ";
    else if (ext == "wma" || ext == "asf") signatures[0] = "\x30\x26\xB2\x75";
    else return true;
    char head[14] = {};
    std::int64_t at = 0;
    if (pread(fd, head, 10, 0) == 10 && std::memcmp(head, "ID3", 3) == 0) {
        at = 10 + ((head[6] & 0x7F) << 21 | (head[7] & 0x7F) << 14 | (head[8] & 0x7F) << 7 | (head[9] & 0x7F));
    }
    if (pread(fd, head, 4, at) != 4) return false;
    for (const char* s : signatures) {
        if (s != nullptr && std::memcmp(head, s, std::strlen(s)) == 0) return true;
    }
    return false;
}

const TagLib::ID3v2::Tag* id3v2Of(TagLib::File* file) {
    using namespace TagLib;
    if (auto* f = dynamic_cast<MPEG::File*>(file)) return f->hasID3v2Tag() ? f->ID3v2Tag() : nullptr;
    if (auto* f = dynamic_cast<RIFF::WAV::File*>(file)) return f->hasID3v2Tag() ? f->ID3v2Tag() : nullptr;
    if (auto* f = dynamic_cast<RIFF::AIFF::File*>(file)) return f->hasID3v2Tag() ? f->tag() : nullptr;
    return nullptr;
}

class Values {
public:
    void text(const char* key, const std::string& value) {
        if (!value.empty()) out_.push_back({key, ValueKind::string, value});
    }
    void integer(const char* key, long long value) {
        if (value > 0) out_.push_back({key, ValueKind::integer, std::to_string(value)});
    }
    void integerEvenZero(const char* key, long long value) { out_.push_back({key, ValueKind::integer, std::to_string(value)}); }
    void truth(const char* key) { out_.push_back({key, ValueKind::boolean, "true"}); }
    bool has(const char* key) const {
        return std::any_of(out_.begin(), out_.end(), [key](const TrackValue& v) { return v.key == key; });
    }
    TrackValues take() { return std::move(out_); }

private:
    TrackValues out_;
};

TrackValues trackValues(const std::string& path, const std::vector<std::pair<std::string, std::string>>& firsts,
                        const TagLib::ID3v2::PopularimeterFrame* popm, const std::optional<audiofile::StreamInfo>& measured,
                        const TagLib::AudioProperties* audio, const char* kind, int pictures);

}  // namespace

bool isAudioFileName(const std::string& name) {
    static const char* kExtensions[] = {"mp3", "flac", "ogg", "oga", "opus", "m4a", "m4b", "mp4", "wav", "aif", "aiff",
                                        "aifc", "wv",  "ape", "mpc", "wma", "asf"};
    const std::string ext = extensionOf(name);
    return std::any_of(std::begin(kExtensions), std::end(kExtensions), [&ext](const char* e) { return ext == e; });
}

Expected<TrackValues> readAudioFile(const std::string& path, FileStamp* stamp, TagReader prefer, TagReader* used) {
    ++audioFilesOpened;
    audiofile::TagStream stream(path);
    if (!stream.isOpen()) return Error(TagError::notAudio, "cannot be read, or not a regular file");
    if (stamp != nullptr) *stamp = {stream.size(), stream.modified()};
    // Where we measure the stream ourselves (bounded reads, the decoded length), TagLib reads
    // only the tags: its own measurements read some files through, and get some lengths wrong.
    const audiofile::Container container = audiofile::containerOfName(path);
    std::optional<audiofile::StreamInfo> measured;
    if (container != audiofile::Container::other) {
        Expected<audiofile::StreamInfo> info = audiofile::measureStream(stream.fd(), stream.size(), container, &stream);
        if (!info) return Error(TagError::notAudio, "no audio stream found (" + info.error().message + ")");
        measured = std::move(info).value();
    } else if (!hasSignature(stream.fd(), extensionOf(path))) {
        return Error(TagError::notAudio, "no audio stream found");
    }
    const std::string ext = extensionOf(path);
    std::optional<OwnTags> own;
    if (measured && prefer == TagReader::own) {
        if (ext == "mp3") own = readId3v2Tag(stream);
        else if (ext == "wav") own = readUntaggedWave(stream, stream.size());
        else own = readVorbisComments(stream, stream.size(), ext);
    }
    if (used != nullptr) *used = own ? TagReader::own : TagReader::tagLib;
    if (own) return trackValues(path, own->firsts, nullptr, *measured, nullptr, own->kind, own->pictures);

    TagLib::FileRef ref(&stream, !measured, TagLib::AudioProperties::Average);
    if (ref.isNull() || !ref.file()->isValid()) return Error(TagError::notAudio, "not an audio file that can be read");
    TagLib::File* file = ref.file();
    const TagLib::AudioProperties* audio = file->audioProperties();
    // A reader that accepts a file without finding any audio in it (text named .mp3) has
    // nothing to play either.
    if (!measured && (audio == nullptr || audio->sampleRate() <= 0)) return Error(TagError::notAudio, "no audio stream found");
    std::vector<std::pair<std::string, std::string>> firsts;
    for (const auto& [key, values] : file->properties()) {
        if (!values.isEmpty()) firsts.emplace_back(key.to8Bit(true), values.front().to8Bit(true));
    }
    const TagLib::ID3v2::PopularimeterFrame* popm = nullptr;
    if (const TagLib::ID3v2::Tag* id3 = id3v2Of(file)) {
        for (const TagLib::ID3v2::Frame* frame : id3->frameList("POPM")) {
            if ((popm = dynamic_cast<const TagLib::ID3v2::PopularimeterFrame*>(frame)) != nullptr) break;
        }
    }
    const std::string kind = kindOf(file, measured ? measured->codec : "");
    return trackValues(path, firsts, popm, measured, audio, kind.c_str(), artwork::pictureCount(file));
}

namespace {

// The values of a track from the first value of each tag (keys upper-case, as TagLib's
// property map has them), whichever reader found them.
TrackValues trackValues(const std::string& path, const std::vector<std::pair<std::string, std::string>>& firsts,
                        const TagLib::ID3v2::PopularimeterFrame* popm, const std::optional<audiofile::StreamInfo>& measured,
                        const TagLib::AudioProperties* audio, const char* kind, int pictures) {
    // Looked up by our keys without a map: a file has a few dozen keys at most.
    auto first = [&firsts](std::string_view key) -> const std::string& {
        static const std::string kNone;
        const auto it = std::find_if(firsts.begin(), firsts.end(), [key](const auto& f) { return f.first == key; });
        return it == firsts.end() ? kNone : it->second;
    };

    Values v;
    std::string title = first("TITLE");
    if (title.empty()) {
        std::string name = path.substr(path.find_last_of('/') + 1);
        name = name.substr(0, name.find_last_of('.') == 0 ? std::string::npos : name.find_last_of('.'));
        // Through TagLib's conversion, which drops a name that is not UTF-8, as it always has.
        title = TagLib::String(name, TagLib::String::UTF8).to8Bit(true);
    }
    v.text("Name", title);
    v.text("Artist", first("ARTIST"));
    v.text("Album Artist", first("ALBUMARTIST"));
    v.text("Album", first("ALBUM"));
    v.text("Composer", first("COMPOSER"));
    v.text("Genre", first("GENRE"));
    v.integer("Year", std::atoi(first("DATE").c_str()));
    const auto [track, trackCount] = numberAndCount(first("TRACKNUMBER"));
    v.integer("Track Number", track);
    v.integer("Track Count", trackCount != 0 ? trackCount : std::atoi(first("TRACKTOTAL").c_str()));
    const auto [disc, discCount] = numberAndCount(first("DISCNUMBER"));
    v.integer("Disc Number", disc);
    v.integer("Disc Count", discCount != 0 ? discCount : std::atoi(first("DISCTOTAL").c_str()));
    v.text("Comments", first("COMMENT"));
    v.integer("BPM", std::lround(std::atof(first("BPM").c_str())));
    if (const std::string& c = first("COMPILATION"); c == "1" || c == "true") v.truth("Compilation");
    v.text("Sort Name", first("TITLESORT"));
    v.text("Sort Artist", first("ARTISTSORT"));
    v.text("Sort Album Artist", first("ALBUMARTISTSORT"));
    v.text("Sort Album", first("ALBUMSORT"));
    v.text("Sort Composer", first("COMPOSERSORT"));
    v.integer("Total Time", measured ? measured->milliseconds() : audio->lengthInMilliseconds());
    v.integer("Bit Rate", measured ? measured->bitRate : audio->bitrate());
    v.integer("Sample Rate", measured ? measured->sampleRate : audio->sampleRate());
    v.text("Kind", kind);
    v.integerEvenZero("Artwork Count", pictures);

    // Play count and rating: the ID3 popularimeter, else the FMPS fields of Vorbis comments.
    if (popm != nullptr) {
        v.integer("Play Count", popm->counter());
        v.integer("Rating", starsOfPopularimeter(popm->rating()));
    }
    if (!v.has("Play Count")) v.integer("Play Count", std::lround(std::atof(first("FMPS_PLAYCOUNT").c_str())));
    if (!v.has("Rating")) {
        const double rating = std::atof(first("FMPS_RATING").c_str());
        if (rating > 0 && rating <= 1) v.integer("Rating", std::lround(rating * 100));
    }
    return v.take();
}

}  // namespace

}  // namespace kestrane::musiclibrary
