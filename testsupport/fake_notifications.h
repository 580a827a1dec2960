// A notification server of the test's own (org.freedesktop.Notifications on a test bus):
// numbers notifications from 1, keeps the last Notify's arguments and records every call.
#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fake_dbus_service.h"
#include "glib_ptr.h"

namespace kestrane::test {

class NotificationServer {
public:
    // actions: whether GetCapabilities names "actions" (clicks can be reported).
    NotificationServer(const std::string& address, bool actions);

    GVariant* last() const { return last_->get(); }  // the last Notify's arguments, or null
    std::string field(int index) const;              // one of them, printed
    glib::VariantPtr hint(const char* name) const;   // null when the last Notify had no such hint
    FakeDBusService& service() { return *service_; }

private:
    std::shared_ptr<std::shared_ptr<GVariant>> last_;
    std::unique_ptr<FakeDBusService> service_;
};

// A PNG of width x height with a gradient: red = 40 x, green = 60 y, blue 200, opaque.
std::vector<std::uint8_t> pngOf(int width, int height);
// A PNG of width x height in one colour: small however large it is.
std::vector<std::uint8_t> plainPng(int width, int height);
// A PNG of a few hundred bytes whose header claims width x height (its data is for 8 x 8).
std::vector<std::uint8_t> headerBombPng(std::uint32_t width, std::uint32_t height);

}  // namespace kestrane::test
