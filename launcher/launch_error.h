// The launch error: every launcher step raises it on failure; only main catches it, shows the
// reason in an alert and exits with status 1.
#pragma once

#include <stdexcept>
#include <string>

namespace kestrane::launcher {

class LaunchError : public std::runtime_error {
public:
    LaunchError(std::string name, const std::string& reason) : std::runtime_error(reason), name_(std::move(name)) {}
    const std::string& name() const { return name_; }
    std::string reason() const { return what(); }

private:
    std::string name_;
};

}  // namespace kestrane::launcher
