// Desktop notifications through the freedesktop.org notification service
// (org.freedesktop.Notifications on the session bus).
//
// One process-wide center, created once under a lock, owns a thread with a GLib main loop
// (main_loop_thread.h): it talks to the server, listens for clicks (ActionInvoked) and
// closures, and removes a clicked notification. Delivery never waits for the server: deliver()
// hands the notification to the center's thread and returns. Pictures are decoded there too
// (image_data.h).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrane::notifications {

struct Notification {
    std::optional<std::string> title;      // summary; none shows nothing
    std::optional<std::string> body;       // informative text
    std::optional<std::string> soundName;  // a sound theme name; none: silent
    std::vector<std::uint8_t> image;       // encoded picture (PNG, JPEG, ...); empty: none
};

struct Identity {
    std::string applicationName;  // shown by the server
    std::string iconName;         // app_icon; empty for none
};

class Center {
public:
    explicit Center(Identity identity);
    ~Center();
    Center(const Center&) = delete;
    Center& operator=(const Center&) = delete;

    // The process's center, made on the first call (under a lock) and kept until the
    // process ends; identity is used only by that first call.
    static Center& instance(const Identity& identity);

    // Hands the notification to the center's thread. Without a session bus or a server the
    // delivery is dropped with one log line for the life of the center.
    void deliver(Notification notification);

    // Returns once everything queued before it has been handed to the server and answered
    // (tests).
    void flush();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace kestrane::notifications
