#include "runtime.h"

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "holders.h"
#include "launch_error.h"
#include "launch_log.h"
#include "paths.h"
#include "process.h"

namespace kestrane::launcher {

namespace {

bool isSymlink(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::string jvmFolder() {
    const char* dir = std::getenv("KESTRANE_JVM_DIR");
    return dir != nullptr && *dir != '\0' ? dir : "/usr/lib/jvm";
}

// The value of JAVA_VERSION in a runtime's release file.
std::optional<std::string> releaseVersion(const std::string& home) {
    std::ifstream in(home + "/release");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("JAVA_VERSION=", 0) != 0) continue;
        std::string value = line.substr(13);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        return value;
    }
    return std::nullopt;
}

// Orders version texts by their numbers: "17.0.15" > "17.0.9" > "11.0.2".
bool versionLess(const std::string& a, const std::string& b) {
    auto numbers = [](const std::string& v) {
        std::vector<long> out;
        long current = -1;
        for (char c : v) {
            if (c >= '0' && c <= '9') {
                current = (current < 0 ? 0 : current * 10) + (c - '0');
            } else if (current >= 0) {
                out.push_back(current);
                current = -1;
            }
        }
        if (current >= 0) out.push_back(current);
        return out;
    };
    return numbers(a) < numbers(b);
}

bool qualifies(int found, int required, bool exact) {
    return (found >= required && !exact) || (found == required && exact);
}

}  // namespace

int extractMajorVersion(const std::optional<std::string>& version) {
    if (!version) return 0;
    const std::string keep = "0123456789.";
    const std::size_t first = version->find_first_of(keep);
    if (first == std::string::npos) return 0;
    std::string s = version->substr(first, version->find_last_of(keep) - first + 1);
    if (s.rfind("1.", 0) == 0) s = s.substr(2);
    s = s.substr(0, s.find('.'));
    return static_cast<int>(std::strtol(s.c_str(), nullptr, 10));
}

int runtimeMajorVersion(const std::string& runtimePath) {
    if (auto version = releaseVersion(runtimePath)) return extractMajorVersion(version);
    return extractMajorVersion(releaseVersion(runtimePath + "/Contents/Home"));
}

std::optional<std::string> findDefaultJavaHome(int required, bool exact) {
    try {
        std::string home;
        const std::string defaultJava = jvmFolder() + "/default-java";
        if (isDirectory(defaultJava)) {
            home = defaultJava;
        } else {
            const auto java = findOnPath("java");
            if (!java) throw std::runtime_error("no default Java runtime: no " + defaultJava + " and no java on PATH");
            const std::string resolved = realPath(*java).value_or(*java);
            home = parentOf(parentOf(resolved));
        }
        const ProgramOutput output = runProgram(home + "/bin/java", {"-version"});
        int found = 0;
        // OpenJDK says 'openjdk version "17.0.15"', other builds 'java version "1.8.0_202"'.
        const std::string marker = " version \"";
        const std::size_t at = output.err.find(marker);
        if (at != std::string::npos) {
            const std::size_t start = at + marker.size(), end = output.err.find('"', start);
            if (end == std::string::npos) throw std::runtime_error("no closing quotation mark after the version");
            const std::string text = output.err.substr(start, end - start);
            found = extractMajorVersion(text);
            Log("Found a Java %@ JRE", text);
            Log("Looks like major version %d", found);
        }
        if (!qualifies(found, required, exact)) return std::nullopt;
        Log("JRE version qualifies");
        return home;
    } catch (const std::exception& e) {
        Log("JRE search exception: '%@'", e.what());
        return std::nullopt;
    }
}

std::optional<std::string> findInstalledJdkHome(int required, bool exact) {
    const std::string folder = jvmFolder();
    std::vector<std::string> names = listFolder(folder).value_or(std::vector<std::string>{});
    std::sort(names.begin(), names.end());
    std::optional<std::string> bestHome, bestVersion;
    bool bestIsLink = true;
    for (const std::string& name : names) {
        const std::string home = folder + "/" + name;
        if (!isRegularFile(home + "/bin/java") || !isRegularFile(home + "/bin/javac")) continue;
        const auto version = releaseVersion(home);
        if (!version || !qualifies(extractMajorVersion(*version), required, exact)) continue;
        const bool link = isSymlink(home);
        // The highest version wins; among equals, a real folder before a link to one.
        if (!bestVersion || versionLess(*bestVersion, *version) ||
            (!versionLess(*version, *bestVersion) && bestIsLink && !link)) {
            bestHome = home;
            bestVersion = version;
            bestIsLink = link;
        }
    }
    if (!bestHome) {
        Log("No matching JDK found.");
        return std::nullopt;
    }
    const int found = extractMajorVersion(*bestVersion);
    Log("Found a Java %@ JDK", *bestVersion);
    Log("Looks like major version %d", found);
    Log("JDK version qualifies");
    return found > 8 ? *bestHome : *bestHome + "/jre";
}

