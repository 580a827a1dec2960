#include "fake_portal.h"

#include <thread>

namespace kestrane::test {

namespace {

constexpr const char* kNamespace = "org.freedesktop.appearance";
constexpr const char* kInterface = "org.freedesktop.portal.Settings";

const char* kPortalXml = R"(<node><interface name="org.freedesktop.portal.Settings">
  <method name="ReadAll"><arg type="as" direction="in"/><arg type="a{sa{sv}}" direction="out"/></method>
  <method name="Read"><arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="v" direction="out"/></method>
  <method name="ReadOne"><arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="v" direction="out"/></method>
  <signal name="SettingChanged"><arg type="s"/><arg type="s"/><arg type="v"/></signal>
</interface></node>)";

// The value of one appearance setting (floating), or null where the portal has none.
GVariant* valueOf(const PortalSettings& settings, const std::string& key) {
    if (key == "color-scheme" && settings.colorScheme) return g_variant_new_uint32(*settings.colorScheme);
    if (key == "accent-color" && settings.accentColor) {
        const auto& c = *settings.accentColor;
        return g_variant_new("(ddd)", c[0], c[1], c[2]);
    }
    return nullptr;
}

GVariant* readAll(const PortalSettings& settings, GVariant* parameters) {
    GVariantBuilder all;
    g_variant_builder_init(&all, G_VARIANT_TYPE("a{sa{sv}}"));
    glib::VariantPtr wanted(g_variant_get_child_value(parameters, 0));
    gsize count = 0;
    glib::Owned<const gchar*, g_free> names(g_variant_get_strv(wanted.get(), &count));
    bool appearance = count == 0;  // no namespaces: all of them
    for (gsize i = 0; i < count; ++i) appearance = appearance || std::string(names.get()[i]) == kNamespace;
    if (appearance) {
        GVariantBuilder values;
        g_variant_builder_init(&values, G_VARIANT_TYPE("a{sv}"));
        for (const char* key : {"color-scheme", "accent-color"}) {
            if (GVariant* value = valueOf(settings, key)) g_variant_builder_add(&values, "{sv}", key, value);
        }
        g_variant_builder_add(&all, "{sa{sv}}", kNamespace, &values);
    }
    return g_variant_new("(a{sa{sv}})", &all);
}

FakeDBusService::Handler handlerOf(std::shared_ptr<FakePortal::Shared> shared) {
    return [shared](const std::string& method, GVariant* parameters, GDBusMethodInvocation* invocation) {
        PortalSettings settings = [&] {
            const std::lock_guard<std::mutex> lock(shared->mutex);
            return shared->settings;
        }();
        if (settings.hang) return;  // the invocation is never answered
        std::this_thread::sleep_for(settings.delay);
        if (method == "ReadAll") return g_dbus_method_invocation_return_value(invocation, readAll(settings, parameters));
        if (method == "ReadOne" && !settings.readOne) {
            g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.UnknownMethod", "no ReadOne");
            return;
        }
        const gchar *ns = nullptr, *key = nullptr;
        g_variant_get(parameters, "(&s&s)", &ns, &key);
        GVariant* value = std::string(ns) == kNamespace ? valueOf(settings, key) : nullptr;
        if (value == nullptr) {
            g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.portal.Error.NotFound", "not found");
            return;
        }
        if (method == "Read") value = g_variant_new_variant(value);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(v)", value));
    };
}

}  // namespace

FakePortal::FakePortal(const std::string& address, PortalSettings settings)
    : FakePortal(address, std::make_shared<Shared>(std::move(settings))) {}

FakePortal::FakePortal(const std::string& address, std::shared_ptr<Shared> shared)
    : FakeDBusService(address, "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop", kPortalXml,
                      handlerOf(shared)),
      shared_(std::move(shared)) {}

void FakePortal::changeColorScheme(unsigned scheme) {
    {
        const std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->settings.colorScheme = scheme;
    }
    emitSignal(kInterface, "SettingChanged", g_variant_new("(ssv)", kNamespace, "color-scheme", g_variant_new_uint32(scheme)));
}

void FakePortal::changeAccentColor(std::array<double, 3> rgb) {
    {
        const std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->settings.accentColor = rgb;
    }
    emitSignal(kInterface, "SettingChanged",
               g_variant_new("(ssv)", kNamespace, "accent-color", g_variant_new("(ddd)", rgb[0], rgb[1], rgb[2])));
}

std::unique_ptr<FakePortal> startPortal(const std::string& address, PortalSettings settings) {
    return std::make_unique<FakePortal>(address, std::move(settings));
}

}  // namespace kestrane::test
