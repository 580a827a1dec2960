// The desktop's appearance preference: whether the user asked for a dark appearance, and the
// accent colour they chose. Read from the XDG desktop portal's settings (namespace
// org.freedesktop.appearance) on the session bus, then GNOME's GSettings, then GTK_THEME.
// Every read asks anew: the user may switch while the application runs.
#pragma once

#include <chrono>
#include <optional>

namespace kestrane::appearance {

// How long one reading may take at most; a portal that hangs costs no more.
constexpr std::chrono::milliseconds kDefaultBudget{200};

enum class Source { kPortal, kGSettings, kGtkTheme, kNone };

struct DarkPreference {
    bool dark = false;
    Source source = Source::kNone;  // where the answer came from
};

// The first source that answers: the portal's "color-scheme" (1 = prefer dark; ReadOne, or
// Read where the portal is older), GNOME's org.gnome.desktop.interface color-scheme
// ('prefer-dark') when that schema is installed, GTK_THEME ending in ":dark".
DarkPreference darkPreference(std::chrono::milliseconds budget = kDefaultBudget);
inline bool prefersDark(std::chrono::milliseconds budget = kDefaultBudget) { return darkPreference(budget).dark; }

struct Rgb {
    double red = 0, green = 0, blue = 0;  // sRGB, 0 to 1
};

// The portal's "accent-color" when the desktop offers one (three doubles in [0, 1]).
std::optional<Rgb> accentColor(std::chrono::milliseconds budget = kDefaultBudget);

// Whether there is a graphical session to have an appearance at all (DISPLAY or
// WAYLAND_DISPLAY set).
bool graphicalSession();

// The desktop's look: light or dark as the user prefers, unknown without a graphical session
// (there is no appearance to tell then).
enum class Look { unknown, light, dark };
Look currentLook(std::chrono::milliseconds budget = kDefaultBudget);

// Interface colours the application draws with, from two palettes after GNOME's Adwaita
// (light and dark); the accent follows the desktop's accent colour where it offers one.
enum class UIColor { kControl, kControlBackground, kFindHighlight, kHighlight, kShadow, kSelectedControl, kControlAccent };

struct Rgba {
    double red = 0, green = 0, blue = 0, alpha = 0;  // sRGB, 0 to 1
};

// The palette's colour; accent replaces the palette's accent for kControlAccent.
Rgba paletteColor(UIColor color, bool dark, const std::optional<Rgb>& accent);

// The colour for the desktop's current preference (and accent colour, for kControlAccent).
Rgba currentColor(UIColor color, std::chrono::milliseconds budget = kDefaultBudget);

}  // namespace kestrane::appearance
