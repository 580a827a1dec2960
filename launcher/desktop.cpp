#include "desktop.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "appearance.h"
#include "holders.h"
#include "launch_log.h"
#include "process.h"

namespace kestrane::launcher {

void showCriticalAlert(const std::string& reason) {
    if (appearance::graphicalSession()) {
        try {
            if (const auto zenity = findOnPath("zenity")) {
                if (runProgram(*zenity, {"--error", "--no-markup", "--text=" + reason}).status >= 0) return;
            } else if (const auto kdialog = findOnPath("kdialog")) {
                if (runProgram(*kdialog, {"--error", reason}).status >= 0) return;
            }
        } catch (const std::exception&) {
            // fall through to standard error
        }
    }
    std::fprintf(stderr, "%s\n", reason.c_str());
    std::fflush(stderr);
}

bool relaunchWithAdministratorRights() {
    const std::string executable = realPath("/proc/self/exe").value_or("");
    // The executable's path reaches the shell as its $0, never inside the script's text, so
    // no character of the path can change what the script does.
    const std::string script = "\"$0\" > /dev/null 2>&1 &";
    Log("script: %@", "pkexec /bin/sh -c '" + script + "' " + executable);
    const auto pkexec = findOnPath("pkexec");
    if (!pkexec || executable.empty()) return false;
    try {
        return runProgram(*pkexec, {"/bin/sh", "-c", script, executable}).status == 0;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace kestrane::launcher
