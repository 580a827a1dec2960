// A stand-in for the XDG desktop portal's Settings interface on a test's bus, serving the
// appearance settings (color-scheme, accent-color) through ReadOne and the older Read, or
// only Read, or never answering.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "fake_dbus_service.h"

namespace kestrane::test {

struct PortalSettings {
    PortalSettings(std::optional<unsigned> scheme = std::nullopt, std::optional<std::array<double, 3>> accent = std::nullopt,
                   bool withReadOne = true, bool hangs = false)
        : colorScheme(scheme), accentColor(accent), readOne(withReadOne), hang(hangs) {}

    std::optional<unsigned> colorScheme;  // 0 none, 1 prefer dark, 2 prefer light
    std::optional<std::array<double, 3>> accentColor;
    bool readOne;  // false: a portal that only has Read (its value wrapped once more)
    bool hang;     // never answers
};

std::unique_ptr<FakeDBusService> startPortal(const std::string& address, PortalSettings settings);

}  // namespace kestrane::test
