// The application bundle a library runs in: <Name>.app/Contents/MacOS/lib*.so, with its
// settings in Contents/Info.plist. Libraries find it from their own location.
#pragma once

#include <optional>
#include <string>

namespace kestrane::bundle {

// The bundle folder around the shared object that holds address (a function of the caller's
// library): two folders above it when they are Contents/MacOS; none otherwise.
std::optional<std::string> bundleOfCode(const void* address);

struct BundleInfo {
    std::optional<std::string> name;      // CFBundleName
    std::optional<std::string> iconName;  // CFBundleIconName: the desktop icon's name
};

// What Contents/Info.plist says (XML or binary); nothing for a missing or unreadable file.
BundleInfo readBundleInfo(const std::string& bundleFolder);

// The name of the running program (the bundle's, else the process's own).
std::string applicationName(const void* address);

}  // namespace kestrane::bundle
