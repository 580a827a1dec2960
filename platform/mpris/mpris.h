// The process's players on the desktop: the media controls of the desktop's panel and lock
// screen, the keyboard's media keys and playerctl find music players through the MPRIS D-Bus
// interface (org.mpris.MediaPlayer2 and org.mpris.MediaPlayer2.Player on the object
// /org/mpris/MediaPlayer2, under the name org.mpris.MediaPlayer2.<application>.instance<pid>).
//
// One player is shown at a time: the one that played most recently (before any has played, the
// one opened last). The name is owned while at least one player exists and released when the
// last one closes. The desktop's commands act on the player itself, so the application sees
// them through the calls it already makes.
//
// Threads. Everything that talks to the bus runs on a thread of the service's own with a GLib
// main loop; add() and the players' changes only hand work to it and never wait on the bus.
// Without a session bus, or when the name is taken, players work as before and the process
// logs one line.
#pragma once

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "player.h"

namespace kestrane::mpris {

// How the application calls itself on the desktop.
struct Identity {
    std::string name;                         // the bundle's name, else the process's
    std::optional<std::string> desktopEntry;  // the bundle's identifier; none outside a bundle
};

// The bus name of a process of the application: every character of name other than A-Z a-z
// 0-9 _ becomes _, a leading digit is preceded by _.
std::string busNameOf(std::string_view name, pid_t pid);

// The shared-MIME-info names (audio/flac, ...) of the audio files that the installed
// GStreamer plugins can decode, without repeats.
std::vector<std::string> supportedMimeTypes();

// What the desktop shows of a track, from its file's tags; empty for a URL that names no
// readable file of this machine.
struct TrackInfo {
    std::optional<std::string> title, album;
    std::vector<std::string> artists, albumArtists;
    std::optional<int> trackNumber;
    std::optional<std::string> artUrl;  // a file URL of the cover in the cache folder
};

// The tags of the file that url names, and its picture (embedded, else the cover beside it)
// written into coverFolder under a name made of its bytes, so that a cover is written once
// however often it is shown.
TrackInfo trackInfoOf(const std::string& url, const std::string& coverFolder);

class Service {
public:
    explicit Service(Identity identity);
    ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    // The service of the process, made on first use with identity and kept for its life.
    static Service& shared(const Identity& identity);

    // Shows player, which plays url, from now until it goes; it becomes the one shown. Returns
    // at once.
    void add(const std::shared_ptr<media::Player>& player, const std::string& url);

    // Waits (at most a few seconds) until the service has handled everything handed to it
    // before the call: for tests.
    void flush();

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace kestrane::mpris
