// Finding a Java runtime and binding the entry point of its launcher library (libjli.so).
// A runtime is either inside the bundle (Contents/PlugIns/<JVMRuntime>/Contents/Home) or
// installed in the JVM folder (/usr/lib/jvm, or the folder named by KESTRANE_JVM_DIR): a
// folder with a "release" file and bin/java; a JDK also has bin/javac.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "bundle.h"

namespace kestrane::launcher {

using JliLaunchFn = int (*)(int argc, char** argv, int jargc, const char** jargv, int appclassc,
                            const char** appclassv, const char* fullversion, const char* dotversion,
                            const char* pname, const char* lname, unsigned char javaargs, unsigned char cpwildcard,
                            unsigned char javaw, int ergo);

// "1.8.0_202" -> 8, "17.0.2" -> 17, "11+" -> 11, none or "" -> 0.
int extractMajorVersion(const std::optional<std::string>& version);

// The Java home of an installed runtime of the required version, or none.
std::optional<std::string> findJavaHome(const std::optional<std::string>& version, bool jrePreferred, bool jdkPreferred,
                                        bool exact);
// The system's default runtime when its version qualifies.
std::optional<std::string> findDefaultJavaHome(int required, bool exact);
// The highest qualifying JDK of the JVM folder ("/jre" appended up to version 8).
std::optional<std::string> findInstalledJdkHome(int required, bool exact);

// The same searches under the names the launcher's design gives them (they return Java
// homes, not library paths).
inline std::optional<std::string> findJavaDylib(const std::optional<std::string>& version, bool jrePreferred,
                                                bool jdkPreferred, bool exact) {
    return findJavaHome(version, jrePreferred, jdkPreferred, exact);
}
inline std::optional<std::string> findJREDylib(int required, bool exact) { return findDefaultJavaHome(required, exact); }
inline std::optional<std::string> findJDKDylib(int required, bool exact) { return findInstalledJdkHome(required, exact); }

// The major version in the release file of a Java home (or of <path>/Contents/Home for a
// runtime inside a bundle); 0 when there is none.
int runtimeMajorVersion(const std::string& runtimePath);

// The folders, relative to a runtime path, where libjli.so may be, in the order tried.
std::vector<std::string> libraryFolders(bool insideBundle);

struct Runtime {
    std::optional<std::string> runtimePath;  // replaces "$JVM_RUNTIME"
    std::optional<std::string> libraryPath;
    JliLaunchFn launch = nullptr;
};

// Finds and binds the runtime for the bundle's settings, or raises the launch error with the
// localized reason.
Runtime discoverRuntime(const Bundle& bundle);

}  // namespace kestrane::launcher
