#include "notifications.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>

#include <algorithm>
#include <functional>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "bus.h"
#include "glib_ptr.h"
#include "log.h"
#include "no_destructor.h"

namespace kestrane::notifications {

namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
constexpr std::chrono::milliseconds kConnectBudget{1000};
constexpr std::chrono::seconds kRetryPause{5};

}  // namespace

namespace {

// The picture in bytes as a pixbuf (a new reference), with the loader of type, or with the
// one gdk-pixbuf picks from the bytes when type is null.
glib::ObjectPtr<GdkPixbuf> load(std::span<const std::uint8_t> bytes, const char* type) {
    glib::ObjectPtr<GdkPixbufLoader> loader(type != nullptr ? gdk_pixbuf_loader_new_with_type(type, nullptr) : gdk_pixbuf_loader_new());
    if (!loader) return nullptr;
    GError* writeError = nullptr;
    const bool written = gdk_pixbuf_loader_write(loader.get(), bytes.data(), bytes.size(), &writeError);
    glib::ErrorPtr holdWrite(writeError);
    GError* closeError = nullptr;
    const bool closed = gdk_pixbuf_loader_close(loader.get(), &closeError);
    glib::ErrorPtr holdClose(closeError);
    if (!written || !closed) return nullptr;
    return glib::ref(gdk_pixbuf_loader_get_pixbuf(loader.get()));
}

}  // namespace

std::optional<ImageData> decodeImage(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return std::nullopt;
    glib::ObjectPtr<GdkPixbuf> pixbuf = load(bytes, nullptr);
    // gdk-pixbuf recognises a format through the desktop's MIME database; where that cannot
    // be read, the common formats are tried by name.
    for (const char* type : {"png", "jpeg", "gif", "bmp", "tiff", "ico"}) {
        if (pixbuf) break;
        pixbuf = load(bytes, type);
    }
    if (!pixbuf) return std::nullopt;
    ImageData image;
    image.width = gdk_pixbuf_get_width(pixbuf.get());
    image.height = gdk_pixbuf_get_height(pixbuf.get());
    image.rowstride = gdk_pixbuf_get_rowstride(pixbuf.get());
    image.hasAlpha = gdk_pixbuf_get_has_alpha(pixbuf.get());
    image.bitsPerSample = gdk_pixbuf_get_bits_per_sample(pixbuf.get());
    image.channels = gdk_pixbuf_get_n_channels(pixbuf.get());
    const guint8* pixels = gdk_pixbuf_read_pixels(pixbuf.get());
    image.pixels.assign(pixels, pixels + gdk_pixbuf_get_byte_length(pixbuf.get()));
    return image;
}

struct Center::State {
    Identity identity;
    GMainContext* context = g_main_context_new();
    GMainLoop* loop = g_main_loop_new(context, FALSE);
    std::thread thread;

    // Touched only on the center's thread.
    std::optional<dbus::Connection> connection;
    std::set<guint32> shown;  // IDs of our notifications that the server still shows
    bool canReportClicks = false;
    bool reportedNoBus = false, reportedNoServer = false, reportedNoActions = false;
    dbus::Clock::time_point retryAfter{};
    guint actionSubscription = 0, closedSubscription = 0;
    int pending = 0;  // Notify calls not yet answered

    std::mutex mutex;
    std::condition_variable idle;

    void connect();
    void disconnect();
    // Runs work on the center's thread.
    void post(std::function<void()> work);
    void send(const Notification& n);
    GVariant* hints(const Notification& n) const;
    void onAction(guint32 id, const std::string& action);
};

