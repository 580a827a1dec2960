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

std::optional<std::string> userFolder(Folder folder) {
    switch (folder) {
        case Folder::applications: return dataHome() + "/applications";
        case Folder::library:
        case Folder::applicationSupport: return dataHome();
        case Folder::users: return std::nullopt;
        case Folder::documents: return userDir(G_USER_DIRECTORY_DOCUMENTS, "Documents");
        case Folder::autosavedInformation: return baseDir("XDG_STATE_HOME", ".local/state");
        case Folder::desktop: return userDir(G_USER_DIRECTORY_DESKTOP, "Desktop");
        case Folder::caches: return baseDir("XDG_CACHE_HOME", ".cache");
        case Folder::downloads: return userDir(G_USER_DIRECTORY_DOWNLOAD, "Downloads");
        case Folder::movies: return userDir(G_USER_DIRECTORY_VIDEOS, "Videos");
        case Folder::music: return userDir(G_USER_DIRECTORY_MUSIC, "Music");
        case Folder::pictures: return userDir(G_USER_DIRECTORY_PICTURES, "Pictures");
        case Folder::sharedPublic: return userDir(G_USER_DIRECTORY_PUBLIC_SHARE, "Public");
        case Folder::trash: return dataHome() + "/Trash";
    }
    return std::nullopt;
}

std::optional<std::string> localFolder(Folder folder) {
    switch (folder) {
        case Folder::applications: return "/usr/share/applications";
        case Folder::library:
        case Folder::applicationSupport: return "/usr/local/share";
        case Folder::users: return "/home";
        case Folder::caches: return "/var/cache";
        default: return std::nullopt;
    }
}

}  // namespace

std::optional<std::string> folderPath(Folder folder, Domain domain) {
    return domain == Domain::user ? userFolder(folder) : localFolder(folder);
}

}  // namespace kestrane::folders
