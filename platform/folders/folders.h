// Standard folders of the desktop, addressed by the original platform's directory codes and
// search-domain masks, mapped onto the XDG base-directory and user-directory conventions.
//
//   code  folder                      user domain (1)                 local domain (2)
//   1     applications                $XDG_DATA_HOME/applications     /usr/share/applications
//   5     library                     $XDG_DATA_HOME                  /usr/local/share
//   7     users                       -                               /home
//   9     documents                   XDG_DOCUMENTS_DIR               -
//   11    autosaved information       $XDG_STATE_HOME                 -
//   12    desktop                     XDG_DESKTOP_DIR                 -
//   13    caches                      $XDG_CACHE_HOME                 /var/cache
//   14    application support         $XDG_DATA_HOME                  /usr/local/share
//   15    downloads                   XDG_DOWNLOAD_DIR                -
//   17    movies                      XDG_VIDEOS_DIR                  -
//   18    music                       XDG_MUSIC_DIR                   -
//   19    pictures                    XDG_PICTURES_DIR                -
//   21    shared public               XDG_PUBLICSHARE_DIR             -
//   102   trash                       $XDG_DATA_HOME/Trash            -
//
// XDG_*_DIR come from user-dirs.dirs (through GLib), falling back to ~/Documents, ~/Desktop,
// ~/Downloads, ~/Videos, ~/Music, ~/Pictures and ~/Public; the base directories default to
// ~/.local/share, ~/.cache and ~/.local/state. Paths are absolute, the home folder written out.
#pragma once

#include <string>
#include <vector>

namespace kestrane::folders {

constexpr int kUserDomain = 1;
constexpr int kLocalDomain = 2;

// The caches folder: $XDG_CACHE_HOME (else ~/.cache) in the user domain, /var/cache locally.
constexpr long kCachesDirectory = 13;

// Every folder of directory in the domains of domainMask, user before local; empty when
// there is none.
std::vector<std::string> searchPathForDirectoriesInDomains(long directory, long domainMask);

}  // namespace kestrane::folders
