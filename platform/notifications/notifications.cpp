#include "notifications.h"

#include <gio/gio.h>

#include <condition_variable>
#include <mutex>
#include <set>

#include "bus.h"
#include "glib_ptr.h"
#include "image_data.h"
#include "log.h"
#include "log_burst.h"
#include "main_loop_thread.h"
#include "no_destructor.h"

namespace kestrane::notifications {

namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
constexpr std::chrono::milliseconds kConnectBudget{1000};
constexpr std::chrono::seconds kRetryPause{5};

// Whether the server's capabilities (the reply of GetCapabilities) name "actions": only then
// can it report a click.
bool reportsClicks(GVariant* capabilities) {
    const glib::VariantPtr names(g_variant_get_child_value(capabilities, 0));
    GVariantIter iter;
    g_variant_iter_init(&iter, names.get());
    const gchar* name = nullptr;
    while (g_variant_iter_next(&iter, "&s", &name)) {
        if (std::string(name) == "actions") return true;
    }
    return false;
}

// The kind of a failure, for counting repeats: its error domain and code.
std::string causeOf(const GError* error) {
    return std::string(g_quark_to_string(error->domain)) + ":" + std::to_string(error->code);
}

// The hints of a notification: its sound (or silence) and its picture. A picture that cannot
// be shown is left out, and the notification still goes.
GVariant* hintsOf(const Notification& n, LogBurst& log) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a{sv}"));
    if (n.soundName) {
        g_variant_builder_add(&builder, "{sv}", "sound-name", g_variant_new_string(dbus::busString(*n.soundName).c_str()));
    } else {
        g_variant_builder_add(&builder, "{sv}", "suppress-sound", g_variant_new_boolean(TRUE));
    }
    if (!n.image.empty()) {
        Expected<ImageData> image = decodeImage(n.image);
        if (image) {
            GVariant* pixels = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, image->pixels.data(), image->pixels.size(), 1);
            g_variant_builder_add(&builder, "{sv}", "image-data",
                                  g_variant_new("(iiibii@ay)", image->width, image->height, image->rowstride, image->hasAlpha,
                                                image->bitsPerSample, image->channels, pixels));
        } else if (image.error().is(ImageError::tooLarge)) {
            log.report("picture too large", "A notification is shown without its picture: " + image.error().message);
        }
    }
    return g_variant_builder_end(&builder);
}

}  // namespace

// The protocol's side of the center. Everything but the pending count is touched only on the
// worker's thread.
struct Center::State {
    Identity identity;
    std::optional<dbus::Connection> connection;
    std::set<guint32> shown;  // IDs of our notifications that the server still shows
    bool canReportClicks = false;
    bool reportedNoBus = false, reportedNoServer = false, reportedNoActions = false;
    dbus::Clock::time_point retryAfter{};
    guint actionSubscription = 0, closedSubscription = 0;

    // Failures of a burst of deliveries: one line per cause, and a count once nothing is
    // waiting for an answer any more.
    LogBurst failures;

    // Notify calls not yet answered; flush() waits for it under the same lock.
    std::mutex mutex;
    std::condition_variable idle;
    int pending = 0;

    // Declared last, so that it is made after the fields above and its thread ends before
    // any of them goes.
    dbus::MainLoopThread worker;

    void connect();
    std::optional<dbus::Connection> openServer();
    void subscribe();
    void disconnect();
    void send(const Notification& n);
    void answered(GDBusConnection* source, GAsyncResult* result);
    void onSignal(const gchar* signal, GVariant* parameters);
    void onAction(guint32 id, const std::string& action);
};

void Center::State::connect() {
    if (connection && !g_dbus_connection_is_closed(connection->get())) return;
    disconnect();
    // Without a bus or a server, deliveries are dropped for a while rather than each one
    // trying again (and queueing behind the others).
    if (dbus::Clock::now() < retryAfter) return;
    retryAfter = dbus::Clock::now() + kRetryPause;
    std::optional<dbus::Connection> opened = openServer();
    if (!opened) return;
    connection.emplace(std::move(*opened));
    retryAfter = {};
    subscribe();
}

// A connection to the session bus with a notification server on it, whose capabilities have
// been asked (once a connection); none, logged once, without either.
std::optional<dbus::Connection> Center::State::openServer() {
    const auto deadline = dbus::Clock::now() + kConnectBudget;
    Expected<dbus::Connection> opened = dbus::Connection::open(G_BUS_TYPE_SESSION, deadline);
    if (!opened) {
        if (!reportedNoBus) logLine("Notifications are not shown: " + opened.error().message);
        reportedNoBus = true;
        return std::nullopt;
    }
    dbus::Call capabilities{kService, kPath, kInterface, "GetCapabilities", nullptr, G_VARIANT_TYPE("(as)")};
    Expected<dbus::VariantPtr> reply = opened->call(capabilities, deadline);
    if (!reply) {
        if (!reportedNoServer) logLine("Notifications are not shown: no notification server on the session bus (" + reply.error().message + ")");
        reportedNoServer = true;
        return std::nullopt;
    }
    canReportClicks = reportsClicks(reply->get());
    if (!canReportClicks && !reportedNoActions) {
        logLine("The notification server cannot report clicks (it has no \"actions\" capability)");
        reportedNoActions = true;
    }
    return std::move(*opened);
}

