#include "image_data.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include "glib_ptr.h"

namespace kestrane::notifications {

namespace {

// The picture in bytes as a pixbuf (a new reference), with the loader of type, or with the
// one gdk-pixbuf picks from the bytes when type is null.
glib::ObjectPtr<GdkPixbuf> load(std::span<const std::uint8_t> bytes, const char* type) {
    glib::ObjectPtr<GdkPixbufLoader> loader(type != nullptr ? gdk_pixbuf_loader_new_with_type(type, nullptr) : gdk_pixbuf_loader_new());
    if (!loader) return nullptr;
    GError* writeError = nullptr;
    const bool written = gdk_pixbuf_loader_write(loader.get(), bytes.data(), bytes.size(), &writeError);
    glib::ErrorPtr holdWrite(writeError);
    GError* closeError = nullptr;
    const bool closed = gdk_pixbuf_loader_close(loader.get(), &closeError);
    glib::ErrorPtr holdClose(closeError);
    if (!written || !closed) return nullptr;
    return glib::ref(gdk_pixbuf_loader_get_pixbuf(loader.get()));
}

}  // namespace

std::optional<ImageData> decodeImage(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return std::nullopt;
    glib::ObjectPtr<GdkPixbuf> pixbuf = load(bytes, nullptr);
    // gdk-pixbuf recognises a format through the desktop's MIME database; where that cannot
    // be read, the common formats are tried by name.
    for (const char* type : {"png", "jpeg", "gif", "bmp", "tiff", "ico"}) {
        if (pixbuf) break;
        pixbuf = load(bytes, type);
    }
    if (!pixbuf) return std::nullopt;
    ImageData image;
    image.width = gdk_pixbuf_get_width(pixbuf.get());
    image.height = gdk_pixbuf_get_height(pixbuf.get());
    image.rowstride = gdk_pixbuf_get_rowstride(pixbuf.get());
    image.hasAlpha = gdk_pixbuf_get_has_alpha(pixbuf.get());
    image.bitsPerSample = gdk_pixbuf_get_bits_per_sample(pixbuf.get());
    image.channels = gdk_pixbuf_get_n_channels(pixbuf.get());
    const guint8* pixels = gdk_pixbuf_read_pixels(pixbuf.get());
    image.pixels.assign(pixels, pixels + gdk_pixbuf_get_byte_length(pixbuf.get()));
    return image;
}

}  // namespace kestrane::notifications