std::optional<std::string> findJavaHome(const std::optional<std::string>& version, bool jrePreferred, bool jdkPreferred,
                                        bool exact) {
    Log("Searching for a JRE.");
    int required = extractMajorVersion(version);
    if (required < 7) {
        Log("Required JVM must be at least ver. 7.");
        required = 7;
    }
    Log("Searching for a Java %d", required);
    if (jdkPreferred) {
        Log("A JDK is preferred; will not search for a JRE.");
    } else {
        if (auto home = findDefaultJavaHome(required, exact)) return home;
        Log("No matching JRE found.");
    }
    if (jrePreferred) {
        Log("A JRE is preferred; will not search for a JDK.");
    } else {
        if (auto home = findInstalledJdkHome(required, exact)) return home;
        Log("No matching JDK found.");
    }
    Log("No matching JRE or JDK found.");
    return std::nullopt;
}

std::vector<std::string> libraryFolders(bool insideBundle) {
    // Java 8 layouts keep the library one level deeper, under the architecture's folder.
    const std::vector<std::pair<std::string, std::string>> folders =
        insideBundle ? std::vector<std::pair<std::string, std::string>>{{"Contents/Home/jre/lib", "jli"},
                                                                         {"Contents/Home/lib", "jli"},
                                                                         {"Contents/Home/jre/lib", ""},
                                                                         {"Contents/Home/lib", ""}}
                     : std::vector<std::pair<std::string, std::string>>{
                           {"jre/lib", "jli"}, {"jre/lib", ""}, {"lib", "jli"}, {"lib", ""}};
    std::vector<std::string> out;
    for (const auto& [lib, jli] : folders) {
        out.push_back(jli.empty() ? lib : lib + "/" + jli);
        out.push_back(jli.empty() ? lib + "/amd64" : lib + "/amd64/" + jli);
    }
    return out;
}

Runtime discoverRuntime(const Bundle& bundle) {
    const Settings& info = bundle.info();
    const std::optional<std::string> runtimeName = info.string("JVMRuntime");
    std::optional<std::string> version = info.string("JVMVersion");
    Runtime runtime;
    if (runtimeName) runtime.runtimePath = bundle.builtInPlugInsPath() + "/" + *runtimeName;

    bool jrePreferred = info.truth("JREPreferred"), jdkPreferred = info.truth("JDKPreferred");
    if (jrePreferred && jdkPreferred) {
        Log("Specifying both JRE- and JDK-preferred means neither is preferred");
        jrePreferred = jdkPreferred = false;
    }
    bool exact = false;
    if (info.has("JVMJNLPLauncher")) {
        int v = 8;
        if (version) v = std::min(extractMajorVersion(version), 8);
        exact = true;
        version = "1." + std::to_string(v);
        Log("Will Require a JVM version '%i' due to JNLP restrictions", v);
    }

    auto firstLibrary = [](const std::string& base, bool insideBundle) -> std::optional<std::string> {
        for (const std::string& folder : libraryFolders(insideBundle)) {
            const std::string candidate = base + "/" + folder + "/libjli.so";
            if (isRegularFile(candidate)) return candidate;
        }
        return std::nullopt;
    };
    if (runtimeName) {
        runtime.libraryPath = firstLibrary(*runtime.runtimePath, true);
        Log("Java Runtime (%@) Relative Path: '%@' (dylib: %@)", runtimeName, runtime.runtimePath, runtime.libraryPath);
    } else {
        runtime.runtimePath = findJavaHome(version, jrePreferred, jdkPreferred, exact);
        if (runtime.runtimePath) runtime.libraryPath = firstLibrary(*runtime.runtimePath, false);
        Log("Java Runtime Dylib Path: '%@'", runtime.libraryPath ? std::optional<std::string>(convertRelativeFilePath(*runtime.libraryPath))
                                                                 : std::nullopt);
    }
    Log("Launchpath: %s", runtime.libraryPath);
    if (runtime.libraryPath) {
        // The library stays loaded for the life of the process.
        if (void* handle = dlopen(runtime.libraryPath->c_str(), RTLD_LAZY)) {
            runtime.launch = reinterpret_cast<JliLaunchFn>(dlsym(handle, "JLI_Launch"));
        }
    }
    if (runtime.launch != nullptr) return runtime;

    std::string reason;
    if (runtimeName || !version) {
        reason = bundle.localizedString("JRELoadError");
    } else {
        const int v = std::max(extractMajorVersion(version), 7);
        // The translation is the format; it is filled by our own formatter, never by printf,
        // so a stray conversion in a translated text cannot read or write memory.
        reason = formatMessage(bundle.localizedString(jdkPreferred ? "JDKxLoadFullError" : "JRExLoadFullError"), {v});
    }
    Log("Error launching JVM Runtime (%@) Relative Path: '%@' (dylib: %@)\n  error: %@", runtimeName,
        runtime.runtimePath, runtime.libraryPath, reason);
    throw LaunchError("JavaLaunchError", reason);
}

}  // namespace kestrane::launcher
