#include <gst/gst.h>

#include <algorithm>

#include "gst_ptr.h"
#include "mpris.h"

namespace kestrane::mpris {

namespace {

// A kind of audio file by its shared-MIME-info name, and what GStreamer needs to play it: an
// element that takes the file's container (a demuxer or a parser) and a decoder for the codec
// inside (none for raw samples).
struct FileType {
    const char* mimeType;
    const char* container;
    const char* codec;
};

constexpr FileType kFileTypes[] = {
    {"audio/mpeg", "audio/mpeg, mpegversion=(int)1", "audio/mpeg, mpegversion=(int)1, layer=(int)3"},
    {"audio/flac", "audio/x-flac", "audio/x-flac"},
    {"audio/ogg", "application/ogg", "audio/x-vorbis"},
    {"audio/x-vorbis+ogg", "application/ogg", "audio/x-vorbis"},
    {"audio/x-opus+ogg", "application/ogg", "audio/x-opus"},
    {"audio/x-flac+ogg", "application/ogg", "audio/x-flac"},
    {"audio/x-speex+ogg", "application/ogg", "audio/x-speex"},
    {"audio/x-wav", "audio/x-wav", nullptr},
    {"audio/x-aiff", "audio/x-aiff", nullptr},
    {"audio/basic", "audio/x-au", nullptr},
    {"audio/mp4", "audio/x-m4a", "audio/mpeg, mpegversion=(int)4"},
    {"audio/aac", "audio/mpeg, mpegversion=(int)4, stream-format=(string)adts", "audio/mpeg, mpegversion=(int)4"},
    {"audio/x-wavpack", "audio/x-wavpack", "audio/x-wavpack"},
    {"audio/ac3", "audio/x-ac3", "audio/x-ac3"},
    {"audio/x-ms-wma", "video/x-ms-asf", "audio/x-wma"},
    {"audio/webm", "audio/webm", "audio/x-opus"},
    {"audio/x-matroska", "audio/x-matroska", "audio/x-vorbis"},
};

// Whether an element of the list takes caps on a sink pad.
bool anyTakes(GList* factories, const char* description) {
    const media::CapsPtr caps(gst_caps_from_string(description));
    if (!caps) return false;
    for (GList* f = factories; f != nullptr; f = f->next) {
        if (gst_element_factory_can_sink_any_caps(GST_ELEMENT_FACTORY(f->data), caps.get())) return true;
    }
    return false;
}

}  // namespace

std::vector<std::string> supportedMimeTypes() {
    std::vector<std::string> types;
    if (gst_init_check(nullptr, nullptr, nullptr) == FALSE) return types;
    const media::FeatureListPtr readers(gst_element_factory_list_get_elements(
        GST_ELEMENT_FACTORY_TYPE_DEMUXER | GST_ELEMENT_FACTORY_TYPE_PARSER, GST_RANK_MARGINAL));
    const media::FeatureListPtr decoders(
        gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_DECODER | GST_ELEMENT_FACTORY_TYPE_MEDIA_AUDIO, GST_RANK_MARGINAL));
    for (const FileType& type : kFileTypes) {
        if (!anyTakes(readers.get(), type.container)) continue;
        if (type.codec != nullptr && !anyTakes(decoders.get(), type.codec)) continue;
        if (std::find(types.begin(), types.end(), type.mimeType) == types.end()) types.emplace_back(type.mimeType);
    }
    return types;
}

}  // namespace kestrane::mpris
