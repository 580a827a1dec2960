// The "-D" properties that tell the Java application about the user's environment at the
// moment of launch: standard folders, the home folder, the sandbox, the dark appearance and
// the modifier keys held while the application was opened.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "folders.h"

namespace kestrane::launcher {

// Where the values come from. system() reads this machine; tests replace any of them.
struct EnvironmentSources {
    std::function<std::optional<std::string>(folders::Folder, folders::Domain)> folder;
    std::function<std::optional<std::string>()> userHome;
    std::function<bool()> sandboxed;
    std::function<bool()> darkMode;
    std::function<std::optional<std::uint64_t>()> modifierFlags;  // none: the keyboard cannot be read

    static EnvironmentSources system();
};

// The home directory of the user's password entry, looked up exactly once with a buffer of
// the size sysconf names; none when sysconf cannot say or the lookup fails.
std::optional<std::string> passwordHomeDirectory();
// Whether the application runs in a sandbox container: Flatpak (the file flatpakInfo exists)
// or Snap (SNAP is set).
bool runsInSandbox(const std::string& flatpakInfo = "/.flatpak-info");

// Appends "-D<name>=<path>" when the desktop knows that folder in that domain.
void addDirectoryToSystemArguments(folders::Folder folder, folders::Domain domain, const std::string& name,
                                   std::vector<std::string>& arguments);
// Appends "-D<name>=true" when flags has a bit of mask, else "-D<name>=false".
void addModifierFlagToSystemArguments(std::uint64_t mask, const std::string& name, std::uint64_t flags,
                                      std::vector<std::string>& arguments);

// Every environment property, in order: seventeen folders, UserHome, SandboxEnabled,
// DarkMode, LaunchModifierFlags and the eight modifier properties (each under its condition).
std::vector<std::string> environmentProperties(const EnvironmentSources& sources);

}  // namespace kestrane::launcher
