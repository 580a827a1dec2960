#include "test_media.h"

#include <attachedpictureframe.h>
#include <fileref.h>
#include <popularimeterframe.h>
#include <tpropertymap.h>
#include <flacfile.h>
#include <flacpicture.h>
#include <gst/gst.h>
#include <id3v2tag.h>
#include <mp4file.h>
#include <mp4tag.h>
#include <mpegfile.h>
#include <opusfile.h>
#include <vorbisfile.h>
#include <xiphcomment.h>

#include <cmath>
#include <fstream>
#include <memory>

#include "glib_ptr.h"
#include "gst_ptr.h"

namespace kestrane::test {

namespace {

TagLib::ByteVector bytesOf(const std::string& s) {
    return TagLib::ByteVector(s.data(), static_cast<unsigned>(s.size()));
}

// A FLAC-style picture block, as FLAC and Ogg files keep pictures (transfer full).
std::unique_ptr<TagLib::FLAC::Picture> flacPicture(const std::string& image, bool frontCover) {
    auto picture = std::make_unique<TagLib::FLAC::Picture>();
    picture->setData(bytesOf(image));
    picture->setType(frontCover ? TagLib::FLAC::Picture::FrontCover : TagLib::FLAC::Picture::Other);
    picture->setMimeType("image/png");
    return picture;
}

// A pipeline described as gst-launch does (transfer full); null when it cannot be made.
media::GstPtr<GstElement> launch(const std::string& description) {
    if (!gst_init_check(nullptr, nullptr, nullptr)) return nullptr;
    GError* raw = nullptr;
    media::GstPtr<GstElement> pipeline = media::adoptFloating(gst_parse_launch(description.c_str(), &raw));
    const glib::ErrorPtr error(raw);
    if (error) return nullptr;
    return pipeline;
}

// Plays pipeline to its end; false on an error or after a minute without one.
bool runToEnd(GstElement* pipeline) {
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    const media::GstPtr<GstBus> bus(gst_element_get_bus(pipeline));
    const media::MessagePtr message(gst_bus_timed_pop_filtered(bus.get(), 60 * GST_SECOND,
                                                               static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    const bool ok = message && GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_EOS;
    gst_element_set_state(pipeline, GST_STATE_NULL);
    return ok;
}

}  // namespace

bool encodeTone(const std::filesystem::path& path, const std::string& encoder, const std::string& source) {
    const media::GstPtr<GstElement> pipeline =
        launch(source + " ! audioconvert ! audioresample ! " + encoder + " ! filesink location=\"" + path.string() + "\"");
    return pipeline && runToEnd(pipeline.get());
}

double decodedSeconds(const std::filesystem::path& path) {
    // Decoded to one fixed layout, so that bytes count samples whatever the decoder gives.
    const media::GstPtr<GstElement> pipeline = launch("filesrc location=\"" + path.string() +
                                                      "\" ! decodebin ! audioconvert ! audio/x-raw,format=S16LE,channels=1 ! "
                                                      "fakesink name=sink sync=false signal-handoffs=true");
    if (!pipeline) return -1;
    struct Count {
        guint64 bytes = 0;
        gint rate = 0;
    } count;
    const media::GstPtr<GstElement> sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "sink"));
    g_signal_connect(sink.get(), "handoff", G_CALLBACK(+[](GstElement*, GstBuffer* buffer, GstPad* pad, gpointer data) {
                         auto* c = static_cast<Count*>(data);
                         c->bytes += gst_buffer_get_size(buffer);
                         if (c->rate == 0) {
                             const media::CapsPtr caps(gst_pad_get_current_caps(pad));
                             if (caps) gst_structure_get_int(gst_caps_get_structure(caps.get(), 0), "rate", &c->rate);
                         }
                     }),
                     &count);
    if (!runToEnd(pipeline.get()) || count.rate <= 0) return -1;
    return static_cast<double>(count.bytes / 2) / count.rate;
}

bool writeAiff(const std::filesystem::path& path, int sampleRate, long frames) {
    std::string sound;
    sound.reserve(static_cast<std::size_t>(frames) * 2);
    for (long i = 0; i < frames; ++i) {
        const auto v = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 440.0 * static_cast<double>(i) / sampleRate));
        sound.push_back(static_cast<char>((v >> 8) & 0xFF));
        sound.push_back(static_cast<char>(v & 0xFF));
    }
    auto be = [](std::string& s, std::uint64_t v, int bytes) {
        for (int i = bytes - 1; i >= 0; --i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    std::string comm = "COMM";
    be(comm, 18, 4);
    be(comm, 1, 2);
    be(comm, static_cast<std::uint64_t>(frames), 4);
    be(comm, 16, 2);
    // The rate as an 80-bit extended number: exponent and a mantissa with its leading bit set.
    int exponent = 0;
    std::uint64_t mantissa = static_cast<std::uint64_t>(sampleRate);
    while ((mantissa & (std::uint64_t{1} << 63)) == 0) {
        mantissa <<= 1;
        ++exponent;
    }
    be(comm, static_cast<std::uint64_t>(16383 + 63 - exponent), 2);
    be(comm, mantissa, 8);
    std::string ssnd = "SSND";
    be(ssnd, 8 + sound.size(), 4);
    be(ssnd, 0, 8);
    std::string form = "FORM";
    be(form, 4 + comm.size() + ssnd.size() + sound.size(), 4);
    form += "AIFF" + comm + ssnd + sound;
    std::ofstream out(path, std::ios::binary);
    out << form;
    return static_cast<bool>(out);
}

bool writeTags(const std::filesystem::path& path, const std::map<std::string, std::string>& tags) {
    TagLib::FileRef ref(path.c_str(), false);
    if (ref.isNull()) return false;
    TagLib::PropertyMap properties = ref.file()->properties();
    for (const auto& [key, value] : tags) properties.replace(key, TagLib::StringList(TagLib::String(value, TagLib::String::UTF8)));
    ref.file()->setProperties(properties);
    return ref.save();
}

bool writePopularimeter(const std::filesystem::path& path, int rating, unsigned counter) {
    TagLib::MPEG::File file(path.c_str());
    if (!file.isValid()) return false;
    auto frame = std::make_unique<TagLib::ID3v2::PopularimeterFrame>();
    frame->setEmail("kestrane@example.org");
    frame->setRating(rating);
    frame->setCounter(counter);
    file.ID3v2Tag(true)->addFrame(frame.release());  // the tag owns its frames
    return file.save();
}

bool attachPicture(const std::filesystem::path& path, const std::string& image, bool frontCover) {
    const std::string extension = path.extension().string();
    const char* name = path.c_str();
    if (extension == ".mp3") {
        TagLib::MPEG::File file(name);
        auto frame = std::make_unique<TagLib::ID3v2::AttachedPictureFrame>();
        frame->setPicture(bytesOf(image));
        frame->setType(frontCover ? TagLib::ID3v2::AttachedPictureFrame::FrontCover
                                  : TagLib::ID3v2::AttachedPictureFrame::Other);
        frame->setMimeType("image/png");
        file.ID3v2Tag(true)->addFrame(frame.release());  // the tag owns its frames
        return file.save();
    }
    if (extension == ".flac") {
        TagLib::FLAC::File file(name);
        file.addPicture(flacPicture(image, frontCover).release());  // the file owns its pictures
        return file.save();
    }
    if (extension == ".ogg") {
        TagLib::Ogg::Vorbis::File file(name);
        file.tag()->addPicture(flacPicture(image, frontCover).release());
        return file.save();
    }
    if (extension == ".opus") {
        TagLib::Ogg::Opus::File file(name);
        file.tag()->addPicture(flacPicture(image, frontCover).release());
        return file.save();
    }
    if (extension == ".m4a") {
        TagLib::MP4::File file(name);
        TagLib::MP4::CoverArtList covers;
        covers.append(TagLib::MP4::CoverArt(TagLib::MP4::CoverArt::Unknown, bytesOf(image)));
        file.tag()->setItem("covr", TagLib::MP4::Item(covers));
        return file.save();
    }
    return false;
}

std::string tinyPng() {
    // A 1 x 1 pixel PNG.
    static const unsigned char bytes[] = {
        0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00,
        0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00, 0x00, 0x1F, 0x15, 0xC4, 0x89, 0x00, 0x00, 0x00,
        0x0D, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9C, 0x63, 0xF8, 0xCF, 0xC0, 0xF0, 0x1F, 0x00, 0x05, 0x00, 0x01, 0xFF,
        0x89, 0x99, 0x3D, 0x1D, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
    return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

std::string tinyJpeg() {
    // The start of a JFIF file, with an end-of-image marker.
    static const unsigned char bytes[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46, 0x49, 0x46, 0x00, 0x01,
                                          0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0xFF, 0xD9};
    return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

}  // namespace kestrane::test