void Center::State::subscribe() {
    auto onSignal = [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* signal, GVariant* parameters,
                       gpointer self) { static_cast<State*>(self)->onSignal(signal, parameters); };
    actionSubscription = g_dbus_connection_signal_subscribe(connection->get(), nullptr, kInterface, "ActionInvoked", kPath,
                                                            nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onSignal, this, nullptr);
    closedSubscription = g_dbus_connection_signal_subscribe(connection->get(), nullptr, kInterface, "NotificationClosed", kPath,
                                                            nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onSignal, this, nullptr);
}

void Center::State::disconnect() {
    if (!connection) return;
    g_dbus_connection_signal_unsubscribe(connection->get(), actionSubscription);
    g_dbus_connection_signal_unsubscribe(connection->get(), closedSubscription);
    connection.reset();
    shown.clear();
}

void Center::State::send(const Notification& n) {
    connect();
    if (!connection) return;
    const gchar* actions[] = {"default", "", nullptr};
    GVariant* parameters =
        g_variant_new("(susss^as@a{sv}i)", dbus::busString(identity.applicationName).c_str(), 0u,
                      dbus::busString(identity.iconName).c_str(), dbus::busString(n.title.value_or("")).c_str(),
                      dbus::busString(n.body.value_or("")).c_str(), actions, hintsOf(n, failures), -1);
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++pending;
    }
    g_dbus_connection_call(
        connection->get(), kService, kPath, kInterface, "Notify", parameters, G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE,
        -1, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer self) {
            static_cast<State*>(self)->answered(G_DBUS_CONNECTION(source), result);
        },
        this);
}

// The server's answer to a Notify call on source: the ID of the notification it shows.
void Center::State::answered(GDBusConnection* source, GAsyncResult* result) {
    GError* raw = nullptr;
    const dbus::VariantPtr reply(g_dbus_connection_call_finish(source, result, &raw));
    const glib::ErrorPtr error(raw);
    if (reply) {
        guint32 id = 0;
        g_variant_get(reply.get(), "(u)", &id);
        shown.insert(id);
    } else {
        failures.report(causeOf(error.get()), std::string("A notification was not shown: ") + error->message);
    }
    std::lock_guard<std::mutex> lock(mutex);
    if (--pending == 0) failures.end();  // before flush() can return
    idle.notify_all();
}

void Center::State::onSignal(const gchar* signal, GVariant* parameters) {
    if (std::string(signal) == "ActionInvoked" && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"))) {
        guint32 id = 0;
        const gchar* action = nullptr;
        g_variant_get(parameters, "(u&s)", &id, &action);
        onAction(id, action);
    } else if (std::string(signal) == "NotificationClosed" && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(uu)"))) {
        guint32 id = 0, reason = 0;
        g_variant_get(parameters, "(uu)", &id, &reason);
        shown.erase(id);
    }
}

void Center::State::onAction(guint32 id, const std::string& action) {
    // A click on one of ours removes it from the server's list; nothing else happens.
    if (action != "default" || shown.erase(id) == 0 || !connection) return;
    g_dbus_connection_call(connection->get(), kService, kPath, kInterface, "CloseNotification", g_variant_new("(u)", id),
                           nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
}

Center::Center(Identity identity) : state_(std::make_unique<State>()) {
    state_->identity = std::move(identity);
}

Center::~Center() {
    // The subscriptions and the connection go on the worker's thread, where they were made.
    State* state = state_.get();
    state->worker.post([state] { state->disconnect(); });
}

Center& Center::instance(const Identity& identity) {
    static std::mutex lock;
    static Center* center = nullptr;
    std::lock_guard<std::mutex> guard(lock);
    if (center == nullptr) {
        // Never destroyed: its thread serves the server's signals for the life of the process.
        static NoDestructor<Center> made(identity);
        center = &made.get();
    }
    return *center;
}

void Center::deliver(Notification notification) {
    State* state = state_.get();
    state->worker.post([state, n = std::move(notification)] { state->send(n); });
}

void Center::flush() {
    State* state = state_.get();
    auto reached = std::make_shared<bool>(false);
    state->worker.post([state, reached] {
        std::lock_guard<std::mutex> lock(state->mutex);
        *reached = true;
        state->idle.notify_all();
    });
    std::unique_lock<std::mutex> lock(state->mutex);
    state->idle.wait_for(lock, std::chrono::seconds(5), [&] { return *reached && state->pending == 0; });
}

}  // namespace kestrane::notifications
