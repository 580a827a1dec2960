#include "fake_notifications.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <atomic>

namespace kestrane::test {

namespace {

const char* kServerXml = R"(<node><interface name="org.freedesktop.Notifications">
  <method name="GetCapabilities"><arg type="as" direction="out"/></method>
  <method name="Notify"><arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
    <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
    <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/><arg type="u" direction="out"/></method>
  <method name="CloseNotification"><arg type="u" direction="in"/></method>
  <signal name="ActionInvoked"><arg type="u"/><arg type="s"/></signal>
  <signal name="NotificationClosed"><arg type="u"/><arg type="u"/></signal>
</interface></node>)";

}  // namespace

NotificationServer::NotificationServer(const std::string& address, bool actions)
    : last_(std::make_shared<std::shared_ptr<GVariant>>()) {
    auto last = last_;
    auto next = std::make_shared<std::atomic<unsigned>>(1);
    service_ = std::make_unique<FakeDBusService>(
        address, "org.freedesktop.Notifications", "/org/freedesktop/Notifications", kServerXml,
        [actions, last, next](const std::string& method, GVariant* parameters, GDBusMethodInvocation* invocation) {
            if (method == "GetCapabilities") {
                const gchar* with[] = {"actions", "body", "sound", nullptr};
                const gchar* without[] = {"body", nullptr};
                g_dbus_method_invocation_return_value(invocation, g_variant_new("(^as)", actions ? with : without));
            } else if (method == "Notify") {
                *last = std::shared_ptr<GVariant>(glib::VariantPtr(g_variant_ref(parameters)));
                g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", next->fetch_add(1)));
            } else {
                g_dbus_method_invocation_return_value(invocation, nullptr);
            }
        });
}

std::string NotificationServer::field(int index) const {
    const glib::VariantPtr child(g_variant_get_child_value(last(), index));
    const glib::CharPtr printed(g_variant_print(child.get(), FALSE));
    return printed.get();
}

glib::VariantPtr NotificationServer::hint(const char* name) const {
    const glib::VariantPtr hints(g_variant_get_child_value(last(), 6));
    return glib::VariantPtr(g_variant_lookup_value(hints.get(), name, nullptr));
}

namespace {

std::vector<std::uint8_t> encodePng(GdkPixbuf* pixbuf) {
    gchar* raw = nullptr;
    gsize size = 0;
    gdk_pixbuf_save_to_buffer(pixbuf, &raw, &size, "png", nullptr, nullptr);
    const glib::CharPtr buffer(raw);
    return std::vector<std::uint8_t>(buffer.get(), buffer.get() + size);
}

// PNG's chunk checksum (CRC-32 of ISO 3309).
std::uint32_t crc32(const std::uint8_t* data, std::size_t size) {
    std::uint32_t crc = 0xffffffffu;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void putBigEndian(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

}  // namespace

std::vector<std::uint8_t> plainPng(int width, int height) {
    const glib::ObjectPtr<GdkPixbuf> pixbuf(gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, width, height));
    gdk_pixbuf_fill(pixbuf.get(), 0x4080c0ffu);
    return encodePng(pixbuf.get());
}

std::vector<std::uint8_t> headerBombPng(std::uint32_t width, std::uint32_t height) {
    std::vector<std::uint8_t> png = pngOf(8, 8);
    // The signature (8 bytes), then IHDR: length (4), type (4), width, height, 5 more bytes, CRC.
    putBigEndian(&png[16], width);
    putBigEndian(&png[20], height);
    putBigEndian(&png[29], crc32(&png[12], 17));
    return png;
}

std::vector<std::uint8_t> pngOf(int width, int height) {
    const glib::ObjectPtr<GdkPixbuf> pixbuf(gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, width, height));
    guchar* pixels = gdk_pixbuf_get_pixels(pixbuf.get());
    const int stride = gdk_pixbuf_get_rowstride(pixbuf.get());
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            guchar* p = pixels + y * stride + x * 4;
            p[0] = static_cast<guchar>(x * 40);
            p[1] = static_cast<guchar>(y * 60);
            p[2] = 200;
            p[3] = 255;
        }
    }
    return encodePng(pixbuf.get());
}

}  // namespace kestrane::test
