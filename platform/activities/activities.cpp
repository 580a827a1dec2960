#include "activities.h"

#include <gio/gunixfdlist.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "bus.h"
#include "holders.h"
#include "log.h"
#include "no_destructor.h"

namespace kestrane::activities {

namespace {

constexpr std::chrono::milliseconds kBudget{1000};

void reportNoService(const std::string& why) {
    static std::atomic<bool> reported{false};
    if (!reported.exchange(true)) logLine("Activities take no locks: " + why);
}

// One connection to a bus for every activity of the process, opened when first needed and
// again once it has closed. A connection per activity would cost two descriptors each, and a
// process holding many activities would run out of them.
class SharedBus {
public:
    explicit SharedBus(GBusType type) : type_(type) {}

    Expected<std::shared_ptr<const dbus::Connection>> get(dbus::Clock::time_point deadline) {
        const std::lock_guard<std::mutex> lock(mutex_);
        // The environment may name another bus since (a session that was restarted).
        const std::optional<std::string> address = dbus::busAddress(type_);
        if (connection_ && address == address_ && !g_dbus_connection_is_closed(connection_->get())) return connection_;
        connection_.reset();
        Expected<dbus::Connection> opened = dbus::Connection::open(type_, deadline);
        if (!opened) return opened.error();
        connection_ = std::make_shared<const dbus::Connection>(std::move(*opened));
        address_ = address;
        return connection_;
    }

private:
    const GBusType type_;
    std::mutex mutex_;
    std::shared_ptr<const dbus::Connection> connection_;
    std::optional<std::string> address_;
};

// Kept for the life of the process: activities may end while it exits.
SharedBus& sharedBus(GBusType type) {
    static NoDestructor<SharedBus> session(G_BUS_TYPE_SESSION), system(G_BUS_TYPE_SYSTEM);
    return type == G_BUS_TYPE_SYSTEM ? system.get() : session.get();
}

}  // namespace

struct Activity::Private {
    // The portal keeps an inhibition for as long as the connection that asked for it, or
    // until its request is closed; logind keeps one for as long as its descriptor is open.
    std::shared_ptr<const dbus::Connection> connection;
    std::string request;
    UniqueFd fd;

    ~Private() {
        if (connection && !request.empty()) {
            dbus::Call close{"org.freedesktop.portal.Desktop", request.c_str(), "org.freedesktop.portal.Request", "Close"};
            (void)connection->call(close, dbus::Clock::now() + kBudget);
        }
    }
};

Activity::Activity(Holder holder, std::string reason, std::unique_ptr<Private> lock)
    : holder_(holder), reason_(std::move(reason)), lock_(std::move(lock)) {}

Activity::~Activity() = default;

Locks locksFor(Inhibitions what) {
    Locks locks;
    auto add = [&locks](std::uint32_t flag, const char* lock) {
        locks.portalFlags |= flag;
        locks.logindWhat += (locks.logindWhat.empty() ? "" : ":") + std::string(lock);
    };
    if (what.systemSleep) add(4, "sleep");
    if (what.displaySleep) add(8, "idle");
    if (what.logout) add(1, "shutdown");
    return locks;
}

std::unique_ptr<Activity> begin(Inhibitions what, const std::string& reason, const std::string& applicationName) {
    const Locks locks = locksFor(what);
    if (locks.portalFlags == 0) return std::make_unique<Activity>(Holder::kNone, reason, nullptr);
    const auto deadline = dbus::Clock::now() + kBudget;
    std::string failures;

    if (Expected<std::shared_ptr<const dbus::Connection>> session = sharedBus(G_BUS_TYPE_SESSION).get(deadline)) {
        GVariantBuilder portalOptions;
        g_variant_builder_init(&portalOptions, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&portalOptions, "{sv}", "reason", g_variant_new_string(dbus::busString(reason).c_str()));
        dbus::Call inhibit{"org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop", "org.freedesktop.portal.Inhibit",
                           "Inhibit", g_variant_new("(sua{sv})", "", locks.portalFlags, &portalOptions), G_VARIANT_TYPE("(o)")};
        Expected<dbus::VariantPtr> reply = (*session)->call(inhibit, deadline);
        if (reply) {
            auto lock = std::make_unique<Activity::Private>();
            const gchar* path = nullptr;
            g_variant_get(reply->get(), "(&o)", &path);
            lock->request = path;
            lock->connection = std::move(*session);
            return std::make_unique<Activity>(Holder::kPortal, reason, std::move(lock));
        }
        failures = "the desktop portal: " + reply.error().message;
    } else {
        failures = "the session bus: " + session.error().message;
    }

    if (Expected<std::shared_ptr<const dbus::Connection>> system = sharedBus(G_BUS_TYPE_SYSTEM).get(deadline)) {
        dbus::Call inhibit{"org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "Inhibit",
                           g_variant_new("(ssss)", locks.logindWhat.c_str(), dbus::busString(applicationName).c_str(),
                                         dbus::busString(reason).c_str(), "block"),
                           G_VARIANT_TYPE("(h)")};
        glib::ObjectPtr<GUnixFDList> fds;
        Expected<dbus::VariantPtr> reply = (*system)->callWithFds(inhibit, deadline, &fds);
        if (reply && fds) {
            gint32 index = -1;
            g_variant_get(reply->get(), "(h)", &index);
            UniqueFd fd(g_unix_fd_list_get(fds.get(), index, nullptr));  // a duplicate that is ours
            if (fd) {
                auto lock = std::make_unique<Activity::Private>();
                lock->fd = std::move(fd);
                return std::make_unique<Activity>(Holder::kLogind, reason, std::move(lock));
            }
        }
        failures += "; systemd-logind: " + (reply ? std::string("no descriptor in its answer") : reply.error().message);
    } else {
        failures += "; the system bus: " + system.error().message;
    }
    reportNoService("neither the desktop portal nor systemd-logind can be asked (" + failures + ")");
    return std::make_unique<Activity>(Holder::kNone, reason, nullptr);
}

}  // namespace kestrane::activities
