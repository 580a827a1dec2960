// A D-Bus service of the test's own: owns a name on a bus (the private session bus of
// PrivateSessionBus, or any address), serves one object from introspection XML, and hands
// each method call to the test's handler on the service's own thread. Calls are recorded.
#pragma once

#include <gio/gio.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "glib_ptr.h"

namespace kestrane::test {

class FakeDBusService {
public:
    // Answers the invocation (g_dbus_method_invocation_return_*), or keeps it to answer
    // later, or never answers (a hanging service).
    using Handler = std::function<void(const std::string& method, GVariant* parameters, GDBusMethodInvocation* invocation)>;

    struct Call {
        std::string method;
        std::string parameters;  // g_variant_print form
    };

    FakeDBusService(std::string address, std::string name, std::string path, std::string introspectionXml, Handler handler);
    ~FakeDBusService();
    FakeDBusService(const FakeDBusService&) = delete;
    FakeDBusService& operator=(const FakeDBusService&) = delete;

    // Emits a signal of interface from the object (parameters: a floating tuple).
    void emitSignal(const std::string& interface, const std::string& signal, GVariant* parameters);
    std::vector<Call> calls() const;
    // Waits until at least count calls of method have arrived (false after timeoutMs).
    bool waitForCalls(const std::string& method, std::size_t count, int timeoutMs = 5000) const;

private:
    void run();
    // Connects, serves the object and owns the name; the reason when that fails.
    std::string serve();
    void ready(std::string failure);

    std::string address_, name_, path_, xml_;
    Handler handler_;
    glib::MainContextPtr context_;
    glib::MainLoopPtr loop_;
    glib::ObjectPtr<GDBusConnection> connection_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool ready_ = false;
    std::string failure_;
    std::vector<Call> calls_;
    std::thread thread_;
};

}  // namespace kestrane::test
