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

#include <fcntl.h>
#include <sys/stat.h>
#include <tiostream.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "artwork.h"
#include "holders.h"

namespace kestrane::musiclibrary {

std::atomic<std::size_t> audioFilesOpened{0};

namespace {

// A file read by TagLib through buffers of its head and tail: its readers make many small
// reads and seeks near the start (tags, stream headers) and the end (trailing tags), which the
// buffers serve without a system call each. Reads elsewhere go to the file.
class BufferedFile final : public TagLib::IOStream {
public:
    explicit BufferedFile(const std::string& path) : path_(path), fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        struct stat st {};
        if (!fd_ || fstat(fd_.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
            fd_.reset();
            return;
        }
        size_ = static_cast<long>(st.st_size);
        head_.resize(static_cast<std::size_t>(std::min<long>(size_, kHead)));
        if (!readAt(0, head_)) {
            fd_.reset();
            return;
        }
        const long tailStart = std::max<long>(static_cast<long>(head_.size()), size_ - kTail);
        tail_.resize(static_cast<std::size_t>(size_ - tailStart));
        tailStart_ = tailStart;
        if (!readAt(tailStart, tail_)) fd_.reset();
    }
    BufferedFile(const BufferedFile&) = delete;
    BufferedFile& operator=(const BufferedFile&) = delete;

    TagLib::FileName name() const override { return path_.c_str(); }
    TagLib::ByteVector readBlock(unsigned long length) override {
        const long n = std::min<long>(static_cast<long>(std::min<unsigned long>(length, 1ul << 30)), size_ - position_);
        if (n <= 0 || !fd_) return TagLib::ByteVector();
        TagLib::ByteVector block(static_cast<unsigned>(n), '\0');
        long done = 0;
        while (done < n) {
            const long at = position_ + done;
            long piece;
            if (at < static_cast<long>(head_.size())) {
                piece = std::min<long>(n - done, static_cast<long>(head_.size()) - at);
                std::memcpy(block.data() + done, head_.data() + at, static_cast<std::size_t>(piece));
            } else if (at >= tailStart_) {
                piece = std::min<long>(n - done, size_ - at);
                std::memcpy(block.data() + done, tail_.data() + (at - tailStart_), static_cast<std::size_t>(piece));
            } else {
                piece = std::min<long>(n - done, tailStart_ - at);
                const ssize_t got = pread(fd_.get(), block.data() + done, static_cast<std::size_t>(piece), at);
                if (got <= 0) break;
                piece = got;
            }
            done += piece;
        }
        block.resize(static_cast<unsigned>(done));
        position_ += done;
        return block;
    }
    void writeBlock(const TagLib::ByteVector&) override {}
    void insert(const TagLib::ByteVector&, unsigned long, unsigned long) override {}
    void removeBlock(unsigned long, unsigned long) override {}
    bool readOnly() const override { return true; }
    bool isOpen() const override { return static_cast<bool>(fd_); }
    void seek(long offset, Position from) override {
        const long base = from == Beginning ? 0 : from == Current ? position_ : size_;
        position_ = std::clamp<long>(base + offset, 0, size_);
    }
    long tell() const override { return position_; }
    long length() override { return size_; }
    void truncate(long) override {}

private:
    static constexpr long kHead = 256 * 1024;
    static constexpr long kTail = 64 * 1024;

