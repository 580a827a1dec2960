#include "bus.h"

#include <signal.h>
#include <sys/eventfd.h>
#include <sys/stat.h>

#include <array>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "holders.h"

namespace kestrane::dbus {

namespace {

bool isSocket(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

std::string nonEmpty(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// At load, before anything else in the process can set GDBus up and leave SIGPIPE ignored.
[[maybe_unused]] const bool initialisedAtLoad = (setUpGDBusKeepingSignals(), true);

// Whether a few descriptors are free: GLib aborts the process when it cannot make the wakeup
// descriptor of a main context or of its D-Bus worker, so a process that has run out must
// get an error from us instead.
bool descriptorsLeft() {
    std::array<UniqueFd, 4> probes;
    for (UniqueFd& probe : probes) {
        probe = UniqueFd(eventfd(0, EFD_CLOEXEC));
        if (!probe) return false;
    }
    return true;
}

// The calling thread's main context for bounded calls, made once per thread: a context per
// call would take a descriptor each time.
GMainContext* threadContext() {
    thread_local const glib::MainContextPtr context(g_main_context_new());
    return context.get();
}

// Runs one asynchronous GIO operation on the thread's context for bounded calls (no other
// work is dispatched there) and waits for it, but
// no later than deadline: then the operation is cancelled, and its (prompt) cancelled
// completion is still awaited so that nothing outlives this call. The result is handed
// back for the operation's finish function; null only if start never completed.
template <class Start>
glib::ObjectPtr<GAsyncResult> runBounded(Start start, Clock::time_point deadline) {
    GMainContext* context = threadContext();
    g_main_context_push_thread_default(context);
    glib::ObjectPtr<GCancellable> cancellable(g_cancellable_new());
    GAsyncResult* result = nullptr;
    start(cancellable.get(),
          [](GObject*, GAsyncResult* res, gpointer data) {
              *static_cast<GAsyncResult**>(data) = G_ASYNC_RESULT(g_object_ref(res));
          },
          &result);
    bool late = false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    const glib::SourcePtr timer(g_timeout_source_new(static_cast<guint>(left > 0 ? left : 0)));
    g_source_set_callback(
        timer.get(),
        [](gpointer data) -> gboolean {
            *static_cast<bool*>(data) = true;
            return G_SOURCE_REMOVE;
        },
        &late, nullptr);
    g_source_attach(timer.get(), context);
    bool cancelled = false;
    while (result == nullptr) {
        if (late && !cancelled) {
            g_cancellable_cancel(cancellable.get());
            cancelled = true;
        }
        g_main_context_iteration(context, TRUE);
    }
    g_source_destroy(timer.get());
    // Anything the operation left queued on the context runs before the call returns.
    while (g_main_context_iteration(context, FALSE)) {
    }
    g_main_context_pop_thread_default(context);
    return glib::ObjectPtr<GAsyncResult>(result);
}

Error toError(const GError* error) {
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED) || g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMEOUT) || g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY)) {
        return Error(BusError::timedOut, error->message);
    }
    if (g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_INTERFACE) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_OBJECT)) {
        return Error(BusError::unknownMethod, error->message);
    }
    if (g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER)) {
        return Error(BusError::noService, error->message);
    }
    return Error(BusError::callFailed, error->message);
}

gint timeoutOf(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<gint>(left > 1 ? left : 1);
}

}  // namespace

void setUpGDBusKeepingSignals() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction before {};
        const bool saved = sigaction(SIGPIPE, nullptr, &before) == 0;
        // The change is made by the socket class's set-up. Everything else that set-up needs is
        // made first, so that the disposition is back within microseconds: a JVM started with
        // -Xcheck:jni polls the handlers it installed and warns when it catches one changed.
        g_type_ensure(G_TYPE_SOCKET);
        g_type_class_unref(g_type_class_ref(G_TYPE_SOCKET));
        if (saved) sigaction(SIGPIPE, &before, nullptr);
        GError* raw = nullptr;
        // Asking for the system bus's address reads the environment only, and sets the rest of
        // GDBus up.
        const glib::CharPtr address(g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, &raw));
        const glib::ErrorPtr error(raw);
        if (saved) sigaction(SIGPIPE, &before, nullptr);
    });
}

std::optional<std::string> busAddress(GBusType bus) {
    if (bus == G_BUS_TYPE_SYSTEM) {
        if (std::string a = nonEmpty("DBUS_SYSTEM_BUS_ADDRESS"); !a.empty()) return a;
        for (const char* socket : {"/run/dbus/system_bus_socket", "/var/run/dbus/system_bus_socket"}) {
            if (isSocket(socket)) return std::string("unix:path=") + socket;
        }
        return std::nullopt;
    }
    if (std::string a = nonEmpty("DBUS_SESSION_BUS_ADDRESS"); !a.empty()) return a;
    if (std::string runtime = nonEmpty("XDG_RUNTIME_DIR"); !runtime.empty() && isSocket(runtime + "/bus")) {
        return "unix:path=" + runtime + "/bus";
    }
    return std::nullopt;
}

