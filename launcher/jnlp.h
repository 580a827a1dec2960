// JNLP mode: instead of a main class of the application's own, the launcher starts a JNLP
// client with a private copy of the bundle's JNLP file. The client is the runtime's own
// (lib/deploy.jar) where it has one; modern runtimes have none, and then IcedTea-Web's is
// used when it is installed.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "bundle.h"

namespace kestrane::launcher {

struct JnlpSetup {
    std::string deployJar;               // the client's class path, and JLI_Launch's application class path
    std::string mainClass;               // the client's main class
    std::vector<std::string> options;    // appended to the bundle's options, "-classpath" first
    std::string jnlpCopy;                // the temporary copy, the last application argument
};

// Where IcedTea-Web lies: KESTRANE_ICEDTEA_WEB_DIR, else /usr/share/icedtea-web.
std::string icedTeaWebFolder();

// A new, unique, empty file "jnlpFile.XXXXXX.jnlp" in TMPDIR (else /tmp); none when none
// could be made (logged as "Error while creating tmp file").
std::optional<std::string> tmpFile();

// The client's jars, class and options for the runtime at runtimePath (none: no runtime
// path is known), the temporary copy of the JNLP file that "JVMJNLPLauncher" names (at the
// top of the bundle, else in the Java folder). Raises the launch errors: no JNLP client,
// no temporary file, and "File copy error" (its cause always written to standard error).
JnlpSetup prepareJnlp(const Bundle& bundle, const std::optional<std::string>& runtimePath);

}  // namespace kestrane::launcher