    bool readAt(long offset, std::vector<char>& into) {
        std::size_t done = 0;
        while (done < into.size()) {
            const ssize_t got = pread(fd_.get(), into.data() + done, into.size() - done, offset + static_cast<long>(done));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;
            done += static_cast<std::size_t>(got);
        }
        return true;
    }
    std::string path_;
    UniqueFd fd_;
    long size_ = 0, position_ = 0, tailStart_ = 0;
    std::vector<char> head_, tail_;
};

std::string extensionOf(const std::string& name) {
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0) return "";
    std::string ext = name.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

// A readable name of the file's format.
std::string kindOf(TagLib::File* file) {
    using namespace TagLib;
    if (dynamic_cast<MPEG::File*>(file)) return "MPEG audio file";
    if (dynamic_cast<FLAC::File*>(file)) return "FLAC audio file";
    if (dynamic_cast<Ogg::Vorbis::File*>(file)) return "Ogg Vorbis audio file";
    if (dynamic_cast<Ogg::Opus::File*>(file)) return "Opus audio file";
    if (auto* f = dynamic_cast<MP4::File*>(file)) {
        const auto* p = f->audioProperties();
        return p != nullptr && p->codec() == MP4::Properties::ALAC ? "Apple Lossless audio file" : "AAC audio file";
    }
    if (dynamic_cast<RIFF::WAV::File*>(file)) return "WAV audio file";
    if (dynamic_cast<RIFF::AIFF::File*>(file)) return "AIFF audio file";
    if (dynamic_cast<WavPack::File*>(file)) return "WavPack audio file";
    if (dynamic_cast<APE::File*>(file)) return "Monkey's Audio file";
    if (dynamic_cast<MPC::File*>(file)) return "Musepack audio file";
    if (dynamic_cast<ASF::File*>(file)) return "Windows Media audio file";
    return "Audio file";
}

// "3/12" -> 3 and 12.
std::pair<int, int> numberAndCount(const TagLib::String& text) {
    const std::string s = text.to8Bit(true);
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

const TagLib::ID3v2::Tag* id3v2Of(TagLib::File* file) {
    using namespace TagLib;
    if (auto* f = dynamic_cast<MPEG::File*>(file)) return f->hasID3v2Tag() ? f->ID3v2Tag() : nullptr;
    if (auto* f = dynamic_cast<RIFF::WAV::File*>(file)) return f->hasID3v2Tag() ? f->ID3v2Tag() : nullptr;
    if (auto* f = dynamic_cast<RIFF::AIFF::File*>(file)) return f->hasID3v2Tag() ? f->tag() : nullptr;
    return nullptr;
}

class Values {
public:
    void text(const char* key, const TagLib::String& value) {
        if (!value.isEmpty()) out_.push_back({key, ValueKind::string, value.to8Bit(true)});
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

}  // namespace

bool isAudioFileName(const std::string& name) {
    static const char* kExtensions[] = {"mp3", "flac", "ogg", "oga", "opus", "m4a", "m4b", "mp4", "wav", "aif", "aiff",
                                        "aifc", "wv",  "ape", "mpc", "wma", "asf"};
    const std::string ext = extensionOf(name);
    return std::any_of(std::begin(kExtensions), std::end(kExtensions), [&ext](const char* e) { return ext == e; });
}

Expected<TrackValues> readAudioFile(const std::string& path) {
    ++audioFilesOpened;
    BufferedFile stream(path);
    if (!stream.isOpen()) return Error(TagError::notAudio, "cannot be read");
    TagLib::FileRef ref(&stream, true, TagLib::AudioProperties::Average);
    if (ref.isNull() || !ref.file()->isValid()) return Error(TagError::notAudio, "not an audio file that can be read");
    TagLib::File* file = ref.file();
    const TagLib::AudioProperties* audio = file->audioProperties();
    // A reader that accepts a file without finding any audio in it (text named .mp3) has
    // nothing to play either.
    if (audio == nullptr || audio->sampleRate() <= 0) return Error(TagError::notAudio, "no audio stream found");
    const TagLib::PropertyMap tags = file->properties();
    auto first = [&tags](const char* key) {
        const auto it = tags.find(key);
        return it == tags.end() || it->second.isEmpty() ? TagLib::String() : it->second.front();
    };

    Values v;
    TagLib::String title = first("TITLE");
    if (title.isEmpty()) {
        std::string name = path.substr(path.find_last_of('/') + 1);
        name = name.substr(0, name.find_last_of('.') == 0 ? std::string::npos : name.find_last_of('.'));
        title = TagLib::String(name, TagLib::String::UTF8);
    }
    v.text("Name", title);
    v.text("Artist", first("ARTIST"));
    v.text("Album Artist", first("ALBUMARTIST"));
    v.text("Album", first("ALBUM"));
    v.text("Composer", first("COMPOSER"));
    v.text("Genre", first("GENRE"));
    v.integer("Year", std::atoi(first("DATE").to8Bit(true).c_str()));
    const auto [track, trackCount] = numberAndCount(first("TRACKNUMBER"));
    v.integer("Track Number", track);
    v.integer("Track Count", trackCount != 0 ? trackCount : std::atoi(first("TRACKTOTAL").to8Bit(true).c_str()));
    const auto [disc, discCount] = numberAndCount(first("DISCNUMBER"));
    v.integer("Disc Number", disc);
    v.integer("Disc Count", discCount != 0 ? discCount : std::atoi(first("DISCTOTAL").to8Bit(true).c_str()));
    v.text("Comments", first("COMMENT"));
    v.integer("BPM", std::lround(std::atof(first("BPM").to8Bit(true).c_str())));
    if (const std::string c = first("COMPILATION").to8Bit(true); c == "1" || c == "true") v.truth("Compilation");
    v.text("Sort Name", first("TITLESORT"));
    v.text("Sort Artist", first("ARTISTSORT"));
    v.text("Sort Album Artist", first("ALBUMARTISTSORT"));
    v.text("Sort Album", first("ALBUMSORT"));
    v.text("Sort Composer", first("COMPOSERSORT"));
    v.integer("Total Time", audio->lengthInMilliseconds());
    v.integer("Bit Rate", audio->bitrate());
    v.integer("Sample Rate", audio->sampleRate());
    v.text("Kind", kindOf(file));
    v.integerEvenZero("Artwork Count", artwork::pictureCount(file));

    // Play count and rating: the ID3 popularimeter, else the FMPS fields of Vorbis comments.
    if (const TagLib::ID3v2::Tag* id3 = id3v2Of(file)) {
        for (const TagLib::ID3v2::Frame* frame : id3->frameList("POPM")) {
            if (const auto* popm = dynamic_cast<const TagLib::ID3v2::PopularimeterFrame*>(frame)) {
                v.integer("Play Count", popm->counter());
                v.integer("Rating", starsOfPopularimeter(popm->rating()));
                break;
            }
        }
    }
    if (!v.has("Play Count")) v.integer("Play Count", std::lround(std::atof(first("FMPS_PLAYCOUNT").to8Bit(true).c_str())));
    if (!v.has("Rating")) {
        const double rating = std::atof(first("FMPS_RATING").to8Bit(true).c_str());
        if (rating > 0 && rating <= 1) v.integer("Rating", std::lround(rating * 100));
    }
    return v.take();
}

}  // namespace kestrane::musiclibrary
