#include "image_data.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>

#include "glib_ptr.h"

namespace kestrane::notifications {

namespace {

// What the header of a picture said, seen from gdk-pixbuf's "size-prepared" signal, which
// comes after the header is read and before the picture's memory is allocated.
struct Header {
    int width = 0, height = 0;
    bool refused = false;
};

void onSizePrepared(GdkPixbufLoader* loader, gint width, gint height, gpointer data) {
    Header& header = *static_cast<Header*>(data);
    header.width = width;
    header.height = height;
    if (width <= 0 || height <= 0 || static_cast<std::int64_t>(width) * height > kMaxPixels) {
        header.refused = true;
        // A size of zero tells the format's reader to stop before it allocates anything.
        gdk_pixbuf_loader_set_size(loader, 0, 0);
        return;
    }
    // JPEG decodes at the smaller size directly; other formats are scaled once decoded.
    const auto [w, h] = fittedSize(width, height);
    if (w != width || h != height) gdk_pixbuf_loader_set_size(loader, w, h);
}

// The picture in bytes as a pixbuf, with the loader of type, or with the one gdk-pixbuf picks
// from the bytes when type is null.
Expected<glib::ObjectPtr<GdkPixbuf>> load(std::span<const std::uint8_t> bytes, const char* type) {
    glib::ObjectPtr<GdkPixbufLoader> loader(type != nullptr ? gdk_pixbuf_loader_new_with_type(type, nullptr) : gdk_pixbuf_loader_new());
    if (!loader) return Error(ImageError::notAPicture, "no reader for the picture");
    Header header;
    g_signal_connect(loader.get(), "size-prepared", G_CALLBACK(onSizePrepared), &header);
    GError* writeError = nullptr;
    const bool written = gdk_pixbuf_loader_write(loader.get(), bytes.data(), bytes.size(), &writeError);
    glib::ErrorPtr holdWrite(writeError);
    GError* closeError = nullptr;
    const bool closed = gdk_pixbuf_loader_close(loader.get(), &closeError);
    glib::ErrorPtr holdClose(closeError);
    if (header.refused) {
        return Error(ImageError::tooLarge, "a picture of " + std::to_string(header.width) + "x" + std::to_string(header.height) +
                                               " pixels is larger than a notification takes");
    }
    if (!written || !closed) return Error(ImageError::notAPicture, "the bytes are not a picture");
    glib::ObjectPtr<GdkPixbuf> pixbuf = glib::ref(gdk_pixbuf_loader_get_pixbuf(loader.get()));
    if (!pixbuf) return Error(ImageError::notAPicture, "the bytes are not a picture");
    return pixbuf;
}

}  // namespace

std::pair<int, int> fittedSize(int width, int height) {
    if (width <= kMaxSide && height <= kMaxSide) return {width, height};
    const double scale = static_cast<double>(kMaxSide) / std::max(width, height);
    auto side = [scale](int n) { return std::clamp(static_cast<int>(n * scale + 0.5), 1, kMaxSide); };
    return {side(width), side(height)};
}

Expected<ImageData> decodeImage(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return Error(ImageError::notAPicture, "no bytes");
    Expected<glib::ObjectPtr<GdkPixbuf>> loaded = load(bytes, nullptr);
    // gdk-pixbuf recognises a format through the desktop's MIME database; where that cannot
    // be read, the common formats are tried by name.
    for (const char* type : {"png", "jpeg", "gif", "bmp", "tiff", "ico"}) {
        if (loaded || loaded.error().is(ImageError::tooLarge)) break;
        loaded = load(bytes, type);
    }
    if (!loaded) return loaded.error();
    glib::ObjectPtr<GdkPixbuf> pixbuf = std::move(*loaded);
    // A reader that ignored the requested size still gets its picture fitted here.
    const auto [w, h] = fittedSize(gdk_pixbuf_get_width(pixbuf.get()), gdk_pixbuf_get_height(pixbuf.get()));
    if (w != gdk_pixbuf_get_width(pixbuf.get()) || h != gdk_pixbuf_get_height(pixbuf.get())) {
        pixbuf.reset(gdk_pixbuf_scale_simple(pixbuf.get(), w, h, GDK_INTERP_BILINEAR));
        if (!pixbuf) return Error(ImageError::notAPicture, "the picture cannot be scaled");
    }
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
