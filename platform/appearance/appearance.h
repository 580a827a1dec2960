// The desktop's appearance preference: whether the user asked for a dark appearance, and the
// accent colour they chose. Read from the XDG desktop portal's settings (namespace
// org.freedesktop.appearance) on the session bus, then GNOME's GSettings, then GTK_THEME.
// A running application asks the portal once and follows its SettingChanged signal
// (PortalWatch), since the user may switch while it runs; a launch reads once.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

namespace kestrane::appearance {

// How long one reading may take at most; a portal that hangs costs no more.
constexpr std::chrono::milliseconds kDefaultBudget{200};

enum class Source { kPortal, kGSettings, kGtkTheme, kNone };

struct DarkPreference {
    bool dark = false;
    Source source = Source::kNone;  // where the answer came from
};

struct Rgb {
    double red = 0, green = 0, blue = 0;  // sRGB, 0 to 1
};

// What the portal said: its "color-scheme" (0 no preference, 1 prefer dark, 2 prefer light)
// and "accent-color" (none where the user chose none); none where no portal answered.
struct PortalValues {
    std::optional<std::uint32_t> colorScheme;
    std::optional<Rgb> accent;
};

// The portal's values for the life of the process: asked for once (ReadAll), on a thread of
// their own, and kept current by the portal's SettingChanged signal. Only calls made within
// firstWait of the first one wait for the answer (all of them together, once); every later
// call answers at once with what is known, so a slow or silent portal costs one wait per
// process. Safe from several threads.
class PortalWatch {
public:
    explicit PortalWatch(std::chrono::milliseconds firstWait = kDefaultBudget);
    ~PortalWatch();
    PortalWatch(const PortalWatch&) = delete;
    PortalWatch& operator=(const PortalWatch&) = delete;
    PortalValues values();

    struct State;

private:
    std::shared_ptr<State> state_;
};

// The process's watch, made on first use and never destroyed.
PortalWatch& processPortal();

// The first source that states a preference: the portal's color-scheme (1 dark, 2 light),
// GNOME's org.gnome.desktop.interface color-scheme ('prefer-dark', 'prefer-light') where
// that schema is installed, GTK_THEME (a ":dark" variant or a theme named "…-dark"), GNOME's
// gtk-theme named "…-dark". "No preference" (0, 'default') passes on to the next source, as
// GTK applications themselves do; nothing at all means light.
DarkPreference darkPreference(const PortalValues& portal);
// The same with the portal asked once, within budget (a launch).
DarkPreference darkPreference(std::chrono::milliseconds budget = kDefaultBudget);
inline bool prefersDark(std::chrono::milliseconds budget = kDefaultBudget) { return darkPreference(budget).dark; }

// Whether there is a graphical session to have an appearance at all (DISPLAY or
// WAYLAND_DISPLAY set).
bool graphicalSession();

// The desktop's look: light or dark as the user prefers, unknown without a graphical session
// (there is no appearance to tell then).
enum class Look { unknown, light, dark };
Look currentLook(PortalWatch& portal = processPortal());

// Interface colours the application draws with, from two palettes after GNOME's Adwaita
// (light and dark); the accent follows the desktop's accent colour where it offers one.
enum class UIColor { kControl, kControlBackground, kFindHighlight, kHighlight, kShadow, kSelectedControl, kControlAccent };

struct Rgba {
    double red = 0, green = 0, blue = 0, alpha = 0;  // sRGB, 0 to 1
};

// The palette's colour; accent replaces the palette's accent for kControlAccent.
Rgba paletteColor(UIColor color, bool dark, const std::optional<Rgb>& accent);

// The colour for the desktop's current preference (and accent colour, for kControlAccent).
Rgba currentColor(UIColor color, PortalWatch& portal = processPortal());

}  // namespace kestrane::appearance
