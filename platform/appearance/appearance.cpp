#include "appearance.h"

#include <gio/gio.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>

#include "bus.h"
#include "glib_ptr.h"
#include "no_destructor.h"

namespace kestrane::appearance {

namespace {

constexpr const char* kNamespace = "org.freedesktop.appearance";
constexpr const char* kPortalName = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kSettingsInterface = "org.freedesktop.portal.Settings";

// How long the watch's own thread waits for the portal: D-Bus's default for a call. Callers
// wait far less (PortalWatch); an answer that comes later still counts.
constexpr std::chrono::seconds kAnswerLimit{25};

std::optional<Rgb> rgbOf(GVariant* value) {
    if (!g_variant_is_of_type(value, G_VARIANT_TYPE("(ddd)"))) return std::nullopt;
    Rgb rgb;
    g_variant_get(value, "(ddd)", &rgb.red, &rgb.green, &rgb.blue);
    // The portal marks "no accent colour" with components outside the range.
    for (double c : {rgb.red, rgb.green, rgb.blue}) {
        if (!(c >= 0.0 && c <= 1.0)) return std::nullopt;
    }
    return rgb;
}

enum class Setting { colorScheme, accentColor, other };

// Takes one appearance setting into values; which one it was. Older portals wrap a value
// in a second variant.
Setting takeSetting(PortalValues& values, std::string_view key, GVariant* value) {
    dbus::VariantPtr inner(g_variant_ref(value));
    while (g_variant_is_of_type(inner.get(), G_VARIANT_TYPE_VARIANT)) inner.reset(g_variant_get_variant(inner.get()));
    if (key == "color-scheme") {
        values.colorScheme.reset();
        if (g_variant_is_of_type(inner.get(), G_VARIANT_TYPE_UINT32)) values.colorScheme = g_variant_get_uint32(inner.get());
        return Setting::colorScheme;
    }
    if (key == "accent-color") {
        values.accent = rgbOf(inner.get());
        return Setting::accentColor;
    }
    return Setting::other;
}

// Every appearance setting of the portal, in one call.
Expected<PortalValues> readPortal(const dbus::Connection& connection, dbus::Clock::time_point deadline) {
    const char* namespaces[] = {kNamespace, nullptr};
    dbus::Call call{kPortalName, kPortalPath, kSettingsInterface, "ReadAll", g_variant_new("(^as)", namespaces),
                    G_VARIANT_TYPE("(a{sa{sv}})")};
    Expected<dbus::VariantPtr> reply = connection.call(call, deadline);
    if (!reply) return reply.error();
    PortalValues values;
    dbus::VariantPtr all(g_variant_get_child_value(reply->get(), 0));
    dbus::VariantPtr settings(g_variant_lookup_value(all.get(), kNamespace, G_VARIANT_TYPE("a{sv}")));
    if (!settings) return values;
    GVariantIter iter;
    g_variant_iter_init(&iter, settings.get());
    const char* key = nullptr;
    GVariant* value = nullptr;
    while (g_variant_iter_loop(&iter, "{&sv}", &key, &value)) takeSetting(values, key, value);
    return values;
}

// A string of GNOME's interface settings, read only where its schema and key are installed:
// GSettings aborts the process on a schema it does not know.
std::optional<std::string> gnomeInterfaceString(const char* name) {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();  // transfer none
    if (source == nullptr) return std::nullopt;
    glib::Owned<GSettingsSchema, g_settings_schema_unref> schema(
        g_settings_schema_source_lookup(source, "org.gnome.desktop.interface", TRUE));
    if (!schema || !g_settings_schema_has_key(schema.get(), name)) return std::nullopt;
    glib::Owned<GSettingsSchemaKey, g_settings_schema_key_unref> key(g_settings_schema_get_key(schema.get(), name));
    if (!g_variant_type_equal(g_settings_schema_key_get_value_type(key.get()), G_VARIANT_TYPE_STRING)) return std::nullopt;
    glib::ObjectPtr<GSettings> settings(g_settings_new_full(schema.get(), nullptr, nullptr));
    glib::CharPtr value(g_settings_get_string(settings.get(), name));
    return std::string(value.get());
}

// A theme named for its dark look ("Adwaita-dark", "Arc-Dark").
bool namesDarkTheme(std::string_view name) {
    constexpr std::string_view kSuffix = "-dark";
    if (name.size() < kSuffix.size()) return false;
    return g_ascii_strncasecmp(name.data() + name.size() - kSuffix.size(), kSuffix.data(), kSuffix.size()) == 0;
}

// GTK_THEME names a theme and, after a colon, its variant ("Adwaita:dark"); none when unset.
std::optional<bool> gtkThemeVariableIsDark() {
    const char* theme = std::getenv("GTK_THEME");
    if (theme == nullptr || *theme == '\0') return std::nullopt;
    const std::string_view value(theme);
    const std::size_t colon = value.find(':');
    if (colon != std::string_view::npos) return value.substr(colon + 1) == "dark" || namesDarkTheme(value.substr(0, colon));
    return namesDarkTheme(value);
}

}  // namespace

DarkPreference darkPreference(const PortalValues& portal) {
    if (portal.colorScheme == 1u || portal.colorScheme == 2u) return {*portal.colorScheme == 1u, Source::kPortal};
    if (const std::optional<std::string> scheme = gnomeInterfaceString("color-scheme")) {
        if (*scheme == "prefer-dark" || *scheme == "prefer-light") return {*scheme == "prefer-dark", Source::kGSettings};
    }
    if (const std::optional<bool> dark = gtkThemeVariableIsDark()) return {*dark, Source::kGtkTheme};
    if (const std::optional<std::string> theme = gnomeInterfaceString("gtk-theme"); theme && namesDarkTheme(*theme)) {
        return {true, Source::kGSettings};
    }
    return {};
}

DarkPreference darkPreference(std::chrono::milliseconds budget) {
    const dbus::Clock::time_point deadline = dbus::Clock::now() + budget;
    PortalValues portal;
    if (Expected<dbus::Connection> connection = dbus::Connection::open(G_BUS_TYPE_SESSION, deadline)) {
        if (Expected<PortalValues> values = readPortal(*connection, deadline)) portal = *values;
    }
    return darkPreference(portal);
}

namespace {

// What is known of the portal, shared with the signal filter (which runs on the connection's
// worker thread and so must not own the connection).
struct Known {
    std::mutex mutex;
    std::condition_variable answered;
    bool asked = false, done = false;
    dbus::Clock::time_point waitUntil{};
    PortalValues values;
    // Settings that changed since the first reading was asked for: its answer, older, must
    // not undo them.
    bool schemeChanged = false, accentChanged = false;