Expected<Connection> Connection::open(GBusType bus, Clock::time_point deadline) {
    const std::optional<std::string> address = busAddress(bus);
    if (!address) return Error(BusError::noBus, bus == G_BUS_TYPE_SYSTEM ? "no system bus" : "no session bus");
    return openAddress(*address, deadline);
}

Expected<Connection> Connection::openAddress(const std::string& address, Clock::time_point deadline) {
    setUpGDBusKeepingSignals();
    if (!descriptorsLeft()) return Error(BusError::noBus, "the bus at " + address + " cannot be reached: too many open files");
    glib::ObjectPtr<GAsyncResult> result = runBounded(
        [&](GCancellable* cancellable, GAsyncReadyCallback done, gpointer data) {
            g_dbus_connection_new_for_address(
                address.c_str(),
                static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                  G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                nullptr, cancellable, done, data);
        },
        deadline);
    GError* raw = nullptr;
    glib::ObjectPtr<GDBusConnection> connection(g_dbus_connection_new_for_address_finish(result.get(), &raw));
    glib::ErrorPtr error(raw);
    if (!connection) {
        const Error e = toError(error.get());
        return Error(e.is(BusError::timedOut) ? BusError::timedOut : BusError::noBus,
                     "the bus at " + address + " cannot be reached: " + e.message);
    }
    // The connection belongs to this object alone; the process must not end with it.
    g_dbus_connection_set_exit_on_close(connection.get(), FALSE);
    return Connection(std::move(connection));
}

Expected<VariantPtr> Connection::call(const Call& call, Clock::time_point deadline) const {
    return callWithFds(call, deadline, nullptr);
}

Expected<VariantPtr> Connection::callWithFds(const Call& call, Clock::time_point deadline,
                                             glib::ObjectPtr<GUnixFDList>* fds) const {
    const VariantPtr parameters(call.parameters != nullptr ? g_variant_ref_sink(call.parameters) : nullptr);
    if (!descriptorsLeft()) return Error(BusError::callFailed, std::string(call.method) + " was not asked: too many open files");
    const auto flags = call.autoStart ? G_DBUS_CALL_FLAGS_NONE : G_DBUS_CALL_FLAGS_NO_AUTO_START;
    glib::ObjectPtr<GAsyncResult> result = runBounded(
        [&](GCancellable* cancellable, GAsyncReadyCallback done, gpointer data) {
            g_dbus_connection_call_with_unix_fd_list(connection_.get(), call.destination, call.path, call.interface,
                                                     call.method, parameters.get(), call.replyType, flags, timeoutOf(deadline),
                                                     nullptr, cancellable, done, data);
        },
        deadline);
    GError* raw = nullptr;
    GUnixFDList* list = nullptr;
    VariantPtr reply(g_dbus_connection_call_with_unix_fd_list_finish(connection_.get(), fds != nullptr ? &list : nullptr,
                                                                      result.get(), &raw));
    glib::ErrorPtr error(raw);
    if (fds != nullptr) fds->reset(list);
    if (!reply) return toError(error.get());
    return reply;
}

Expected<Connection::SignalWatch> Connection::watchSignals(const SignalMatch& match,
                                                           std::function<void(GDBusMessage* signal)> onSignal,
                                                           Clock::time_point deadline) const {
    struct Watch {
        std::string path, interface, member;
        std::function<void(GDBusMessage*)> onSignal;
    };
    auto watch = std::make_unique<Watch>(Watch{match.path, match.interface, match.member, std::move(onSignal)});
    // The filter goes in before the bus routes anything, so that no signal is missed; it sees
    // every message of the connection and passes each on unchanged.
    const guint filter = g_dbus_connection_add_filter(
        connection_.get(),
        [](GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer data) -> GDBusMessage* {
            const auto* w = static_cast<const Watch*>(data);
            if (incoming && g_dbus_message_get_message_type(message) == G_DBUS_MESSAGE_TYPE_SIGNAL &&
                g_dbus_message_get_destination(message) == nullptr &&
                g_strcmp0(g_dbus_message_get_path(message), w->path.c_str()) == 0 &&
                g_strcmp0(g_dbus_message_get_interface(message), w->interface.c_str()) == 0 &&
                g_strcmp0(g_dbus_message_get_member(message), w->member.c_str()) == 0) {
                w->onSignal(message);
            }
            return message;
        },
        watch.release(), [](gpointer data) { std::unique_ptr<Watch>(static_cast<Watch*>(data)); });
    glib::CharPtr rule(g_strdup_printf("type='signal',sender='%s',path='%s',interface='%s',member='%s'", match.sender,
                                       match.path, match.interface, match.member));
    Expected<VariantPtr> added = call({"org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "AddMatch",
                                       g_variant_new("(s)", rule.get()), nullptr},
                                      deadline);
    SignalWatch watching(glib::ref(connection_.get()), filter);
    if (!added) return added.error();
    return watching;
}

std::string busString(std::string_view text) {
    const std::string_view toNul = text.substr(0, text.find('\0'));
    const glib::CharPtr valid(g_utf8_make_valid(toNul.data(), static_cast<gssize>(toNul.size())));
    return valid.get();
}

}  // namespace kestrane::dbus
