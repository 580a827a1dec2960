#include "artwork.h"

#include <aifffile.h>
#include <apefile.h>
#include <apetag.h>
#include <asffile.h>
#include <asftag.h>
#include <attachedpictureframe.h>
#include <fileref.h>
#include <flacfile.h>
#include <flacpicture.h>
#include <id3v2tag.h>
#include <mp4file.h>
#include <mp4tag.h>
#include <mpcfile.h>
#include <mpegfile.h>
#include <oggflacfile.h>
#include <opusfile.h>
#include <speexfile.h>
#include <trueaudiofile.h>
#include <vorbisfile.h>
#include <wavfile.h>
#include <wavpackfile.h>
#include <xiphcomment.h>

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "audio_stream.h"
#include "holders.h"
#include "tag_stream.h"
#include "url.h"

namespace kestrane::artwork {

namespace {

bool startsWith(std::string_view bytes, std::string_view signature) {
    return bytes.size() >= signature.size() && bytes.compare(0, signature.size(), signature) == 0;
}

std::optional<Picture> picture(const TagLib::ByteVector& bytes) {
    if (bytes.isEmpty()) return std::nullopt;
    Picture p;
    p.data.assign(bytes.data(), bytes.size());
    p.format = formatOf(p.data);
    return p;
}

// The front cover if one is marked, else the first picture of a list; isFront tells which
// is the front cover, bytesOf gives a picture's bytes.
template <class List, class IsFront, class BytesOf>
std::optional<Picture> frontOrFirst(const List& list, IsFront isFront, BytesOf bytesOf) {
    for (const auto& element : list) {
        if (isFront(element)) return picture(bytesOf(element));
    }
    if (list.isEmpty()) return std::nullopt;
    return picture(bytesOf(list.front()));
}

std::optional<Picture> fromId3v2(const TagLib::ID3v2::Tag* tag) {
    if (tag == nullptr) return std::nullopt;
    using Frame = TagLib::ID3v2::AttachedPictureFrame;
    TagLib::List<const Frame*> pictures;
    for (const TagLib::ID3v2::Frame* frame : tag->frameList("APIC")) {
        if (const auto* p = dynamic_cast<const Frame*>(frame)) pictures.append(p);
    }
    return frontOrFirst(
        pictures, [](const Frame* f) { return f->type() == Frame::FrontCover; }, [](const Frame* f) { return f->picture(); });
}

std::optional<Picture> fromFlacPictures(const TagLib::List<TagLib::FLAC::Picture*>& pictures) {
    using TagLib::FLAC::Picture;
    return frontOrFirst(
        pictures, [](const Picture* p) { return p->type() == Picture::FrontCover; }, [](const Picture* p) { return p->data(); });
}

std::optional<Picture> fromXiph(TagLib::Ogg::XiphComment* comment) {
    if (comment == nullptr) return std::nullopt;
    return fromFlacPictures(comment->pictureList());
}

std::optional<Picture> fromMp4(const TagLib::MP4::Tag* tag) {
    if (tag == nullptr || !tag->contains("covr")) return std::nullopt;
    const TagLib::MP4::CoverArtList covers = tag->item("covr").toCoverArtList();
    if (covers.isEmpty()) return std::nullopt;
    return picture(covers.front().data());
}

// APE cover items hold a file name, a zero byte, then the image.
std::optional<Picture> fromApe(const TagLib::APE::Tag* tag) {
    if (tag == nullptr) return std::nullopt;
    const TagLib::APE::ItemListMap& items = tag->itemListMap();
    for (const char* key : {"COVER ART (FRONT)", "COVER ART (OTHER)"}) {
        const auto it = items.find(key);
        if (it == items.end()) continue;
        const TagLib::ByteVector data = it->second.binaryData();
        const int zero = data.find('\0');
        if (zero < 0) continue;
        return picture(data.mid(static_cast<unsigned>(zero) + 1));
    }
    return std::nullopt;
}

std::optional<Picture> fromAsf(const TagLib::ASF::Tag* tag) {
    if (tag == nullptr) return std::nullopt;
    const TagLib::ASF::AttributeListMap& attributes = tag->attributeListMap();
    const auto it = attributes.find("WM/Picture");
    if (it == attributes.end() || it->second.isEmpty()) return std::nullopt;
    using TagLib::ASF::Picture;
    TagLib::List<Picture> pictures;
    for (const auto& attribute : it->second) pictures.append(attribute.toPicture());
    return frontOrFirst(
        pictures, [](const Picture& p) { return p.type() == Picture::FrontCover; }, [](const Picture& p) { return p.picture(); });
}

std::optional<Picture> fromFile(TagLib::File* file) {
    using namespace TagLib;
    if (auto* f = dynamic_cast<MPEG::File*>(file)) return fromId3v2(f->ID3v2Tag());
    if (auto* f = dynamic_cast<FLAC::File*>(file)) {
        if (auto p = fromFlacPictures(f->pictureList())) return p;
        return fromXiph(f->xiphComment());
    }
    if (auto* f = dynamic_cast<Ogg::Vorbis::File*>(file)) return fromXiph(f->tag());
    if (auto* f = dynamic_cast<Ogg::Opus::File*>(file)) return fromXiph(f->tag());
    if (auto* f = dynamic_cast<Ogg::Speex::File*>(file)) return fromXiph(f->tag());
    if (auto* f = dynamic_cast<Ogg::FLAC::File*>(file)) return fromXiph(f->tag());
    if (auto* f = dynamic_cast<MP4::File*>(file)) return fromMp4(f->tag());
    if (auto* f = dynamic_cast<APE::File*>(file)) return fromApe(f->APETag());
    if (auto* f = dynamic_cast<WavPack::File*>(file)) return fromApe(f->APETag());
    if (auto* f = dynamic_cast<MPC::File*>(file)) return fromApe(f->APETag());
    if (auto* f = dynamic_cast<ASF::File*>(file)) return fromAsf(f->tag());
    if (auto* f = dynamic_cast<RIFF::AIFF::File*>(file)) return fromId3v2(f->tag());
    if (auto* f = dynamic_cast<RIFF::WAV::File*>(file)) return fromId3v2(f->ID3v2Tag());
    if (auto* f = dynamic_cast<TrueAudio::File*>(file)) return fromId3v2(f->ID3v2Tag());
    return std::nullopt;
}

}  // namespace

int formatOf(std::string_view bytes) {
    if (startsWith(bytes, "\xFF\xD8\xFF")) return jpeg;
    if (startsWith(bytes, "\x89PNG\r\n\x1A\n")) return png;
    if (startsWith(bytes, "GIF87a") || startsWith(bytes, "GIF89a")) return gif;
    if (startsWith(bytes, std::string_view("\x00\x00\x00\x0CjP  \r\n\x87\n", 12)) ||
        startsWith(bytes, "\xFF\x4F\xFF\x51")) {
        return jpeg2000;  // the JP2 signature box, or a bare codestream
    }
    if (startsWith(bytes, std::string_view("II*\0", 4)) || startsWith(bytes, std::string_view("MM\0*", 4))) return tiff;
    if (startsWith(bytes, "BM") && bytes.size() >= 14) return bmp;
    if (startsWith(bytes, "RIFF") && bytes.size() >= 12 && bytes.compare(8, 4, "WEBP") == 0) return webp;
    return none;
}

std::optional<Picture> embeddedPicture(const std::string& path) {
    audiofile::TagStream stream(path);
    if (!stream.isOpen()) return std::nullopt;
    // Audio properties are not needed: reading only the tags is quicker.
    TagLib::FileRef ref(&stream, false);
    if (ref.isNull() || !ref.file()->isValid()) return std::nullopt;
    return fromFile(ref.file());
}

int pictureCount(TagLib::File* file) {
    using namespace TagLib;
    auto id3 = [](const ID3v2::Tag* tag) { return tag != nullptr ? static_cast<int>(tag->frameList("APIC").size()) : 0; };
    auto xiph = [](Ogg::XiphComment* c) { return c != nullptr ? static_cast<int>(c->pictureList().size()) : 0; };
    auto ape = [](const APE::Tag* tag) {
        if (tag == nullptr) return 0;
        const APE::ItemListMap& items = tag->itemListMap();
        return static_cast<int>(items.contains("COVER ART (FRONT)")) + static_cast<int>(items.contains("COVER ART (OTHER)"));
    };
    if (auto* f = dynamic_cast<MPEG::File*>(file)) return id3(f->ID3v2Tag());
    if (auto* f = dynamic_cast<FLAC::File*>(file)) return static_cast<int>(f->pictureList().size()) + xiph(f->xiphComment());
    if (auto* f = dynamic_cast<Ogg::Vorbis::File*>(file)) return xiph(f->tag());
    if (auto* f = dynamic_cast<Ogg::Opus::File*>(file)) return xiph(f->tag());
    if (auto* f = dynamic_cast<Ogg::Speex::File*>(file)) return xiph(f->tag());
    if (auto* f = dynamic_cast<Ogg::FLAC::File*>(file)) return xiph(f->tag());
    if (auto* f = dynamic_cast<MP4::File*>(file)) {
        const MP4::Tag* tag = f->tag();
        return tag != nullptr && tag->contains("covr") ? static_cast<int>(tag->item("covr").toCoverArtList().size()) : 0;
    }
    if (auto* f = dynamic_cast<APE::File*>(file)) return ape(f->APETag());
    if (auto* f = dynamic_cast<WavPack::File*>(file)) return ape(f->APETag());
    if (auto* f = dynamic_cast<MPC::File*>(file)) return ape(f->APETag());
    if (auto* f = dynamic_cast<ASF::File*>(file)) {
        const ASF::AttributeListMap& attributes = f->tag()->attributeListMap();
        const auto it = attributes.find("WM/Picture");
        return it != attributes.end() ? static_cast<int>(it->second.size()) : 0;
    }
    if (auto* f = dynamic_cast<RIFF::AIFF::File*>(file)) return id3(f->tag());
    if (auto* f = dynamic_cast<RIFF::WAV::File*>(file)) return id3(f->ID3v2Tag());
    if (auto* f = dynamic_cast<TrueAudio::File*>(file)) return id3(f->ID3v2Tag());
    return 0;
}

std::optional<int> folderCoverRank(std::string_view name) {
    static constexpr std::array<std::string_view, 5> kStems = {"cover", "folder", "front", "album", "albumart"};
    static constexpr std::array<std::string_view, 4> kExtensions = {"jpg", "jpeg", "png", "webp"};
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string_view::npos || name.size() > 16) return std::nullopt;
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const std::string_view stem = std::string_view(lower).substr(0, dot), extension = std::string_view(lower).substr(dot + 1);
    const auto s = std::find(kStems.begin(), kStems.end(), stem);
    const auto e = std::find(kExtensions.begin(), kExtensions.end(), extension);
    if (s == kStems.end() || e == kExtensions.end()) return std::nullopt;
    return static_cast<int>((s - kStems.begin()) * kExtensions.size() + (e - kExtensions.begin()));
}

