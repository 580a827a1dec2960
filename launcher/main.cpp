// The application's main executable: reads the bundle's settings, finds a Java runtime and
// starts the Java application in this process through the runtime's JLI_Launch.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "arguments.h"
#include "bundle.h"
#include "desktop.h"
#include "launch_error.h"
#include "launch_log.h"
#include "runtime.h"

#include "launcher_state.h"

namespace kestrane::launcher {

std::string replaceAppRoot(std::string text, const std::string& bundlePath) {
    const std::string token = "$APP_ROOT";
    for (std::size_t at = text.find(token); at != std::string::npos; at = text.find(token, at + bundlePath.size())) {
        text.replace(at, token.size(), bundlePath);
    }
    return text;
}

// The launch sequence. Returns JLI_Launch's result, or 0 after a privileged relaunch;
// raises LaunchError when a step fails.
int launch(const char* commandName, int argc, char** argv) {
    for (int i = 0; i < argc; ++i) {
        if (std::string(argv[i]) == "--verbose") isVerbose = true;
    }
    const Bundle bundle = Bundle::main();
    const Settings& info = bundle.info();
    Log("\n\n\n\nLoading Application '%@'", info.string("CFBundleName"));

    std::string workingDirectory;
    if (auto configured = info.string("WorkingDirectory")) {
        workingDirectory = replaceAppRoot(*configured, bundle.path());
    } else {
        const char* home = std::getenv("HOME");
        workingDirectory = home != nullptr ? home : "/";
    }
    Log("Working Directory: '%@'", convertRelativeFilePath(workingDirectory));
    if (chdir(workingDirectory.c_str()) != 0) {
        // the launch goes on in the directory it started in
    }

    if (info.has("JVMRunPrivileged") && getuid() != 0) {
        if (relaunchWithAdministratorRights()) return 0;
    }

    const Runtime runtime = discoverRuntime(bundle);

    if (bundle.path().find(':') != std::string::npos) {
        throw LaunchError("JavaLaunchError", bundle.localizedString("BundlePathContainsColon"));
    }
    Log("Main Bundle Path: '%@'", bundle.path());
    return assembleAndLaunch(bundle, runtime, commandName, argc, argv);
}

}  // namespace kestrane::launcher

// Exported so that a runtime may enter it again with its own vector.
[[gnu::visibility("default")]] int main(int argc, char** argv) {
    if (argc > 1 && launchCount == 0) {
        progargc = argc - 1;
        progargv = argv + 1;
    }
    try {
        kestrane::launcher::launch(argv[0], progargc, progargv);
        return 0;
    } catch (const kestrane::launcher::LaunchError& error) {
        std::fflush(stdout);
        kestrane::launcher::showCriticalAlert(error.reason());
        return 1;
    }
}
