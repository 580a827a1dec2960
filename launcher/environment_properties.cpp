#include "environment_properties.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "appearance.h"
#include "folders.h"
#include "keyboard.h"
#include "paths.h"

namespace kestrane::launcher {

namespace {

using folders::Domain;
using folders::Folder;

struct FolderRow {
    const char* name;
    Folder folder;
    Domain domain;
};

// The "System" rows are the machine-wide (local) folders.
constexpr FolderRow kFolderRows[] = {
    {"LibraryDirectory", Folder::library, Domain::user},
    {"DocumentsDirectory", Folder::documents, Domain::user},
    {"ApplicationSupportDirectory", Folder::applicationSupport, Domain::user},
    {"CachesDirectory", Folder::caches, Domain::user},
    {"ApplicationDirectory", Folder::applications, Domain::user},
    {"AutosavedInformationDirectory", Folder::autosavedInformation, Domain::user},
    {"DesktopDirectory", Folder::desktop, Domain::user},
    {"DownloadsDirectory", Folder::downloads, Domain::user},
    {"MoviesDirectory", Folder::movies, Domain::user},
    {"MusicDirectory", Folder::music, Domain::user},
    {"PicturesDirectory", Folder::pictures, Domain::user},
    {"SharedPublicDirectory", Folder::sharedPublic, Domain::user},
    {"SystemLibraryDirectory", Folder::library, Domain::local},
    {"SystemApplicationSupportDirectory", Folder::applicationSupport, Domain::local},
    {"SystemCachesDirectory", Folder::caches, Domain::local},
    {"SystemApplicationDirectory", Folder::applications, Domain::local},
    {"SystemUserDirectory", Folder::users, Domain::local},
};

struct ModifierRow {
    const char* name;
    std::uint64_t mask;
};

constexpr ModifierRow kModifierRows[] = {
    {"LaunchModifierFlagCapsLock", kCapsLockFlag},   {"LaunchModifierFlagShift", kShiftFlag},
    {"LaunchModifierFlagControl", kControlFlag},     {"LaunchModifierFlagOption", kOptionFlag},
    {"LaunchModifierFlagCommand", kCommandFlag},     {"LaunchModifierFlagNumericPad", kNumericPadFlag},
    {"LaunchModifierFlagHelp", kHelpFlag},           {"LaunchModifierFlagFunction", kFunctionFlag},
};

void addFolder(const EnvironmentSources& sources, const FolderRow& row, std::vector<std::string>& arguments) {
    if (std::optional<std::string> path = sources.folder(row.folder, row.domain)) {
        arguments.push_back("-D" + std::string(row.name) + "=" + *path);
    }
}

}  // namespace

std::optional<std::string> passwordHomeDirectory() {
    const long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    if (size == -1) return std::nullopt;
    std::vector<char> buffer(static_cast<std::size_t>(size));
    passwd entry {};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return std::nullopt;
    if (found->pw_dir == nullptr) return std::nullopt;
    return std::string(found->pw_dir);
}

bool runsInSandbox(const std::string& flatpakInfo) {
    const char* snap = std::getenv("SNAP");
    return exists(flatpakInfo) || (snap != nullptr && *snap != '\0');
}

EnvironmentSources EnvironmentSources::system() {
    return {folders::folderPath, passwordHomeDirectory, [] { return runsInSandbox(); },
            [] { return appearance::prefersDark(appearance::kDefaultBudget); }, currentModifierFlags};
}

void addDirectoryToSystemArguments(Folder folder, Domain domain, const std::string& name, std::vector<std::string>& arguments) {
    if (std::optional<std::string> path = folders::folderPath(folder, domain)) arguments.push_back("-D" + name + "=" + *path);
}

void addModifierFlagToSystemArguments(std::uint64_t mask, const std::string& name, std::uint64_t flags,
                                      std::vector<std::string>& arguments) {
    arguments.push_back("-D" + name + "=" + ((flags & mask) != 0 ? "true" : "false"));
}

std::vector<std::string> environmentProperties(const EnvironmentSources& sources) {
    std::vector<std::string> arguments;
    for (const FolderRow& row : kFolderRows) addFolder(sources, row, arguments);
    if (std::optional<std::string> home = sources.userHome()) arguments.push_back("-DUserHome=" + *home);
    arguments.push_back(std::string("-DSandboxEnabled=") + (sources.sandboxed() ? "true" : "false"));
    arguments.push_back(std::string("-DDarkMode=") + (sources.darkMode() ? "true" : "false"));
    if (std::optional<std::uint64_t> held = sources.modifierFlags()) {
        const std::uint64_t flags = *held & 0xffff0000u;
        arguments.push_back("-DLaunchModifierFlags=" + std::to_string(flags));
        for (const ModifierRow& row : kModifierRows) addModifierFlagToSystemArguments(row.mask, row.name, flags, arguments);
    }
    return arguments;
}

}  // namespace kestrane::launcher
