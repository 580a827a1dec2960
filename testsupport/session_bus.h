// A private D-Bus session bus for tests of desktop services: a dbus-daemon of its own,
// started on construction (DBUS_SESSION_BUS_ADDRESS then names it) and stopped on
// destruction, so that no test reaches the developer's desktop.
#pragma once

#include <sys/types.h>

#include <string>

namespace kestrane::test {

class PrivateSessionBus {
public:
    PrivateSessionBus();
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    const std::string& address() const { return address_; }

private:
    pid_t pid_ = -1;
    std::string address_;
};

}  // namespace kestrane::test