    void onSettingChanged(GDBusMessage* signal) {
        GVariant* body = g_dbus_message_get_body(signal);  // transfer none
        if (body == nullptr || !g_variant_is_of_type(body, G_VARIANT_TYPE("(ssv)"))) return;
        const char *space = nullptr, *key = nullptr;
        GVariant* raw = nullptr;
        g_variant_get(body, "(&s&sv)", &space, &key, &raw);
        const dbus::VariantPtr value(raw);
        if (std::string_view(space) != kNamespace) return;
        const std::lock_guard<std::mutex> lock(mutex);
        switch (takeSetting(values, key, value.get())) {
            case Setting::colorScheme: schemeChanged = true; break;
            case Setting::accentColor: accentChanged = true; break;
            case Setting::other: break;
        }
    }
};

}  // namespace

struct PortalWatch::State {
    explicit State(std::chrono::milliseconds wait) : firstWait(wait) {}
    const std::chrono::milliseconds firstWait;
    const std::shared_ptr<Known> known = std::make_shared<Known>();
    // Written once by the asking thread; kept open, as the signals come through it.
    std::optional<dbus::Connection> connection;
    std::optional<dbus::Connection::SignalWatch> watch;
};

namespace {

// Opens the connection, follows the portal's SettingChanged and reads every setting once.
void askPortal(const std::shared_ptr<PortalWatch::State>& state) {
    const dbus::Clock::time_point deadline = dbus::Clock::now() + kAnswerLimit;
    Expected<dbus::Connection> connection = dbus::Connection::open(G_BUS_TYPE_SESSION, deadline);
    std::optional<PortalValues> read;
    if (connection) {
        // Followed before the first reading, so that no change falls between the two.
        Expected<dbus::Connection::SignalWatch> watch = connection->watchSignals(
            {kPortalName, kPortalPath, kSettingsInterface, "SettingChanged"},
            [known = state->known](GDBusMessage* signal) { known->onSettingChanged(signal); }, deadline);
        if (watch) state->watch.emplace(std::move(*watch));
        if (Expected<PortalValues> values = readPortal(*connection, deadline)) read = std::move(*values);
        state->connection.emplace(std::move(*connection));
    }
    Known& known = *state->known;
    const std::lock_guard<std::mutex> lock(known.mutex);
    if (read) {
        if (!known.schemeChanged) known.values.colorScheme = read->colorScheme;
        if (!known.accentChanged) known.values.accent = read->accent;
    }
    known.done = true;
    known.answered.notify_all();
}

}  // namespace

PortalWatch::PortalWatch(std::chrono::milliseconds firstWait) : state_(std::make_shared<State>(firstWait)) {}

PortalWatch::~PortalWatch() = default;

PortalValues PortalWatch::values() {
    Known& known = *state_->known;
    std::unique_lock<std::mutex> lock(known.mutex);
    if (!known.asked) {
        known.asked = true;
        known.waitUntil = dbus::Clock::now() + state_->firstWait;
        try {
            std::thread([state = state_] { askPortal(state); }).detach();
        } catch (const std::system_error&) {
            known.done = true;  // no thread to ask with: the other sources answer
        }
    }
    known.answered.wait_until(lock, known.waitUntil, [&] { return known.done; });
    return known.values;
}

PortalWatch& processPortal() {
    static NoDestructor<PortalWatch> watch;
    return watch.get();
}

bool graphicalSession() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return true;
    }
    return false;
}

Look currentLook(PortalWatch& portal) {
    if (!graphicalSession()) return Look::unknown;
    return darkPreference(portal.values()).dark ? Look::dark : Look::light;
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

Rgba currentColor(UIColor color, PortalWatch& portal) {
    const PortalValues values = portal.values();
    return paletteColor(color, darkPreference(values).dark, values.accent);
}

}  // namespace kestrane::appearance