void Center::State::connect() {
    if (connection && !g_dbus_connection_is_closed(connection->get())) return;
    disconnect();
    // Without a bus or a server, deliveries are dropped for a while rather than each one
    // trying again (and queueing behind the others).
    if (dbus::Clock::now() < retryAfter) return;
    retryAfter = dbus::Clock::now() + kRetryPause;
    const auto deadline = dbus::Clock::now() + kConnectBudget;
    Expected<dbus::Connection> opened = dbus::Connection::open(G_BUS_TYPE_SESSION, deadline);
    if (!opened) {
        if (!reportedNoBus) logLine("Notifications are not shown: " + opened.error().message);
        reportedNoBus = true;
        return;
    }
    // The capabilities tell whether a click can be reported at all; asked once a connection.
    dbus::Call capabilities{kService, kPath, kInterface, "GetCapabilities", nullptr, G_VARIANT_TYPE("(as)")};
    Expected<dbus::VariantPtr> reply = opened->call(capabilities, deadline);
    if (!reply) {
        if (!reportedNoServer) logLine("Notifications are not shown: no notification server on the session bus (" + reply.error().message + ")");
        reportedNoServer = true;
        return;
    }
    dbus::VariantPtr list(g_variant_get_child_value(reply->get(), 0));
    gsize count = 0;
    const gchar** names = g_variant_get_strv(list.get(), &count);  // the array is ours, its strings the variant's
    canReportClicks = false;
    for (gsize i = 0; i < count; ++i) canReportClicks |= std::string(names[i]) == "actions";
    g_free(names);
    if (!canReportClicks && !reportedNoActions) {
        logLine("The notification server cannot report clicks (it has no \"actions\" capability)");
        reportedNoActions = true;
    }
    connection.emplace(std::move(*opened));
    retryAfter = {};
    auto onSignal = [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* signal, GVariant* parameters,
                       gpointer self) {
        auto* state = static_cast<State*>(self);
        if (std::string(signal) == "ActionInvoked" && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"))) {
            guint32 id = 0;
            const gchar* action = nullptr;
            g_variant_get(parameters, "(u&s)", &id, &action);
            state->onAction(id, action);
        } else if (std::string(signal) == "NotificationClosed" && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(uu)"))) {
            guint32 id = 0, reason = 0;
            g_variant_get(parameters, "(uu)", &id, &reason);
            state->shown.erase(id);
        }
    };
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

void Center::State::post(std::function<void()> work) {
    using Work = std::function<void()>;
    auto job = std::make_unique<Work>(std::move(work));
    g_main_context_invoke_full(
        context, G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
            (*static_cast<Work*>(data))();
            return G_SOURCE_REMOVE;
        },
        job.release(), [](gpointer data) { std::unique_ptr<Work> owned(static_cast<Work*>(data)); });
}

GVariant* Center::State::hints(const Notification& n) const {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a{sv}"));
    if (n.soundName) {
        g_variant_builder_add(&builder, "{sv}", "sound-name", g_variant_new_string(n.soundName->c_str()));
    } else {
        g_variant_builder_add(&builder, "{sv}", "suppress-sound", g_variant_new_boolean(TRUE));
    }
    if (std::optional<ImageData> image = decodeImage(n.image)) {
        GVariant* pixels = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, image->pixels.data(), image->pixels.size(), 1);
        g_variant_builder_add(&builder, "{sv}", "image-data",
                              g_variant_new("(iiibii@ay)", image->width, image->height, image->rowstride, image->hasAlpha,
                                            image->bitsPerSample, image->channels, pixels));
    }
    return g_variant_builder_end(&builder);
}

void Center::State::send(const Notification& n) {
    connect();
    if (!connection) return;
    const gchar* actions[] = {"default", "", nullptr};
    GVariant* parameters = g_variant_new("(susss^as@a{sv}i)", identity.applicationName.c_str(), 0u, identity.iconName.c_str(),
                                         n.title.value_or("").c_str(), n.body.value_or("").c_str(), actions, hints(n), -1);
    ++pending;
    g_dbus_connection_call(
        connection->get(), kService, kPath, kInterface, "Notify", parameters, G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE,
        -1, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer self) {
            auto* state = static_cast<State*>(self);
            GError* raw = nullptr;
            dbus::VariantPtr reply(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &raw));
            glib::ErrorPtr error(raw);
            if (reply) {
                guint32 id = 0;
                g_variant_get(reply.get(), "(u)", &id);
                state->shown.insert(id);
            } else {
                logLine(std::string("A notification was not shown: ") + error->message);
            }
            std::lock_guard<std::mutex> lock(state->mutex);
            --state->pending;
            state->idle.notify_all();
        },
        this);
}

void Center::State::onAction(guint32 id, const std::string& action) {
    // A click on one of ours removes it from the server's list; nothing else happens.
    if (action != "default" || shown.erase(id) == 0 || !connection) return;
    g_dbus_connection_call(connection->get(), kService, kPath, kInterface, "CloseNotification", g_variant_new("(u)", id),
                           nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
}

Center::Center(Identity identity) : state_(std::make_unique<State>()) {
    state_->identity = std::move(identity);
    State* state = state_.get();
    state_->thread = std::thread([state] {
        g_main_context_push_thread_default(state->context);
        g_main_loop_run(state->loop);
        state->disconnect();
        while (g_main_context_iteration(state->context, FALSE)) {
        }
        g_main_context_pop_thread_default(state->context);
    });
}

Center::~Center() {
    g_main_loop_quit(state_->loop);
    g_main_context_wakeup(state_->context);
    state_->thread.join();
    g_main_loop_unref(state_->loop);
    g_main_context_unref(state_->context);
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
    state->post([state, n = std::move(notification)] { state->send(n); });
}

void Center::flush() {
    State* state = state_.get();
    auto reached = std::make_shared<bool>(false);
    state->post([state, reached] {
        std::lock_guard<std::mutex> lock(state->mutex);
        *reached = true;
        state->idle.notify_all();
    });
    std::unique_lock<std::mutex> lock(state->mutex);
    state->idle.wait_for(lock, std::chrono::seconds(5), [&] { return *reached && state->pending == 0; });
}

}  // namespace kestrane::notifications
