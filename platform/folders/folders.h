// Standard folders of the desktop, mapped onto the XDG base-directory and user-directory
// conventions, in two domains: the user's own folders and the machine's (local) ones.
//
//   folder                   user domain                     local domain
//   applications             $XDG_DATA_HOME/applications     /usr/share/applications
//   library                  $XDG_DATA_HOME                  /usr/local/share
//   users                    -                               /home
//   documents                XDG_DOCUMENTS_DIR               -
//   autosavedInformation     $XDG_STATE_HOME                 -
//   desktop                  XDG_DESKTOP_DIR                 -
//   caches                   $XDG_CACHE_HOME                 /var/cache
//   applicationSupport       $XDG_DATA_HOME                  /usr/local/share
//   downloads                XDG_DOWNLOAD_DIR                -
//   movies                   XDG_VIDEOS_DIR                  -
//   music                    XDG_MUSIC_DIR                   -
//   pictures                 XDG_PICTURES_DIR                -
//   sharedPublic             XDG_PUBLICSHARE_DIR             -
//   trash                    $XDG_DATA_HOME/Trash            -
//
// XDG_*_DIR come from user-dirs.dirs (through GLib), falling back to ~/Documents, ~/Desktop,
// ~/Downloads, ~/Videos, ~/Music, ~/Pictures and ~/Public; the base directories default to
// ~/.local/share, ~/.cache and ~/.local/state. Paths are absolute, the home folder written out.
// Every request reads the environment and user-dirs.dirs anew.
#pragma once

#include <optional>
#include <string>

namespace kestrane::folders {

enum class Folder {
    applications,
    library,
    users,
    documents,
    autosavedInformation,
    desktop,
    caches,
    applicationSupport,
    downloads,
    movies,
    music,
    pictures,
    sharedPublic,
    trash,
};

enum class Domain { user, local };

// The folder in the domain; none where the domain has no such folder (see the table).
std::optional<std::string> folderPath(Folder folder, Domain domain);

}  // namespace kestrane::folders
