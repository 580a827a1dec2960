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

// The option bits that ask for a lock; other bits take none.
constexpr std::uint64_t kSuddenTerminationDisabled = 1ull << 14;
constexpr std::uint64_t kIdleSystemSleepDisabled = 1ull << 20;
constexpr std::uint64_t kIdleDisplaySleepDisabled = 1ull << 40;

struct Locks {
    std::uint32_t portalFlags = 0;  // 1 logout, 4 suspend, 8 idle
    std::string logindWhat;         // "sleep", "idle", "shutdown", joined by ':'
};
Locks locksFor(std::uint64_t options);

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

// Begins an activity and takes its locks. Never fails: without a service the activity holds
// no locks (one log line per process).
std::unique_ptr<Activity> begin(std::uint64_t options, const std::string& reason, const std::string& applicationName);

}  // namespace kestrane::activities
