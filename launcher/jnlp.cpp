#include "jnlp.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "holders.h"
#include "launch_error.h"
#include "launch_log.h"
#include "log.h"
#include "paths.h"
#include "runtime.h"

namespace kestrane::launcher {

namespace {

// The runtime's own client, as old runtimes carry it.
JnlpSetup runtimeClient(const std::string& runtimePath) {
    JnlpSetup setup;
    setup.deployJar = runtimePath + "/lib/deploy.jar";
    setup.mainClass = "com.sun.javaws.Main";
    setup.options = {"-classpath",
                     setup.deployJar,
                     "-Dsun.awt.warmup=true",
                     "-Xverify:remote",
                     "-Djnlpx.remove=true",
                     "-DtrustProxy=true",
                     "-Djava.security.policy=file:" + runtimePath + "/lib/security/javaws.policy",
                     "-Xbootclasspath/a:" + runtimePath + "/lib/javaws.jar:" + runtimePath + "/lib/deploy.jar:" + runtimePath +
                         "/lib/plugin.jar"};
    return setup;
}

// The lines of a java argument file that are arguments (no comments, no blank lines).
std::vector<std::string> argumentFileEntries(const std::string& path) {
    std::vector<std::string> entries;
    std::istringstream lines(readFile(path).value_or(""));
    for (std::string line; std::getline(lines, line);) {
        const std::size_t start = line.find_first_not_of(" \t\r");
        if (start == std::string::npos || line[start] == '#') continue;
        entries.push_back(line.substr(start, line.find_last_not_of(" \t\r") - start + 1));
    }
    return entries;
}

// IcedTea-Web's client in the same positions, with the boot class path and the options its
// own javaws script passes for a runtime of this version.
JnlpSetup icedTeaWebClient(const std::string& folder, int runtimeVersion) {
    const std::string netx = folder + "/javaws.jar";
    JnlpSetup setup;
    setup.deployJar = netx;
    setup.mainClass = "net.sourceforge.jnlp.runtime.Boot";
    std::string policy = "/etc/icedtea-web/javaws.policy";
    if (!isRegularFile(policy)) policy = folder + "/javaws.policy";
    std::string bootClassPath = "-Xbootclasspath/a:" + netx;
    for (const char* jar : {"/usr/share/java/js.jar", "/usr/share/java/tagsoup.jar"}) {
        if (isRegularFile(jar)) bootClassPath += std::string(":") + jar;
    }
    setup.options = {"-classpath",        netx, "-Dsun.awt.warmup=true", "-Xverify:remote", "-Djnlpx.remove=true",
                     "-DtrustProxy=true", "-Djava.security.policy=file:" + policy, bootClassPath, "-Xms8m"};
    if (runtimeVersion >= 9) {
        setup.options.push_back("--patch-module");
        setup.options.push_back("java.desktop=" + netx);
        // The script hands these to java as an @-file; JLI_Launch does not read @-files.
        for (std::string& entry : argumentFileEntries(folder + "/bin/itw-modularjdk.args")) {
            setup.options.push_back(std::move(entry));
        }
    }
    setup.options.push_back("-Dicedtea-web.bin.name=javaws");
    setup.options.push_back("-Dicedtea-web.bin.location=" + folder + "/bin/javaws.sh");
    setup.options.push_back("-Djava.security.manager");
    return setup;
}

std::string temporaryFolder() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

// Copies source to destination, which must not exist yet. The error text, or none.
std::optional<std::string> copyNew(const std::string& source, const std::string& destination) {
    const UniqueFd in(open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) return "The file \"" + nameOf(source) + "\" couldn't be opened: " + std::strerror(errno) + " (" + source + ")";
    UniqueFd out(open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!out) {
        return "The file \"" + nameOf(destination) + "\" couldn't be created: " + std::strerror(errno) + " (" + destination + ")";
    }
    std::optional<std::string> error;
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(in.get(), buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            error = std::string("Reading \"") + source + "\" failed: " + std::strerror(errno);
            break;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = write(out.get(), buffer + done, static_cast<std::size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                error = std::string("Writing \"") + destination + "\" failed: " + std::strerror(errno);
                break;
            }
            done += w;
        }
        if (error) break;
    }
    if (!out.closeNow() && !error) error = std::string("Writing \"") + destination + "\" failed: " + std::strerror(errno);
    return error;
}

}  // namespace

std::string icedTeaWebFolder() {
    const char* folder = std::getenv("KESTRANE_ICEDTEA_WEB_DIR");
    return folder != nullptr && *folder != '\0' ? folder : "/usr/share/icedtea-web";
}

std::optional<std::string> tmpFile() {
    std::string path = temporaryFolder() + "/jnlpFile.XXXXXX.jnlp";
    std::vector<char> buffer(path.begin(), path.end());
    buffer.push_back('\0');
    const UniqueFd fd(mkstemps(buffer.data(), 5));
    if (!fd) {
        Log("Error while creating tmp file");
        return std::nullopt;
    }
    return std::string(buffer.data());
}

JnlpSetup prepareJnlp(const Bundle& bundle, const std::optional<std::string>& runtimePath) {
    const std::string runtime = runtimePath.value_or("");
    JnlpSetup setup;
    if (isRegularFile(runtime + "/lib/deploy.jar")) {
        setup = runtimeClient(runtime);
    } else if (const std::string folder = icedTeaWebFolder(); isRegularFile(folder + "/javaws.jar")) {
        setup = icedTeaWebClient(folder, runtimeMajorVersion(runtime));
    } else {
        throw LaunchError("JavaLaunchError",
                          "No JNLP client is installed: the Java runtime has no lib/deploy.jar and IcedTea-Web is "
                          "missing (install the package icedtea-netx).");
    }

    const std::optional<std::string> copy = tmpFile();
    if (!copy) {
        throw LaunchError("JavaLaunchError", "Cannot create a temporary file for the JNLP file in " + temporaryFolder() + ".");
    }
    setup.jnlpCopy = *copy;
    unlink(copy->c_str());  // the copy creates it anew

    const std::string name = *bundle.info().string("JVMJNLPLauncher");
    std::string source = bundle.path() + "/" + name;
    if (!exists(source)) source = bundle.path() + "/Contents/Java/" + name;
    if (std::optional<std::string> error = copyNew(source, setup.jnlpCopy)) {
        // Written whether or not the launcher's log is on.
        logLine("Error: " + *error);
        throw LaunchError("Error while copying JNLP File", "File copy error");
    }
    return setup;
}

}  // namespace kestrane::launcher
