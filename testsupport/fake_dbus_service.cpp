#include "fake_dbus_service.h"

#include <chrono>
#include <stdexcept>

namespace kestrane::test {

FakeDBusService::FakeDBusService(std::string address, std::string name, std::string path, std::string introspectionXml,
                                 Handler handler)
    : address_(std::move(address)), name_(std::move(name)), path_(std::move(path)), xml_(std::move(introspectionXml)),
      handler_(std::move(handler)) {
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
    if (loop_ != nullptr) {
        GMainLoop* loop = loop_;
        g_main_context_invoke(context_, [](gpointer l) -> gboolean {
            g_main_loop_quit(static_cast<GMainLoop*>(l));
            return G_SOURCE_REMOVE;
        }, loop);
    }
    if (thread_.joinable()) thread_.join();
}

void FakeDBusService::run() {
    context_ = g_main_context_new();
    g_main_context_push_thread_default(context_);
    GError* error = nullptr;
    auto fail = [&](const std::string& what) {
        std::lock_guard<std::mutex> lock(mutex_);
        failure_ = what + (error != nullptr ? std::string(": ") + error->message : "");
        if (error != nullptr) g_error_free(error);
        ready_ = true;
        changed_.notify_all();
    };
    connection_ = g_dbus_connection_new_for_address_sync(
        address_.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    GDBusNodeInfo* node = connection_ != nullptr ? g_dbus_node_info_new_for_xml(xml_.c_str(), &error) : nullptr;
    if (node == nullptr) {
        fail("cannot connect or parse the interface");
    } else {
        static const GDBusInterfaceVTable vtable = {
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method, GVariant* parameters,
               GDBusMethodInvocation* invocation, gpointer self) {
                auto* service = static_cast<FakeDBusService*>(self);
                {
                    std::lock_guard<std::mutex> lock(service->mutex_);
                    gchar* printed = g_variant_print(parameters, FALSE);
                    service->calls_.push_back({method, printed});
                    g_free(printed);
                }
                service->changed_.notify_all();
                service->handler_(method, parameters, invocation);
            },
            nullptr, nullptr, {}};
        bool ok = true;
        for (GDBusInterfaceInfo** i = node->interfaces; *i != nullptr && ok; ++i) {
            ok = g_dbus_connection_register_object(connection_, path_.c_str(), *i, &vtable, this, nullptr, &error) != 0;
        }
        GVariant* owned = ok ? g_dbus_connection_call_sync(connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                             "org.freedesktop.DBus", "RequestName",
                                                             g_variant_new("(su)", name_.c_str(), 4u /* do not queue */),
                                                             G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error)
                             : nullptr;
        g_dbus_node_info_unref(node);
        if (owned == nullptr) {
            fail("cannot register the object or own the name");
        } else {
            g_variant_unref(owned);
            loop_ = g_main_loop_new(context_, FALSE);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ready_ = true;
            }
            changed_.notify_all();
            g_main_loop_run(loop_);
            g_main_loop_unref(loop_);
        }
    }
    if (connection_ != nullptr) {
        g_dbus_connection_close_sync(connection_, nullptr, nullptr);
        g_object_unref(connection_);
    }
    while (g_main_context_iteration(context_, FALSE)) {
    }
    g_main_context_pop_thread_default(context_);
    g_main_context_unref(context_);
}

void FakeDBusService::emitSignal(const std::string& interface, const std::string& signal, GVariant* parameters) {
    g_dbus_connection_emit_signal(connection_, nullptr, path_.c_str(), interface.c_str(), signal.c_str(), parameters, nullptr);
    g_dbus_connection_flush_sync(connection_, nullptr, nullptr);
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
