// A private D-Bus bus for tests of desktop services: a dbus-daemon of its own, started on
// construction (DBUS_SESSION_BUS_ADDRESS, or the variable given, then names it) and stopped
// on destruction, so that no test reaches the developer's desktop or the machine's system
// bus.
#pragma once

#include <sys/types.h>

#include <string>

namespace kestrane::test {

class PrivateSessionBus {
public:
    explicit PrivateSessionBus(const char* variable = "DBUS_SESSION_BUS_ADDRESS");
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    const std::string& address() const { return address_; }

private:
    pid_t pid_ = -1;
    std::string address_;
};

}  // namespace kestrane::test
