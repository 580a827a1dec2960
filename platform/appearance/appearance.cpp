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
            if (reply.error().code == dbus::kUnknownMethod) continue;
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

}  // namespace kestrane::appearance
