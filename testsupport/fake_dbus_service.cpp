#include "fake_dbus_service.h"

#include <chrono>
#include <stdexcept>

namespace kestrane::test {

namespace {

using NodeInfoPtr = glib::Owned<GDBusNodeInfo, g_dbus_node_info_unref>;

std::string reason(const std::string& what, const glib::ErrorPtr& error) {
    return what + (error ? std::string(": ") + error->message : "");
}

}  // namespace

FakeDBusService::FakeDBusService(std::string address, std::string name, std::string path, std::string introspectionXml,
                                 Handler handler)
    : address_(std::move(address)), name_(std::move(name)), path_(std::move(path)), xml_(std::move(introspectionXml)),
      handler_(std::move(handler)), context_(g_main_context_new()), loop_(g_main_loop_new(context_.get(), FALSE)) {
    thread_ = std::thread([this] { run(); });
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return ready_; });
    if (!failure_.empty()) {
        lock.unlock();
        thread_.join();
        throw std::runtime_error("fake D-Bus service: " + failure_);
    }
}

FakeDBusService::~FakeDBusService() {
    // Through the queue: the loop may not be running yet when the service goes at once.
    g_main_context_invoke(
        context_.get(),
        [](gpointer loop) -> gboolean {
            g_main_loop_quit(static_cast<GMainLoop*>(loop));
            return G_SOURCE_REMOVE;
        },
        loop_.get());
    if (thread_.joinable()) thread_.join();
}

void FakeDBusService::ready(std::string failure) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        failure_ = std::move(failure);
        ready_ = true;
    }
    changed_.notify_all();
}

std::string FakeDBusService::serve() {
    GError* raw = nullptr;
    connection_.reset(g_dbus_connection_new_for_address_sync(
        address_.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &raw));
    glib::ErrorPtr error(raw);
    if (!connection_) return reason("cannot connect", error);
    const NodeInfoPtr node(g_dbus_node_info_new_for_xml(xml_.c_str(), &raw));
    error.reset(raw);
    if (!node) return reason("cannot parse the interface", error);
    static const GDBusInterfaceVTable vtable = {
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method, GVariant* parameters,
           GDBusMethodInvocation* invocation, gpointer self) {
            auto* service = static_cast<FakeDBusService*>(self);
            {
                std::lock_guard<std::mutex> lock(service->mutex_);
                const glib::CharPtr printed(g_variant_print(parameters, FALSE));
                service->calls_.push_back({method, printed.get()});
            }
            service->changed_.notify_all();
            service->handler_(method, parameters, invocation);
        },
        nullptr, nullptr, {}};
    for (GDBusInterfaceInfo** i = node->interfaces; *i != nullptr; ++i) {
        if (g_dbus_connection_register_object(connection_.get(), path_.c_str(), *i, &vtable, this, nullptr, &raw) == 0) {
            return reason("cannot register the object", glib::ErrorPtr(raw));
        }
    }
    const glib::VariantPtr owned(g_dbus_connection_call_sync(
        connection_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", name_.c_str(), 4u /* do not queue */), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1,
        nullptr, &raw));
    if (!owned) return reason("cannot own the name", glib::ErrorPtr(raw));
    return "";
}

void FakeDBusService::run() {
    g_main_context_push_thread_default(context_.get());
    const std::string failure = serve();
    ready(failure);
    if (failure.empty()) g_main_loop_run(loop_.get());
    if (connection_) g_dbus_connection_close_sync(connection_.get(), nullptr, nullptr);
    connection_.reset();
    while (g_main_context_iteration(context_.get(), FALSE)) {
    }
    g_main_context_pop_thread_default(context_.get());
}

void FakeDBusService::emitSignal(const std::string& interface, const std::string& signal, GVariant* parameters) {
    g_dbus_connection_emit_signal(connection_.get(), nullptr, path_.c_str(), interface.c_str(), signal.c_str(), parameters, nullptr);
    g_dbus_connection_flush_sync(connection_.get(), nullptr, nullptr);
}

std::vector<FakeDBusService::Call> FakeDBusService::calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

bool FakeDBusService::waitForCalls(const std::string& method, std::size_t count, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        std::size_t n = 0;
        for (const Call& c : calls_) n += c.method == method;
        return n >= count;
    });
}

}  // namespace kestrane::test
