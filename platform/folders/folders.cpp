#include "folders.h"

#include <glib.h>

namespace kestrane::folders {

namespace {

std::string home() {
    return g_get_home_dir();
}

// An XDG user directory from user-dirs.dirs, or its conventional fallback in the home folder.
std::string userDir(GUserDirectory which, const char* fallback) {
    // The table is read again on every request, so that a changed user-dirs.dirs counts.
    g_reload_user_special_dirs_cache();
    const char* dir = g_get_user_special_dir(which);
    if (dir != nullptr && *dir != '\0') return dir;
    return home() + "/" + fallback;
}

// Base directories: the variable when it holds an absolute path, else the default.
std::string baseDir(const char* variable, const char* fallback) {
    const char* value = g_getenv(variable);
    if (value != nullptr && value[0] == '/') return value;
    return home() + "/" + fallback;
}

std::string dataHome() { return baseDir("XDG_DATA_HOME", ".local/share"); }

std::string userFolder(long directory) {
    switch (directory) {
        case 1: return dataHome() + "/applications";
        case 5: return dataHome();
        case 9: return userDir(G_USER_DIRECTORY_DOCUMENTS, "Documents");
        case 11: return baseDir("XDG_STATE_HOME", ".local/state");
        case 12: return userDir(G_USER_DIRECTORY_DESKTOP, "Desktop");
        case kCachesDirectory: return baseDir("XDG_CACHE_HOME", ".cache");
        case 14: return dataHome();
        case 15: return userDir(G_USER_DIRECTORY_DOWNLOAD, "Downloads");
        case 17: return userDir(G_USER_DIRECTORY_VIDEOS, "Videos");
        case 18: return userDir(G_USER_DIRECTORY_MUSIC, "Music");
        case 19: return userDir(G_USER_DIRECTORY_PICTURES, "Pictures");
        case 21: return userDir(G_USER_DIRECTORY_PUBLIC_SHARE, "Public");
        case 102: return dataHome() + "/Trash";
        default: return "";
    }
}

std::string localFolder(long directory) {
    switch (directory) {
        case 1: return "/usr/share/applications";
        case 5:
        case 14: return "/usr/local/share";
        case 7: return "/home";
        case kCachesDirectory: return "/var/cache";
        default: return "";
    }
}

}  // namespace

std::vector<std::string> searchPathForDirectoriesInDomains(long directory, long domainMask) {
    std::vector<std::string> out;
    if ((domainMask & kUserDomain) != 0) {
        if (std::string f = userFolder(directory); !f.empty()) out.push_back(f);
    }
    if ((domainMask & kLocalDomain) != 0) {
        if (std::string f = localFolder(directory); !f.empty()) out.push_back(f);
    }
    return out;
}

}  // namespace kestrane::folders
