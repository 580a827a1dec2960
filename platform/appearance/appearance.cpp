#include "appearance.h"

#include <gio/gio.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "bus.h"
#include "glib_ptr.h"

namespace kestrane::appearance {

namespace {

constexpr const char* kNamespace = "org.freedesktop.appearance";

// One setting of the portal, unwrapped to its value; none when no portal answers or it has
// no such setting. ReadOne is tried first; a portal older than it (Debian 12's) answers only
// Read, whose value comes wrapped in a second variant.
std::optional<dbus::VariantPtr> readPortalSetting(const char* key, std::chrono::milliseconds budget) {
    const dbus::Clock::time_point deadline = dbus::Clock::now() + budget;
    Expected<dbus::Connection> connection = dbus::Connection::open(G_BUS_TYPE_SESSION, deadline);
    if (!connection) return std::nullopt;
    for (const char* method : {"ReadOne", "Read"}) {
        dbus::Call call{"org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                        "org.freedesktop.portal.Settings", method, g_variant_new("(ss)", kNamespace, key),
                        G_VARIANT_TYPE("(v)")};
        Expected<dbus::VariantPtr> reply = connection->call(call, deadline);
        if (!reply) {
            if (reply.error().is(dbus::BusError::unknownMethod)) continue;
            return std::nullopt;
        }
        dbus::VariantPtr value(g_variant_get_child_value(reply->get(), 0));
        dbus::VariantPtr inner(g_variant_get_variant(value.get()));
        while (g_variant_is_of_type(inner.get(), G_VARIANT_TYPE_VARIANT)) inner.reset(g_variant_get_variant(inner.get()));
        return inner;
    }
    return std::nullopt;
}

// GNOME's own setting, read only where its schema and key are installed: GSettings aborts
// the process on a schema it does not know.
std::optional<bool> gnomePrefersDark() {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();  // transfer none
    if (source == nullptr) return std::nullopt;
    glib::Owned<GSettingsSchema, g_settings_schema_unref> schema(
        g_settings_schema_source_lookup(source, "org.gnome.desktop.interface", TRUE));
    if (!schema || !g_settings_schema_has_key(schema.get(), "color-scheme")) return std::nullopt;
    glib::Owned<GSettingsSchemaKey, g_settings_schema_key_unref> key(g_settings_schema_get_key(schema.get(), "color-scheme"));
    if (!g_variant_type_equal(g_settings_schema_key_get_value_type(key.get()), G_VARIANT_TYPE_STRING)) return std::nullopt;
    glib::ObjectPtr<GSettings> settings(g_settings_new_full(schema.get(), nullptr, nullptr));
    glib::CharPtr scheme(g_settings_get_string(settings.get(), "color-scheme"));
    return std::strcmp(scheme.get(), "prefer-dark") == 0;
}

}  // namespace

DarkPreference darkPreference(std::chrono::milliseconds budget) {
    if (std::optional<dbus::VariantPtr> scheme = readPortalSetting("color-scheme", budget)) {
        if (g_variant_is_of_type(scheme->get(), G_VARIANT_TYPE_UINT32)) {
            return {g_variant_get_uint32(scheme->get()) == 1, Source::kPortal};
        }
    }
    if (std::optional<bool> dark = gnomePrefersDark()) return {*dark, Source::kGSettings};
    if (const char* theme = std::getenv("GTK_THEME"); theme != nullptr && *theme != '\0') {
        const std::string_view name(theme);
        return {name.size() >= 5 && name.substr(name.size() - 5) == ":dark", Source::kGtkTheme};
    }
    return {};
}

std::optional<Rgb> accentColor(std::chrono::milliseconds budget) {
    std::optional<dbus::VariantPtr> value = readPortalSetting("accent-color", budget);
    if (!value || !g_variant_is_of_type(value->get(), G_VARIANT_TYPE("(ddd)"))) return std::nullopt;
    Rgb rgb;
    g_variant_get(value->get(), "(ddd)", &rgb.red, &rgb.green, &rgb.blue);
    // The portal marks "no accent colour" with components outside the range.
    for (double c : {rgb.red, rgb.green, rgb.blue}) {
        if (!(c >= 0.0 && c <= 1.0)) return std::nullopt;
    }
    return rgb;
}

bool graphicalSession() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return true;
    }
    return false;
}

Look currentLook(std::chrono::milliseconds budget) {
    if (!graphicalSession()) return Look::unknown;
    return prefersDark(budget) ? Look::dark : Look::light;
}

Rgba paletteColor(UIColor color, bool dark, const std::optional<Rgb>& accent) {
    auto hex = [](unsigned rgb, double alpha = 1.0) {
        return Rgba{((rgb >> 16) & 0xff) / 255.0, ((rgb >> 8) & 0xff) / 255.0, (rgb & 0xff) / 255.0, alpha};
    };
    switch (color) {
        case UIColor::kControl: return dark ? hex(0x303030) : hex(0xf6f5f4);            // button face
        case UIColor::kControlBackground: return dark ? hex(0x1e1e1e) : hex(0xffffff);  // view background
        case UIColor::kFindHighlight: return dark ? hex(0xf5c211) : hex(0xf8e45c);      // search match (yellow)
        case UIColor::kHighlight: return dark ? hex(0x5e5c64) : hex(0xffffff);          // lit edge
        case UIColor::kShadow: return dark ? hex(0x000000, 0.36) : hex(0x000000, 0.07); // shade
        case UIColor::kSelectedControl: return dark ? hex(0x1c71d8) : hex(0x3584e4);    // selection
        case UIColor::kControlAccent:
            if (accent) return {accent->red, accent->green, accent->blue, 1.0};
            return hex(0x3584e4);  // accent background, both palettes
    }
    return {};
}

Rgba currentColor(UIColor color, std::chrono::milliseconds budget) {
    const auto deadline = std::chrono::steady_clock::now() + budget;
    const bool dark = prefersDark(budget);
    std::optional<Rgb> accent;
    if (color == UIColor::kControlAccent) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() > 0) accent = accentColor(left);
    }
    return paletteColor(color, dark, accent);
}

}  // namespace kestrane::appearance
