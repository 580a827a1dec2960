// The modifier keys held right now, read from the X11 display. libX11 is loaded when it is
// needed, so the launcher runs where it is not installed.
#pragma once

#include <cstdint>
#include <optional>

namespace kestrane::launcher {

// The device-independent modifier bits the Java application receives.
constexpr std::uint64_t kCapsLockFlag = 0x10000;
constexpr std::uint64_t kShiftFlag = 0x20000;
constexpr std::uint64_t kControlFlag = 0x40000;
constexpr std::uint64_t kOptionFlag = 0x80000;     // Alt
constexpr std::uint64_t kCommandFlag = 0x100000;   // Super
constexpr std::uint64_t kNumericPadFlag = 0x200000;  // Num Lock
constexpr std::uint64_t kHelpFlag = 0x400000;      // no such key here: always clear
constexpr std::uint64_t kFunctionFlag = 0x800000;  // no such key here: always clear

// The flags of the keys held now on the X11 display named by DISPLAY; none when there is no
// such display (a Wayland session without XWayland, a terminal) or libX11 is missing.
std::optional<std::uint64_t> currentModifierFlags();

}  // namespace kestrane::launcher
