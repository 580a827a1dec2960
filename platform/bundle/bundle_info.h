// The application bundle a library runs in: <Name>.app/Contents/MacOS/lib*.so, with its
// settings in Contents/Info.plist (info_plist.h). Libraries find it from their own location,
// the launcher from its executable's.
#pragma once

#include <optional>
#include <string>

namespace kestrane::bundle {

// The bundle folder around the file at path (a real path): two folders above it when they
// are Contents/MacOS; none otherwise.
std::optional<std::string> bundleOfFile(const std::string& path);

// The bundle folder around the shared object that holds address (a function of the caller's
// library), from the object's real path; none outside a bundle.
std::optional<std::string> bundleOfCode(const void* address);

struct BundleInfo {
    std::optional<std::string> name;      // CFBundleName
    std::optional<std::string> iconName;  // CFBundleIconName: the desktop icon's name
    std::optional<std::string> identifier;  // CFBundleIdentifier: the desktop entry's name once installed
};

// What Contents/Info.plist says; nothing for a missing, unreadable, oversized or malformed file.
BundleInfo readBundleInfo(const std::string& bundleFolder);

// The name of the running program (the bundle's, else the process's own).
std::string applicationName(const void* address);

}  // namespace kestrane::bundle
