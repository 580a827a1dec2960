#include "keyboard.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <dlfcn.h>

#include <cstdlib>
#include <type_traits>

namespace kestrane::launcher {

namespace {

// The few libX11 functions used, bound at run time.
struct X11 {
    decltype(&XOpenDisplay) openDisplay = nullptr;
    decltype(&XCloseDisplay) closeDisplay = nullptr;
    decltype(&XDefaultRootWindow) defaultRootWindow = nullptr;
    decltype(&XQueryPointer) queryPointer = nullptr;
    decltype(&XGetModifierMapping) getModifierMapping = nullptr;
    decltype(&XFreeModifiermap) freeModifiermap = nullptr;
    decltype(&XkbKeycodeToKeysym) keycodeToKeysym = nullptr;

    // The library stays loaded: it is small, and unloading Xlib is not safe.
    static const X11* load() {
        static const X11 x = [] {
            X11 bound;
            void* lib = dlopen("libX11.so.6", RTLD_LAZY | RTLD_LOCAL);
            if (lib == nullptr) return bound;
            auto bind = [lib](auto& fn, const char* name) { fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(lib, name)); };
            bind(bound.openDisplay, "XOpenDisplay");
            bind(bound.closeDisplay, "XCloseDisplay");
            bind(bound.defaultRootWindow, "XDefaultRootWindow");
            bind(bound.queryPointer, "XQueryPointer");
            bind(bound.getModifierMapping, "XGetModifierMapping");
            bind(bound.freeModifiermap, "XFreeModifiermap");
            bind(bound.keycodeToKeysym, "XkbKeycodeToKeysym");
            return bound;
        }();
        const bool complete = x.openDisplay && x.closeDisplay && x.defaultRootWindow && x.queryPointer &&
                              x.getModifierMapping && x.freeModifiermap && x.keycodeToKeysym;
        return complete ? &x : nullptr;
    }
};

// Which of Mod1 to Mod5 carry Alt, Super and Num Lock depends on the keyboard map, so the
// server's modifier mapping is asked.
struct ModifierMasks {
    unsigned alt = 0, super = 0, numLock = 0;
};

ModifierMasks modifierMasks(const X11& x, Display* display) {
    ModifierMasks masks;
    XModifierKeymap* map = x.getModifierMapping(display);
    if (map == nullptr) return masks;
    for (int modifier = Mod1MapIndex; modifier <= Mod5MapIndex; ++modifier) {
        for (int i = 0; i < map->max_keypermod; ++i) {
            const KeyCode code = map->modifiermap[modifier * map->max_keypermod + i];
            if (code == 0) continue;
            const KeySym sym = x.keycodeToKeysym(display, code, 0, 0);
            const unsigned bit = 1u << modifier;
            if (sym == XK_Alt_L || sym == XK_Alt_R || sym == XK_Meta_L || sym == XK_Meta_R) masks.alt |= bit;
            if (sym == XK_Super_L || sym == XK_Super_R) masks.super |= bit;
            if (sym == XK_Num_Lock) masks.numLock |= bit;
        }
    }
    x.freeModifiermap(map);
    return masks;
}

}  // namespace

std::optional<std::uint64_t> currentModifierFlags() {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') return std::nullopt;
    const X11* x = X11::load();
    if (x == nullptr) return std::nullopt;
    Display* display = x->openDisplay(name);
    if (display == nullptr) return std::nullopt;
    Window root = 0, child = 0;
    int rootX = 0, rootY = 0, winX = 0, winY = 0;
    unsigned state = 0;
    x->queryPointer(display, x->defaultRootWindow(display), &root, &child, &rootX, &rootY, &winX, &winY, &state);
    const ModifierMasks masks = modifierMasks(*x, display);
    x->closeDisplay(display);
    std::uint64_t flags = 0;
    if (state & LockMask) flags |= kCapsLockFlag;
    if (state & ShiftMask) flags |= kShiftFlag;
    if (state & ControlMask) flags |= kControlFlag;
    if (state & masks.alt) flags |= kOptionFlag;
    if (state & masks.super) flags |= kCommandFlag;
    if (state & masks.numLock) flags |= kNumericPadFlag;
    return flags;
}

}  // namespace kestrane::launcher
