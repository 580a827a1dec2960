// A stand-in for the XDG desktop portal's Settings interface on a test's bus, serving the
// appearance settings (color-scheme, accent-color) through ReadAll, ReadOne and the older
// Read, or only ReadAll and Read; answering at once, late, or never; and announcing changes
// with SettingChanged.
#pragma once

#include <array>
#include <chrono>
#include <memory>
#include <mutex>
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
    bool readOne;  // false: a portal that only has Read (its value wrapped once more) and ReadAll
    bool hang;     // never answers
    std::chrono::milliseconds delay{0};  // answers this late
};

class FakePortal : public FakeDBusService {
public:
    FakePortal(const std::string& address, PortalSettings settings);

    // Change a setting and announce it with SettingChanged, as the portal does.
    void changeColorScheme(unsigned scheme);
    void changeAccentColor(std::array<double, 3> rgb);

    struct Shared {
        explicit Shared(PortalSettings initial) : settings(std::move(initial)) {}
        std::mutex mutex;
        PortalSettings settings;
    };

private:
    FakePortal(const std::string& address, std::shared_ptr<Shared> shared);
    std::shared_ptr<Shared> shared_;
};

std::unique_ptr<FakePortal> startPortal(const std::string& address, PortalSettings settings);

}  // namespace kestrane::test
