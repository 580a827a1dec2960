#include "fake_portal.h"

namespace kestrane::test {

namespace {

const char* kPortalXml = R"(<node><interface name="org.freedesktop.portal.Settings">
  <method name="Read"><arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="v" direction="out"/></method>
  <method name="ReadOne"><arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="v" direction="out"/></method>
</interface></node>)";

}  // namespace

std::unique_ptr<FakeDBusService> startPortal(const std::string& address, PortalSettings settings) {
    return std::make_unique<FakeDBusService>(
        address, "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop", kPortalXml,
        [settings](const std::string& method, GVariant* parameters, GDBusMethodInvocation* invocation) {
            if (settings.hang) return;  // the invocation is never answered
            if (method == "ReadOne" && !settings.readOne) {
                g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.UnknownMethod", "no ReadOne");
                return;
            }
            const gchar *ns = nullptr, *key = nullptr;
            g_variant_get(parameters, "(&s&s)", &ns, &key);
            const bool appearance = std::string(ns) == "org.freedesktop.appearance";
            GVariant* value = nullptr;
            if (appearance && std::string(key) == "color-scheme" && settings.colorScheme) {
                value = g_variant_new_uint32(*settings.colorScheme);
            } else if (appearance && std::string(key) == "accent-color" && settings.accentColor) {
                const auto& c = *settings.accentColor;
                value = g_variant_new("(ddd)", c[0], c[1], c[2]);
            }
            if (value == nullptr) {
                g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.portal.Error.NotFound", "not found");
                return;
            }
            if (method == "Read") value = g_variant_new_variant(value);
            g_dbus_method_invocation_return_value(invocation, g_variant_new("(v)", value));
        });
}

}  // namespace kestrane::test
