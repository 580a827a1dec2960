// Process activities: work during which the application asks the desktop not to suspend the
// machine, blank the screen or end the session. The locks are taken through the XDG desktop
// portal's Inhibit (session bus) where the desktop offers it, else through systemd-logind's
// Inhibit (system bus); without either, the activity is only recorded.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace kestrane::activities {

// What an activity asks the desktop to hold off.
struct Inhibitions {
    bool systemSleep = false;   // suspending the machine while idle
    bool displaySleep = false;  // blanking the screen while idle
    bool logout = false;        // ending the session (and shutting down)
    bool any() const { return systemSleep || displaySleep || logout; }
};

// The locks that ask for them, in each service's terms.
struct Locks {
    std::uint32_t portalFlags = 0;  // 1 logout, 4 suspend, 8 idle
    std::string logindWhat;         // "sleep", "idle", "shutdown", joined by ':'
};
Locks locksFor(Inhibitions what);

enum class Holder { kNone, kPortal, kLogind };

// One activity. Its locks are released when it is destroyed.
class Activity {
public:
    ~Activity();
    Activity(const Activity&) = delete;
    Activity& operator=(const Activity&) = delete;

    Holder holder() const { return holder_; }
    const std::string& reason() const { return reason_; }

    struct Private;  // the held lock (a portal request, or logind's descriptor)
    Activity(Holder holder, std::string reason, std::unique_ptr<Private> lock);

private:
    Holder holder_;
    std::string reason_;
    std::unique_ptr<Private> lock_;
};

// Begins an activity and takes its locks (none when nothing is to be held off). Never fails:
// without a service the activity holds no locks (one log line per process).
std::unique_ptr<Activity> begin(Inhibitions what, const std::string& reason, const std::string& applicationName);

}  // namespace kestrane::activities
