// What a Linux desktop needs to show an application bundle and open files with it: a desktop
// entry, the icon in the hicolor theme, a shared-MIME-info package for the file types the
// system does not know. install and uninstall put them under a data folder (with a manifest
// of what they wrote); deb writes the same files into a package.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tool_support.h"

namespace kestrane::bundletool {

// A bundle as the desktop sees it, read from its Info.plist.
struct DesktopApp {
    std::filesystem::path bundle;
    std::string name, identifier, version, categories, mainClass, windowClass;
    std::optional<std::filesystem::path> icon;
    std::vector<FileType> fileTypes;
    bool bundlesRuntime = false;
    std::optional<int> javaVersion;  // JVMVersion's number, without a bundled runtime
};
DesktopApp readDesktopApp(const std::filesystem::path& bundle);

// The sizes the icon is scaled to in the hicolor theme.
inline constexpr int kIconSizes[] = {16, 32, 48, 64, 128, 256};

// Writes the icons, the MIME package and the entry under dataDir (a share folder), the entry
// naming launcher; mimeDataDirs are the share folders whose MIME database counts as the
// system's. Each file goes into written as soon as it is there, so that a failure half way
// can be undone.
void writeDesktopFiles(const DesktopApp& app, const std::filesystem::path& dataDir, const std::filesystem::path& launcher,
                       const std::vector<std::filesystem::path>& mimeDataDirs, std::vector<std::filesystem::path>& written);

// install and uninstall: the user's data folder ($XDG_DATA_HOME) or /usr/local/share.
// uninstall takes the bundle or its identifier.
void install(const std::filesystem::path& bundle, bool system);
void uninstall(const std::string& bundleOrIdentifier, bool system);

}  // namespace kestrane::bundletool
