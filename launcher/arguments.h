// The Java virtual machine's argument vector: system properties, the bundle's options with
// memory percentages resolved, the default options with the user's overrides, the main class
// or module, the application arguments and the program's own arguments.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "bundle.h"
#include "runtime.h"

namespace kestrane::launcher {

// Physical memory in bytes, or the cgroup v2 memory limit of the process when that is lower;
// 0 when neither can be read. KESTRANE_RAM_BYTES, when set, stands in for the machine (tests).
std::int64_t get_ram_size();

// "-Xmx<p>%" resolved against ramBytes as the launcher does: "-Xmx<MB>m" with MB = p% of the
// bytes / 1,000,000, for 1 <= p <= 200.0001; anything else is returned unchanged.
std::string resolveMemoryPercentage(const std::string& option, std::int64_t ramBytes);

// The user's overrides of the bundle's default options: the java.util.prefs node
// <identifier with dots as slashes>/JVMOptions under $HOME/.java/.userPrefs.
std::optional<std::map<std::string, std::string>> userDefaultOptions(const std::optional<std::string>& identifier);

// Whether an argument is a process serial number the system adds ("-psn_0_12345").
bool isProcessSerialNumber(const std::string& argument);

// Builds the vector and calls the runtime's JLI_Launch; returns its result. Raises the launch
// errors of the main-class and class-path checks.
int assembleAndLaunch(const Bundle& bundle, const Runtime& runtime, const char* commandName, int argc, char** argv);

}  // namespace kestrane::launcher