std::optional<std::string> folderCoverPath(const std::string& folder) {
    const DirPtr dir(opendir(folder.c_str()));
    if (!dir) return std::nullopt;
    std::optional<std::string> best;
    int bestRank = 0;
    while (const dirent* entry = readdir(dir.get())) {
        const std::optional<int> rank = folderCoverRank(entry->d_name);
        if (rank && (!best || *rank < bestRank || (*rank == bestRank && entry->d_name < *best))) {
            best = entry->d_name;
            bestRank = *rank;
        }
    }
    if (!best) return std::nullopt;
    return folder + "/" + *best;
}

std::optional<Picture> folderCover(const std::string& folder) {
    const std::optional<std::string> path = folderCoverPath(folder);
    if (!path) return std::nullopt;
    std::int64_t size = 0;
    const Expected<UniqueFd> fd = audiofile::openRegularFile(*path, &size);
    if (!fd || size <= 0 || static_cast<std::uint64_t>(size) > kMaxCoverBytes) return std::nullopt;
    Picture p;
    p.data.resize(static_cast<std::size_t>(size));
    std::size_t done = 0;
    while (done < p.data.size()) {
        const ssize_t got = pread(fd->get(), p.data.data() + done, p.data.size() - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    if (done == 0) return std::nullopt;
    p.data.resize(done);
    p.format = formatOf(p.data);
    return p;
}

std::optional<Picture> pictureOfUrl(const std::string& fileUrl) {
    const std::optional<std::string> path = url::localPathOfFileUrl(fileUrl);
    if (!path) return std::nullopt;
    if (std::optional<Picture> embedded = embeddedPicture(*path)) return embedded;
    return folderCover(path->substr(0, path->find_last_of('/')));
}

std::optional<Picture> embeddedPictureOfUrl(const std::string& fileUrl) {
    const std::optional<std::string> path = url::localPathOfFileUrl(fileUrl);
    if (!path) return std::nullopt;
    return embeddedPicture(*path);
}

}  // namespace kestrane::artwork
