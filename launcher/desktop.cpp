#include "desktop.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "launch_log.h"
#include "process.h"

namespace kestrane::launcher {

namespace {

std::string onPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string list = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(':', start);
        if (end == std::string::npos) end = list.size();
        const std::string candidate = list.substr(start, end - start) + "/" + name;
        start = end + 1;
        struct stat st {};
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return "";
}

bool graphicalSession() {
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x != nullptr && *x != '\0') || (wayland != nullptr && *wayland != '\0');
}

}  // namespace

void showCriticalAlert(const std::string& reason) {
    if (graphicalSession()) {
        try {
            if (const std::string zenity = onPath("zenity"); !zenity.empty()) {
                if (runProgram(zenity, {"--error", "--no-markup", "--text=" + reason}).status >= 0) return;
            } else if (const std::string kdialog = onPath("kdialog"); !kdialog.empty()) {
                if (runProgram(kdialog, {"--error", reason}).status >= 0) return;
            }
        } catch (const std::exception&) {
            // fall through to standard error
        }
    }
    std::fprintf(stderr, "%s\n", reason.c_str());
    std::fflush(stderr);
}

bool relaunchWithAdministratorRights() {
    char* real = realpath("/proc/self/exe", nullptr);
    const std::string executable = real != nullptr ? real : "";
    std::free(real);
    // The executable's path reaches the shell as its $0, never inside the script's text, so
    // no character of the path can change what the script does.
    const std::string script = "\"$0\" > /dev/null 2>&1 &";
    Log("script: %@", "pkexec /bin/sh -c '" + script + "' " + executable);
    const std::string pkexec = onPath("pkexec");
    if (pkexec.empty() || executable.empty()) return false;
    try {
        return runProgram(pkexec, {"/bin/sh", "-c", script, executable}).status == 0;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace kestrane::launcher
