#include "arguments.h"

#include <expat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iterator>

#include "environment_properties.h"
#include "expat_ptr.h"
#include "launch_error.h"
#include "launch_log.h"
#include "paths.h"

#include "launcher_state.h"

extern char** environ;

namespace kestrane::launcher {

namespace {

std::optional<std::int64_t> readNumberFile(const char* path) {
    std::ifstream in(path);
    std::string text;
    if (!(in >> text) || text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    return std::strtoll(text.c_str(), nullptr, 10);
}

}  // namespace

std::optional<std::map<std::string, std::string>> parsePrefsXml(std::string_view bytes) {
    if (bytes.size() > INT32_MAX) return std::nullopt;
    std::map<std::string, std::string> entries;
    const kestrane::ParserPtr parser(XML_ParserCreate("UTF-8"));
    if (!parser) return std::nullopt;
    XML_SetUserData(parser.get(), &entries);
    XML_SetElementHandler(
        parser.get(),
        [](void* data, const XML_Char* name, const XML_Char** attributes) {
            if (std::strcmp(name, "entry") != 0) return;
            const char *key = nullptr, *value = nullptr;
            for (int i = 0; attributes[i] != nullptr; i += 2) {
                if (std::strcmp(attributes[i], "key") == 0) key = attributes[i + 1];
                if (std::strcmp(attributes[i], "value") == 0) value = attributes[i + 1];
            }
            if (key != nullptr && value != nullptr) (*static_cast<std::map<std::string, std::string>*>(data))[key] = value;
        },
        nullptr);
    if (XML_Parse(parser.get(), bytes.data(), static_cast<int>(bytes.size()), XML_TRUE) != XML_STATUS_OK) return std::nullopt;
    return entries;
}

namespace {

// The strings of every argument vector ever built stay allocated until the process ends:
// the runtime keeps pointers into them.
std::deque<std::string>& vectorStrings() {
    static std::deque<std::string> strings;
    return strings;
}

char* keep(const std::string& s) {
    return vectorStrings().emplace_back(s).data();
}

}  // namespace

std::int64_t get_ram_size() {
    if (const char* forced = std::getenv("KESTRANE_RAM_BYTES"); forced != nullptr && *forced != '\0') {
        return std::strtoll(forced, nullptr, 10);
    }
    const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGE_SIZE);
    std::int64_t bytes = pages > 0 && pageSize > 0 ? static_cast<std::int64_t>(pages) * pageSize : 0;
    // In a container "half of the memory" means half of what the container may use.
    if (auto limit = readNumberFile("/sys/fs/cgroup/memory.max"); limit && *limit > 0 && (bytes == 0 || *limit < bytes)) {
        bytes = *limit;
    }
    return bytes;
}

std::string resolveMemoryPercentage(const std::string& option, std::int64_t ramBytes) {
    if (option.size() < 5 || option.rfind("-Xmx", 0) != 0 || option.back() != '%') return option;
    const std::string number = option.substr(4, option.size() - 5);
    const double p = std::strtod(number.c_str(), nullptr);
    if (!(p >= 1.0 && p <= 200.0001) || ramBytes <= 0) return option;
    const double megabytes = ((p / 100.0) * static_cast<double>(ramBytes)) / 1000000.0;
    char text[64];
    std::snprintf(text, sizeof text, "-Xmx%0.0fm", megabytes);
    return text;
}

std::optional<std::map<std::string, std::string>> userDefaultOptions(const std::optional<std::string>& identifier) {
    if (!identifier) return std::nullopt;
    // The defaults key "/x/y/z/" with its entry "JVMOptions/" is the node x/y/z/JVMOptions.
    // Node names that java.util.prefs would encode (those holding '.', '_' or characters
    // outside printable ASCII) are not looked for.
    const std::string key = "/" + replaceAll(*identifier, ".", "/") + "/";
    const std::string node = key.substr(1) + "JVMOptions";
    const char* home = std::getenv("HOME");
    if (home == nullptr) return std::nullopt;
    const std::optional<std::string> bytes = readFile(std::string(home) + "/.java/.userPrefs/" + node + "/prefs.xml");
    if (!bytes) return std::nullopt;
    return parsePrefsXml(*bytes);
}

bool isProcessSerialNumber(const std::string& a) {
    // ^-psn_\d_\d+$
    return a.size() >= 8 && a.rfind("-psn_", 0) == 0 && std::isdigit(static_cast<unsigned char>(a[5])) && a[6] == '_' &&
           a.find_first_not_of("0123456789", 7) == std::string::npos;
}

namespace {

// The bundle's default options, each replaced by the user's override of the same name.
std::vector<std::string> defaultOptionsOf(const Settings& info, const std::optional<std::map<std::string, std::string>>& overrides) {
    std::vector<std::string> options;
    std::optional<std::map<std::string, std::string>> defaults = info.stringDictionary("JVMDefaultOptions");
    if (!defaults) return options;
    if (overrides) {
        for (const auto& [name, value] : *overrides) (*defaults)[name] = value;
    }
    for (const auto& [name, value] : *defaults) options.push_back(value);
    return options;
}

// What the virtual machine starts: a main class, a module ("module/class"), or the jar of a
// jar launcher, whose manifest names the class.
struct Entry {
    std::optional<std::string> jarLauncher;
    std::optional<std::string> mainClass;
    bool module = false;
};

// The bundle's entry, checked; raises the launch errors of a missing main class and of a
// module with a jar launcher. (JNLP mode replaces the main class afterwards.)
Entry entryOf(const Bundle& bundle, bool jnlp) {
    const Settings& info = bundle.info();
    Entry entry{info.string("JVMJARLauncher"), info.string("JVMMainClassName"), false};
    entry.module = entry.mainClass && entry.mainClass->find('/') != std::string::npos;
    if (jnlp) return entry;
    if (entry.module && entry.jarLauncher) {
        throw LaunchError("JavaLaunchError", "Modules cannot be used in conjuction with jar launcher");
    }
    if (!entry.mainClass && !entry.jarLauncher) throw LaunchError("JavaLaunchError", bundle.localizedString("MainClassNameRequired"));
    return entry;
}

// "-Djava.class.path=..." for the entry: the jar launcher's jar, the bundle's JVMClassPath,
// or Contents/Java/Classes and every jar in Contents/Java (listing it raises the launch error
// of a missing Java folder); none for a module or in JNLP mode.
std::optional<std::string> classPathArgument(const Bundle& bundle, const Entry& entry, bool jnlp) {
    const std::string& bundlePath = bundle.path();
    const std::string javaFolder = bundlePath + "/Contents/Java";
    std::optional<std::string> classPath = std::string("-Djava.class.path=");
    if (jnlp) classPath.reset();
    auto append = [&classPath](const std::string& text) {
        if (classPath) *classPath += text;
    };
    if (entry.jarLauncher) {
        append(":" + javaFolder + "/" + *entry.jarLauncher);
    } else if (entry.module) {
        // a module brings its own path
    } else if (auto entries = bundle.info().stringArray("JVMClassPath")) {
        for (std::size_t i = 0; i < entries->size(); ++i) append((i > 0 ? ":" : "") + replaceAll((*entries)[i], "$APP_ROOT", bundlePath));
    } else {
        append(javaFolder + "/Classes");
        const std::optional<std::vector<std::string>> names = listFolder(javaFolder);
        if (!names) throw LaunchError("JavaLaunchError", bundle.localizedString("JavaDirectoryNotFound"));
        for (const std::string& name : *names) {
            if (endsWith(name, ".jar")) append(":" + javaFolder + "/" + name);
        }
    }
    if (entry.module) return std::nullopt;
    return classPath;
}

// The variables of environment ("NAME=value") whose value holds "$APP_ROOT", expanded: the
// virtual machine inherits them.
std::vector<std::pair<std::string, std::string>> expandedEnvironment(const std::vector<std::string>& environment,
                                                                     const std::string& bundlePath) {
    std::vector<std::pair<std::string, std::string>> expanded;
    for (const std::string& entry : environment) {
        const std::size_t eq = entry.find('=');
        if (eq == std::string::npos) continue;
        const std::string value = entry.substr(eq + 1);
        if (value.find("$APP_ROOT") != std::string::npos) {
            expanded.emplace_back(entry.substr(0, eq), replaceAll(value, "$APP_ROOT", bundlePath));
        }
    }
    return expanded;
}

// Appends what starts the entry: "-m module/class", the class, or "-jar" and the jar.
void appendEntry(const Entry& entry, const std::string& javaFolder, std::vector<std::string>& vector) {
    if (entry.module) {
        vector.push_back("-m");
        vector.push_back(*entry.mainClass);
    } else if (entry.mainClass) {
        vector.push_back(*entry.mainClass);
    } else {
        vector.push_back("-jar");
        vector.push_back(javaFolder + "/" + *entry.jarLauncher);
    }
}

}  // namespace

LaunchPlan buildLaunchPlan(const LaunchInputs& in) {
    const Bundle& bundle = *in.bundle;
    const Settings& info = bundle.info();
    const std::string& bundlePath = bundle.path();
    LaunchPlan plan;

    // Options, default options with the user's overrides, application arguments, the entry;
    // JNLP mode starts its client instead.
    std::vector<std::string> options = info.stringArray("JVMOptions").value_or(std::vector<std::string>{});
    const std::vector<std::string> defaultOptions = defaultOptionsOf(info, in.userOverrides);
    std::vector<std::string> applicationArguments = info.stringArray("JVMArguments").value_or(std::vector<std::string>{});
    Entry entry = entryOf(bundle, in.jnlp.has_value());
    if (in.jnlp) {
        options.insert(options.end(), in.jnlp->options.begin(), in.jnlp->options.end());
        entry.mainClass = in.jnlp->mainClass;
        applicationArguments.push_back(in.jnlp->jnlpCopy);
        plan.applicationClassPath = in.jnlp->deployJar;
    }
    Log("Main Class Name: '%@'", entry.mainClass);

    // System arguments: the library path, the class path, the environment properties.
    std::vector<std::string> systemArguments = {"-Djava.library.path=" + bundlePath + "/Contents/MacOS"};
    if (std::optional<std::string> classPath = classPathArgument(bundle, entry, in.jnlp.has_value())) {
        systemArguments.push_back(*classPath);
    }
    systemArguments.insert(systemArguments.end(), in.environmentProperties.begin(), in.environmentProperties.end());

    // Program arguments, without process serial numbers when asked.
    std::vector<std::string> programArguments = in.programArguments;
    if (info.truth("IgnorePSN")) {
        std::erase_if(programArguments, [](const std::string& a) { return isProcessSerialNumber(a); });
    }
    plan.environment = expandedEnvironment(in.environment, bundlePath);

    // Memory percentages in the options (not in the default options).
    for (std::string& option : options) option = resolveMemoryPercentage(option, in.ramBytes);

    // The vector.
    std::vector<std::string>& vector = plan.argv;
    vector.push_back(in.commandName);
    vector.insert(vector.end(), systemArguments.begin(), systemArguments.end());
    for (const std::string& option : options) {
        vector.push_back(replaceAll(replaceAll(option, "$APP_ROOT", bundlePath), "$JVM_RUNTIME", in.runtimePath.value_or("")));
        Log("Option: %@", vector.back());
    }
    for (const std::string& option : defaultOptions) {
        vector.push_back(replaceAll(option, "$APP_ROOT", bundlePath));
        Log("DefaultOption: %@", vector.back());
    }
    appendEntry(entry, bundlePath + "/Contents/Java", vector);
    for (const std::string& a : applicationArguments) vector.push_back(replaceAll(a, "$APP_ROOT", bundlePath));
    vector.insert(vector.end(), programArguments.begin(), programArguments.end());
    return plan;
}

int launchWithPlan(const LaunchPlan& plan, const Runtime& runtime) {
    for (const auto& [name, value] : plan.environment) setenv(name.c_str(), value.c_str(), 1);

    // The runtime keeps pointers into the vector: its strings live until the process ends.
    std::vector<char*> vector;
    for (const std::string& s : plan.argv) vector.push_back(keep(s));
    Log("Command line passed to application:");
    for (std::size_t i = 0; i < vector.size(); ++i) Log("Arg %d: '%s'", static_cast<int>(i), vector[i]);

    ++launchCount;
    std::fflush(stdout);  // our log before anything the application prints
    static const char* jargv[] = {nullptr};
    static std::deque<std::vector<const char*>> classPaths;
    const char* appclassv0 = plan.applicationClassPath ? keep(*plan.applicationClassPath) : nullptr;
    std::vector<const char*>& appclassv = classPaths.emplace_back(std::vector<const char*>{appclassv0});
    vector.push_back(nullptr);  // argv arrays end with a null pointer, as main's do
    static std::deque<std::vector<char*>> vectors;
    std::vector<char*>& kept = vectors.emplace_back(std::move(vector));
    return runtime.launch(static_cast<int>(kept.size() - 1), kept.data(), 1, jargv, 1, appclassv.data(), "", "", "java",
                          "java", 0, 0, 0, 0);
}

int assembleAndLaunch(const Bundle& bundle, const Runtime& runtime, const char* commandName, int argc, char** argv) {
    LaunchInputs inputs;
    inputs.bundle = &bundle;
    inputs.runtimePath = runtime.runtimePath;
    if (bundle.info().has("JVMDefaultOptions")) inputs.userOverrides = userDefaultOptions(bundle.identifier());
    if (bundle.info().has("JVMJNLPLauncher")) inputs.jnlp = prepareJnlp(bundle, runtime.runtimePath);
    inputs.environmentProperties = environmentProperties(EnvironmentSources::system());
    inputs.commandName = commandName;
    inputs.programArguments.assign(argv, argv + argc);
    for (char** e = environ; *e != nullptr; ++e) inputs.environment.emplace_back(*e);
    inputs.ramBytes = get_ram_size();
    return launchWithPlan(buildLaunchPlan(inputs), runtime);
}

}  // namespace kestrane::launcher
