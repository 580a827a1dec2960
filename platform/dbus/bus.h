// Short, bounded conversations with a D-Bus service: connect to the session or system bus,
// make one method call, and give up when the time is spent. Desktop services are asked
// questions at moments when nothing may wait long (a launch, a property read), and a bus or
// a service that hangs must cost the caller no more than the budget it gave.
#pragma once

#include <gio/gio.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "expected.h"
#include "glib_ptr.h"

namespace kestrane::dbus {

using VariantPtr = glib::VariantPtr;
using Clock = std::chrono::steady_clock;

// Error codes of this component.
enum class BusError {
    noBus = 1,          // no address, or the bus could not be reached
    timedOut = 2,       // the budget was spent
    unknownMethod = 3,  // the service has no such method (or interface)
    noService = 4,      // nothing owns the destination name
    callFailed = 5,     // any other error reply
};

// GDBus sets SIGPIPE to "ignore" for the whole process the first time it is used (by us, or
// by any library in the process: GStreamer's network sources, GSettings), and child processes
// inherit that: a pipeline the application starts then fails with "Broken pipe" instead of
// ending quietly, and a JVM notices that its handler changed. GDBus does not need it on
// Linux, where its sockets send with MSG_NOSIGNAL. This sets GDBus up once, with the
// disposition saved around it, so that the process keeps the one it had; later uses change
// nothing. It runs when a library holding this component loads; a component that may make
// GLib start GDBus without calling this one calls it before.
void setUpGDBusKeepingSignals();

// The address of the bus, from DBUS_SESSION_BUS_ADDRESS (or $XDG_RUNTIME_DIR/bus) for the
// session bus and DBUS_SYSTEM_BUS_ADDRESS (or the standard socket) for the system bus; none
// when the session has no bus. Never starts a bus (no X11 autolaunch).
std::optional<std::string> busAddress(GBusType bus);

// text as the bus takes a string: up to its first U+0000, with every byte that is not UTF-8
// replaced by U+FFFD (a string the bus would refuse makes GLib complain and the receiver see
// nothing useful).
std::string busString(std::string_view text);

struct Call {
    const char* destination;
    const char* path;
    const char* interface;
    const char* method;
    GVariant* parameters = nullptr;  // floating references are sunk; may be null
    const GVariantType* replyType = nullptr;  // null accepts any reply
    bool autoStart = true;  // let the bus start the service if it is activatable
};

// A private connection to a bus, closed when the object goes. Made within a deadline.
class Connection {
public:
    static Expected<Connection> open(GBusType bus, Clock::time_point deadline);
    static Expected<Connection> openAddress(const std::string& address, Clock::time_point deadline);

    // One method call; the reply tuple, or the error.
    Expected<VariantPtr> call(const Call& call, Clock::time_point deadline) const;
    // The same call with file descriptors in the reply (logind hands one back).
    Expected<VariantPtr> callWithFds(const Call& call, Clock::time_point deadline,
                                     glib::ObjectPtr<GUnixFDList>* fds) const;

    // Hands onSignal every broadcast signal of interface.member from path that the bus routes
    // to this connection, having asked the bus (AddMatch, within deadline) to route those that
    // sender sends. onSignal runs on the connection's own worker thread, in the order the
    // signals arrive, until the SignalWatch goes: GDBus's own subscriptions deliver through a
    // main loop that a library cannot count on anyone running. It must return quickly and
    // must not wait for this connection; it may still run once while the watch is going.
    struct SignalMatch {
        const char* sender;
        const char* path;
        const char* interface;
        const char* member;
    };
    class SignalWatch;
    Expected<SignalWatch> watchSignals(const SignalMatch& match, std::function<void(GDBusMessage* signal)> onSignal,
                                       Clock::time_point deadline) const;

    GDBusConnection* get() const { return connection_.get(); }

private:
    explicit Connection(glib::ObjectPtr<GDBusConnection> connection) : connection_(std::move(connection)) {}
    glib::ObjectPtr<GDBusConnection> connection_;
};

// A signal watch of watchSignals; the signals stop when it goes.
class Connection::SignalWatch {
public:
    SignalWatch(glib::ObjectPtr<GDBusConnection> connection, guint filter)
        : connection_(std::move(connection)), filter_(filter) {}
    SignalWatch(SignalWatch&& other) noexcept : connection_(std::move(other.connection_)), filter_(other.filter_) {}
    SignalWatch& operator=(SignalWatch&&) = delete;
    ~SignalWatch() {
        if (connection_) g_dbus_connection_remove_filter(connection_.get(), filter_);
    }

private:
    glib::ObjectPtr<GDBusConnection> connection_;
    guint filter_;
};

}  // namespace kestrane::dbus
