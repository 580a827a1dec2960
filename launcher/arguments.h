// The Java virtual machine's argument vector: system properties, the bundle's options with
// memory percentages resolved, the default options with the user's overrides, the main class
// or module, the application arguments and the program's own arguments.
//
// buildLaunchPlan makes the whole vector from its inputs and changes nothing in the process;
// launchWithPlan applies it (environment, JLI_Launch). assembleAndLaunch does both.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bundle.h"
#include "jnlp.h"
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

// The entries of a java.util.prefs prefs.xml: <map><entry key="..." value="..."/></map>; none
// when the bytes are not well-formed XML.
std::optional<std::map<std::string, std::string>> parsePrefsXml(std::string_view bytes);

// Whether an argument is a process serial number the system adds ("-psn_0_12345").
bool isProcessSerialNumber(const std::string& argument);

// Everything the vector is made from.
struct LaunchInputs {
    const Bundle* bundle = nullptr;                        // settings, path, localized texts
    std::optional<std::string> runtimePath;                // replaces "$JVM_RUNTIME"
    std::optional<std::map<std::string, std::string>> userOverrides;  // of "JVMDefaultOptions"
    std::vector<std::string> environmentProperties;
    std::optional<JnlpSetup> jnlp;                         // in JNLP mode
    std::string commandName;                               // argv[0]
    std::vector<std::string> programArguments;
    std::vector<std::string> environment;                  // "NAME=value" of the process
    std::int64_t ramBytes = 0;
};

struct LaunchPlan {
    std::vector<std::string> argv;
    std::vector<std::pair<std::string, std::string>> environment;  // to set before the launch
    std::optional<std::string> applicationClassPath;               // the JNLP client's jar
};

// The vector and the environment changes. Raises the launch errors of the main-class and
// class-path checks; lists the Java folder when the class path is made from it.
LaunchPlan buildLaunchPlan(const LaunchInputs& inputs);

// Sets the environment, logs the vector, and calls the runtime's JLI_Launch.
int launchWithPlan(const LaunchPlan& plan, const Runtime& runtime);

// Gathers the inputs from the bundle, the runtime, the user and this process, then builds
// and launches; returns JLI_Launch's result.
int assembleAndLaunch(const Bundle& bundle, const Runtime& runtime, const char* commandName, int argc, char** argv);

}  // namespace kestrane::launcher
