// The launcher as a program: bundles are built in temporary folders around a copy of the
// executable, the runtime is a stand-in libjli.so that records the call (or, at the end, the
// real JDK), and each case checks the vector, the log, the alert text and the exit status.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "child_program.h"
#include "fake_portal.h"
#include "keyboard.h"
#include "session_bus.h"

namespace fs = std::filesystem;

namespace {

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? v : "";
}

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& p, const std::string& text, bool executable = false) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
    if (executable) fs::permissions(p, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
}

std::string xmlEscape(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else out.push_back(c);
    }
    return out;
}

// Property-list value texts.
std::string str(const std::string& s) { return "<string>" + xmlEscape(s) + "</string>"; }
std::string arr(const std::vector<std::string>& items) {
    std::string out = "<array>";
    for (const auto& i : items) out += str(i);
    return out + "</array>";
}
std::string dict(const std::map<std::string, std::string>& entries) {
    std::string out = "<dict>";
    for (const auto& [k, v] : entries) out += "<key>" + k + "</key>" + str(v);
    return out + "</dict>";
}
const std::string kTrue = "<true/>";
const std::string kFalse = "<false/>";

struct TempDir {
    fs::path path;
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "launchertestXXXXXX").string();
        path = mkdtemp(pattern.data());
        fs::permissions(path, fs::perms::all);  // reachable by the unprivileged user of the relaunch test
    }
    ~TempDir() { fs::remove_all(path); }
};

// An application bundle around a copy of the launcher.
struct Bundle {
    fs::path app;
    std::map<std::string, std::string> keys;  // key -> plist value text

    explicit Bundle(const fs::path& where, const std::string& name = "Test.app") : app(where / name) {
        fs::create_directories(app / "Contents/MacOS");
        fs::create_directories(app / "Contents/Java");
        fs::copy_file(env("KESTRANE_LAUNCHER"), launcher());
        keys["CFBundleName"] = str("Test App");
        keys["CFBundleIdentifier"] = str("com.kestrane.launchertest");
        keys["JVMMainClassName"] = str("com.example.Main");
    }
    fs::path launcher() const { return app / "Contents/MacOS/launcher"; }
    std::string path() const { return app.string(); }

    // A runtime inside the bundle, Contents/PlugIns/<name>, holding the stand-in library.
    void bundledRuntime(const std::string& name = "jdk", const std::string& folder = "Contents/Home/lib") {
        keys["JVMRuntime"] = str(name);
        const fs::path lib = app / "Contents/PlugIns" / name / folder / "libjli.so";
        fs::create_directories(lib.parent_path());
        fs::copy_file(env("KESTRANE_FAKE_JLI"), lib, fs::copy_options::overwrite_existing);
    }
    void strings(const std::string& language, const std::string& text) {
        writeFile(app / "Contents/Resources" / (language + ".lproj") / "Localizable.strings", text);
    }
    void write() const {
        std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>";
        for (const auto& [k, v] : keys) xml += "<key>" + k + "</key>" + v;
        writeFile(app / "Contents/Info.plist", xml + "</dict></plist>\n");
    }
};

struct Result {
    int status = -1;
    std::string out, err;
};

// Runs the bundle's launcher with args and exactly the variables in vars.
Result run(const Bundle& bundle, const std::vector<std::string>& args, const std::map<std::string, std::string>& vars,
           const std::vector<std::string>& prefix = {}) {
    bundle.write();
    TempDir io;
    const fs::path outPath = io.path / "out", errPath = io.path / "err";
    std::vector<std::string> argvStrings = prefix;
    argvStrings.push_back(bundle.launcher().string());
    argvStrings.insert(argvStrings.end(), args.begin(), args.end());
    std::vector<std::string> envStrings;
    for (const auto& [k, v] : vars) envStrings.push_back(k + "=" + v);
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv, envp;
        for (auto& a : argvStrings) argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto& e : envStrings) envp.push_back(e.data());
        envp.push_back(nullptr);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(outPath), readFile(errPath)};
}

// The environment properties (folders, home, sandbox, appearance, modifier keys) depend on
// the machine; the vector tests look at the rest.
bool isEnvironmentProperty(const std::string& a) {
    const std::size_t eq = a.find('=');
    if (a.rfind("-D", 0) != 0 || eq == std::string::npos) return false;
    const std::string name = a.substr(2, eq - 2);
    const std::string directory = "Directory";
    return (name.size() > directory.size() && name.compare(name.size() - directory.size(), directory.size(), directory) == 0) ||
           name == "UserHome" || name == "SandboxEnabled" || name == "DarkMode" || name.rfind("LaunchModifierFlag", 0) == 0;
}
std::vector<std::string> withoutEnvironment(std::vector<std::string> v) {
    std::erase_if(v, isEnvironmentProperty);
    return v;
}

// The recorded JLI_Launch calls: one map of lists per call.
using Call = std::map<std::string, std::vector<std::string>>;
std::vector<Call> calls(const fs::path& record) {
    std::vector<Call> out;
    std::istringstream in(readFile(record));
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t eq = line.find('=');
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "call") out.emplace_back();
        if (!out.empty()) out.back()[key].push_back(value);
    }
    return out;
}

class LauncherTest : public ::testing::Test {
protected:
    TempDir dir;
    fs::path home = dir.path / "home";
    fs::path record = dir.path / "record";
    std::map<std::string, std::string> vars;

    void SetUp() override {
        fs::create_directories(home);
        fs::create_directories(dir.path / "emptyjvm");
        vars = {{"PATH", "/usr/bin:/bin"},
                {"HOME", home.string()},
                {"KESTRANE_JLI_RECORD", record.string()},
                {"KESTRANE_JVM_DIR", (dir.path / "emptyjvm").string()},
                {"KESTRANE_RAM_BYTES", "17179869184"},
                {"LANG", "C"}};
        // Sanitizer builds: the launcher under test needs the same options as this test.
        for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
            if (!env(name).empty()) vars[name] = env(name);
        }
    }

    std::vector<std::string> argv(const Bundle& b, const std::vector<std::string>& args = {}) {
        const Result r = run(b, args, vars);
        EXPECT_EQ(r.status, 0) << r.err;
        const auto c = calls(record);
        EXPECT_EQ(c.size(), 1u);
        return c.empty() ? std::vector<std::string>{} : withoutEnvironment(c[0].at("argv"));
    }

    // A fake installed runtime in a JVM folder: release file, bin/java that prints the
    // version the way OpenJDK does, bin/javac for a JDK, and the stand-in library.
    void installRuntime(const fs::path& jvm, const std::string& name, const std::string& version, bool jdk,
                        const std::string& libFolder = "lib") {
        const fs::path home = jvm / name;
        writeFile(home / "release", "IMPLEMENTOR=\"Test\"\nJAVA_VERSION=\"" + version + "\"\n");
        writeFile(home / "bin/java", "#!/bin/sh\necho 'openjdk version \"" + version + "\" 2025-04-15' >&2\n", true);
        if (jdk) writeFile(home / "bin/javac", "#!/bin/sh\n", true);
        fs::create_directories(home / libFolder);
        fs::copy_file(env("KESTRANE_FAKE_JLI"), home / libFolder / "libjli.so");
    }
};

TEST_F(LauncherTest, FullVectorAndTheFourteenArguments) {
    Bundle b(dir.path);
    b.bundledRuntime();
    b.keys["JVMOptions"] = arr({"-Xmx1%", "-Xmx0.5%", "-Xmx250%", "-Xmx200%", "-Xmx512m", "-Dapp=$APP_ROOT/x",
                                "-Druntime=$JVM_RUNTIME"});
    b.keys["JVMDefaultOptions"] = dict({{"heap", "-Xmx1%"}, {"root", "-Droot=$APP_ROOT"}, {"rt", "-Drt=$JVM_RUNTIME"}});
    b.keys["JVMArguments"] = arr({"first", "$APP_ROOT/data", "$JVM_RUNTIME"});
    writeFile(b.app / "Contents/Java/b.jar", "");
    writeFile(b.app / "Contents/Java/notes.txt", "");
    fs::create_directories(b.app / "Contents/Java/folder");
    writeFile(b.app / "Contents/Java/a.jar", "");
    const std::string r = b.path(), java = r + "/Contents/Java";

    const Result result = run(b, {"one", "two"}, vars);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "");  // no log without --verbose
    const auto c = calls(record);
    ASSERT_EQ(c.size(), 1u);
    const auto v = withoutEnvironment(c[0].at("argv"));
    ASSERT_GE(v.size(), 3u);
    EXPECT_EQ(v[0], b.launcher().string());
    EXPECT_EQ(v[1], "-Djava.library.path=" + r + "/Contents/MacOS");
    // Classes first, then the jars in the folder's own listing order.
    EXPECT_EQ(v[2].rfind("-Djava.class.path=" + java + "/Classes:", 0), 0u) << v[2];
    EXPECT_NE(v[2].find(java + "/a.jar"), std::string::npos);
    EXPECT_NE(v[2].find(java + "/b.jar"), std::string::npos);
    EXPECT_EQ(v[2].find("notes.txt"), std::string::npos);
    EXPECT_EQ(v[2].find("folder"), std::string::npos);
    const std::vector<std::string> rest(v.begin() + 3, v.end());
    const std::vector<std::string> expected = {
        "-Xmx172m", "-Xmx0.5%", "-Xmx250%", "-Xmx34360m", "-Xmx512m", "-Dapp=" + r + "/x",
        "-Druntime=" + r + "/Contents/PlugIns/jdk",
        "-Xmx1%", "-Droot=" + r, "-Drt=$JVM_RUNTIME",  // default options by name, percentages untouched
        "com.example.Main", "first", r + "/data", "$JVM_RUNTIME", "one", "two"};
    EXPECT_EQ(rest, expected);
    const Call& call = c[0];
    EXPECT_EQ(call.at("argc")[0], std::to_string(call.at("argv").size()));
    EXPECT_EQ(call.at("argvEnd")[0], "null");
    EXPECT_EQ(call.at("jargc")[0], "1");
    EXPECT_EQ(call.at("jargv0")[0], "(null)");
    EXPECT_EQ(call.at("appclassc")[0], "1");
    EXPECT_EQ(call.at("appclassv0")[0], "(null)");
    EXPECT_EQ(call.at("fullversion")[0], "");
    EXPECT_EQ(call.at("dotversion")[0], "");
    EXPECT_EQ(call.at("pname")[0], "java");
    EXPECT_EQ(call.at("lname")[0], "java");
    EXPECT_EQ(call.at("javaargs")[0], "0");
    EXPECT_EQ(call.at("cpwildcard")[0], "0");
    EXPECT_EQ(call.at("javaw")[0], "0");
    EXPECT_EQ(call.at("ergo")[0], "0");
    EXPECT_EQ(call.at("cwd")[0], home.string());  // no WorkingDirectory: the home folder
}

TEST_F(LauncherTest, ClassPathCases) {
    {
        Bundle b(dir.path, "Jar.app");
        b.bundledRuntime();
        b.keys.erase("JVMMainClassName");
        b.keys["JVMJARLauncher"] = str("app.jar");
        const auto v = argv(b);
        ASSERT_GE(v.size(), 3u);
        EXPECT_EQ(v[2], "-Djava.class.path=:" + b.path() + "/Contents/Java/app.jar");
        // Without a main class the jar's manifest names it.
        EXPECT_EQ(std::vector<std::string>(v.end() - 2, v.end()),
                  (std::vector<std::string>{"-jar", b.path() + "/Contents/Java/app.jar"}));
    }
    fs::remove(record);
    {
        Bundle b(dir.path, "Module.app");
        b.bundledRuntime();
        b.keys["JVMMainClassName"] = str("com.example.app/com.example.Main");
        b.keys["JVMClassPath"] = arr({"ignored.jar"});
        const auto v = argv(b, {"x"});
        EXPECT_EQ(v, (std::vector<std::string>{b.launcher().string(), "-Djava.library.path=" + b.path() + "/Contents/MacOS",
                                               "-m", "com.example.app/com.example.Main", "x"}));
    }
    fs::remove(record);
    {
        Bundle b(dir.path, "Explicit.app");
        b.bundledRuntime();
        b.keys["JVMClassPath"] = arr({"$APP_ROOT/lib/one.jar", "/opt/two.jar"});
        const auto v = argv(b);
        ASSERT_GE(v.size(), 3u);
        EXPECT_EQ(v[2], "-Djava.class.path=" + b.path() + "/lib/one.jar:/opt/two.jar");
    }
    fs::remove(record);
    {
        Bundle b(dir.path, "Empty.app");
        b.bundledRuntime();
        b.keys["JVMClassPath"] = arr({});
        const auto v = argv(b);
        ASSERT_GE(v.size(), 3u);
        EXPECT_EQ(v[2], "-Djava.class.path=");
    }
}

TEST_F(LauncherTest, UserOverridesWrittenByJavaPrefs) {
    // The application's own preference API writes the overrides.
    const std::string java = env("KESTRANE_TEST_JDK") + "/bin/java";
    const std::string write = java + " -Duser.home=" + home.string() + " -cp " + env("KESTRANE_TEST_APPS_JAR") +
                              " WritePrefs com/kestrane/launchertest/JVMOptions heap=-Xmx3g added=-Dadded=1";
    ASSERT_EQ(std::system(write.c_str()), 0);
    ASSERT_TRUE(fs::exists(home / ".java/.userPrefs/com/kestrane/launchertest/JVMOptions/prefs.xml"));

    Bundle b(dir.path);
    b.bundledRuntime();
    b.keys["JVMDefaultOptions"] = dict({{"heap", "-Xmx1g"}, {"keep", "-Dkeep=1"}});
    auto v = argv(b);
    EXPECT_EQ(std::vector<std::string>(v.begin() + 3, v.end() - 1),
              (std::vector<std::string>{"-Dadded=1", "-Xmx3g", "-Dkeep=1"}));

    fs::remove(record);
    b.keys.erase("JVMDefaultOptions");  // without the bundle's defaults the user's are ignored
    v = argv(b);
    EXPECT_EQ(std::vector<std::string>(v.begin() + 3, v.end()), (std::vector<std::string>{"com.example.Main"}));
}

TEST_F(LauncherTest, ProgramArgumentsAndProcessSerialNumbers) {
    Bundle b(dir.path);
    b.bundledRuntime();
    b.keys["IgnorePSN"] = kTrue;
    auto v = argv(b, {"-psn_0_123456", "-psn_10_5", "keep"});
    EXPECT_EQ(std::vector<std::string>(v.end() - 2, v.end()), (std::vector<std::string>{"-psn_10_5", "keep"}));
    fs::remove(record);
    b.keys["IgnorePSN"] = kFalse;
    v = argv(b, {"-psn_0_123456", "keep"});
    EXPECT_EQ(std::vector<std::string>(v.end() - 2, v.end()), (std::vector<std::string>{"-psn_0_123456", "keep"}));
    fs::remove(record);
    v = argv(b);  // no arguments: none reach the application
    EXPECT_EQ(v.back(), "com.example.Main");
}

TEST_F(LauncherTest, EnvironmentAndWorkingDirectory) {
    Bundle b(dir.path);
    b.bundledRuntime();
    b.keys["WorkingDirectory"] = str("$APP_ROOT/Contents/Resources");
    fs::create_directories(b.app / "Contents/Resources");
    vars["KESTRANE_JLI_ENV"] = "PLUGIN_PATH";
    vars["PLUGIN_PATH"] = "$APP_ROOT/lib:$APP_ROOT/more";
    ASSERT_EQ(run(b, {}, vars).status, 0);
    auto c = calls(record);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].at("env")[0], b.path() + "/lib:" + b.path() + "/more");
    EXPECT_EQ(c[0].at("cwd")[0], b.path() + "/Contents/Resources");

    fs::remove(record);
    b.keys["WorkingDirectory"] = str("/no/such/folder");
    const Result r = run(b, {}, vars);  // started in the test's own folder
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(calls(record).at(0).at("cwd")[0], fs::current_path().string());
}

TEST_F(LauncherTest, VerboseLogGoesToStandardOutputAndTheArgumentStays) {
    Bundle b(dir.path);
    b.bundledRuntime();
    b.keys["WorkingDirectory"] = str("~/./Music//");
    const Result r = run(b, {"--verbose"}, vars);
    ASSERT_EQ(r.status, 0);
    const std::string r0 = b.path();
    const std::string expectedStart = "\n\n\n\nLoading Application 'Test App'\nWorking Directory: '" + home.string() +
                                      "/Music'\nJava Runtime (jdk) Relative Path: '" + r0 + "/Contents/PlugIns/jdk' (dylib: " +
                                      r0 + "/Contents/PlugIns/jdk/Contents/Home/lib/libjli.so)\n";
    EXPECT_EQ(r.out.substr(0, expectedStart.size()), expectedStart);
    EXPECT_NE(r.out.find("Main Bundle Path: '" + r0 + "'\nMain Class Name: 'com.example.Main'\n"), std::string::npos);
    EXPECT_NE(r.out.find("Command line passed to application:\nArg 0: '" + b.launcher().string() + "'\n"), std::string::npos);
    const auto v = calls(record).at(0).at("argv");
    EXPECT_EQ(v.back(), "--verbose");
    EXPECT_NE(r.out.find("Arg " + std::to_string(v.size() - 1) + ": '--verbose'\n"), std::string::npos) << r.out;
}

TEST_F(LauncherTest, ReentryKeepsTheFirstProgramArguments) {
    Bundle b(dir.path);
    b.bundledRuntime();
    vars["KESTRANE_JLI_REENTER"] = "1";
    const Result r = run(b, {"user-arg"}, vars);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto c = calls(record);
    ASSERT_EQ(c.size(), 2u);  // launchCount reached 2
    EXPECT_EQ(c[0].at("argv"), c[1].at("argv"));
    EXPECT_EQ(c[1].at("argv").back(), "user-arg");
}

TEST_F(LauncherTest, BundledRuntimePrefersJliFoldersAndSkipsDirectories) {
    Bundle b(dir.path);
    b.bundledRuntime("rt", "Contents/Home/lib");
    b.bundledRuntime("rt", "Contents/Home/lib/jli");
    fs::create_directories(b.app / "Contents/PlugIns/rt/Contents/Home/jre/lib/jli/libjli.so");  // a folder, skipped
    const Result r = run(b, {"--verbose"}, vars);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("(dylib: " + b.path() + "/Contents/PlugIns/rt/Contents/Home/lib/jli/libjli.so)"), std::string::npos) << r.out;
}

TEST_F(LauncherTest, LaunchErrorsInTheirOrderWithLocalizedTexts) {
    Bundle b(dir.path, "Err:or.app");
    b.strings("en", "\"JRELoadError\" = \"No runtime.\";\n\"JRExLoadFullError\" = \"Need Java %d.\";\n"
                    "\"JDKxLoadFullError\" = \"Need JDK %d.\";\n\"BundlePathContainsColon\" = \"Colon!\";\n"
                    "\"MainClassNameRequired\" = \"No main.\";\n\"JavaDirectoryNotFound\" = \"No Java folder.\";\n");
    b.strings("de", "\"JRELoadError\" = \"Keine Laufzeit.\";\n");
    auto expectAlert = [&](const std::string& text) {
        const Result r = run(b, {}, vars);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, text + "\n");
        EXPECT_FALSE(fs::exists(record));
    };
    b.keys["JVMRuntime"] = str("missing");  // a runtime with no library; the colon comes second
    expectAlert("No runtime.");
    vars["LANG"] = "de_DE.UTF-8";
    expectAlert("Keine Laufzeit.");
    vars["LANG"] = "C";
    b.keys.erase("JVMRuntime");  // installed runtimes: the JVM folder is empty, no java on PATH
    vars["PATH"] = (dir.path / "emptyjvm").string();
    expectAlert("No runtime.");  // no JVMVersion
    b.keys["JVMVersion"] = str("1.6");
    expectAlert("Need Java 7.");
    b.keys["JVMVersion"] = str("11");
    b.keys["JDKPreferred"] = kTrue;
    expectAlert("Need JDK 11.");
    b.keys["JREPreferred"] = kTrue;  // both preferences: neither
    expectAlert("Need Java 11.");
    b.bundledRuntime();
    expectAlert("Colon!");
    b.keys.erase("JVMMainClassName");  // the colon is reported before the main-class check
    expectAlert("Colon!");
}

TEST_F(LauncherTest, ChecksOfTheMainClassAndTheJavaFolder) {
    Bundle b(dir.path);
    b.bundledRuntime();
    b.keys["JVMMainClassName"] = str("mod/com.example.Main");
    b.keys["JVMJARLauncher"] = str("app.jar");
    Result r = run(b, {}, vars);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Modules cannot be used in conjuction with jar launcher\n");
    b.keys.erase("JVMMainClassName");
    b.keys.erase("JVMJARLauncher");
    r = run(b, {}, vars);  // no strings table: the key itself
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "MainClassNameRequired\n");
    b.keys["JVMMainClassName"] = str("com.example.Main");
    fs::remove_all(b.app / "Contents/Java");
    r = run(b, {}, vars);
    EXPECT_EQ(r.err, "JavaDirectoryNotFound\n");
    EXPECT_FALSE(fs::exists(record));
}

TEST_F(LauncherTest, TranslatedFormatsCannotReadOrWriteMemory) {
    Bundle b(dir.path);
    b.keys["JVMVersion"] = str("9");
    vars["PATH"] = (dir.path / "emptyjvm").string();
    b.strings("en", "\"JRExLoadFullError\" = \"Java %d %s %n %@ %x\";");
    const Result r = run(b, {}, vars);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Java 9 (null) %n (null) %x\n");
}

TEST_F(LauncherTest, InstalledRuntimeSearch) {
    const fs::path jvm = dir.path / "jvm";
    installRuntime(jvm, "jdk-11", "11.0.2", true);
    installRuntime(jvm, "jdk-17", "17.0.15", true);
    installRuntime(jvm, "jdk-17.0.9", "17.0.9", true);
    installRuntime(jvm, "jre-21", "21.0.1", false);
    installRuntime(jvm, "jdk1.8", "1.8.0_202", true, "jre/lib/amd64/jli");
    writeFile(jvm / "jdk1.8/jre/lib/deploy.jar", "");  // its JNLP client
    fs::create_directory_symlink(jvm / "jre-21", jvm / "default-java");
    vars["KESTRANE_JVM_DIR"] = jvm.string();
    Bundle b(dir.path);

    // The default runtime qualifies for 17: it is taken.
    b.keys["JVMVersion"] = str("17");
    Result r = run(b, {"--verbose"}, vars);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Searching for a JRE.\nSearching for a Java 17\nFound a Java 21.0.1 JRE\nLooks like major version 21\n"
                         "JRE version qualifies\nJava Runtime Dylib Path: '" + (jvm / "default-java/lib/libjli.so").string() + "'"),
              std::string::npos) << r.out;

    // A JDK is preferred: the highest qualifying JDK, the JRE never run.
    b.keys["JDKPreferred"] = kTrue;
    b.keys["JVMVersion"] = str("1.8+");
    r = run(b, {"--verbose"}, vars);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("A JDK is preferred; will not search for a JRE.\nFound a Java 17.0.15 JDK\nLooks like major version 17\n"
                         "JDK version qualifies\nJava Runtime Dylib Path: '" + (jvm / "jdk-17/lib/libjli.so").string() + "'"),
              std::string::npos) << r.out;

    // Nothing new enough: "No matching JDK found." twice, then the formatted error.
    b.keys["JVMVersion"] = str("25");
    b.strings("en", "\"JDKxLoadFullError\" = \"JDK %d missing\";");
    r = run(b, {"--verbose"}, vars);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("No matching JDK found.\nNo matching JDK found.\nNo matching JRE or JDK found.\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "JDK 25 missing\n");

    // A JRE is preferred and the default runtime is too old: no JDK is searched.
    b.keys.erase("JDKPreferred");
    b.keys["JREPreferred"] = kTrue;
    r = run(b, {"--verbose"}, vars);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("No matching JRE found.\nA JRE is preferred; will not search for a JDK.\nNo matching JRE or JDK found.\n"),
              std::string::npos) << r.out;

    // JNLP mode asks for exactly 8: the Java 8 JDK's jre folder, with its amd64 library.
    b.keys.erase("JREPreferred");
    b.keys["JDKPreferred"] = kTrue;
    b.keys["JVMVersion"] = str("11");
    b.keys["JVMJNLPLauncher"] = str("app.jnlp");
    writeFile(b.app / "app.jnlp", "<jnlp/>");
    vars["TMPDIR"] = dir.path.string();
    fs::remove(record);
    r = run(b, {"--verbose"}, vars);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Will Require a JVM version '8' due to JNLP restrictions\n"), std::string::npos);
    EXPECT_NE(r.out.find("Java Runtime Dylib Path: '" + (jvm / "jdk1.8/jre/lib/amd64/jli/libjli.so").string() + "'"),
              std::string::npos) << r.out;
}

TEST_F(LauncherTest, PrivilegedRelaunchThroughPkexec) {
    if (getuid() != 0) GTEST_SKIP() << "needs root to run the launcher as an ordinary user";
    const fs::path bin = dir.path / "bin", pkexecLog = dir.path / "pkexec.log";
    writeFile(bin / "pkexec", "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\" >> " + pkexecLog.string() + "; done\nexit $PKEXEC_STATUS\n", true);
    Bundle b(dir.path);
    b.bundledRuntime();
    b.keys["JVMRunPrivileged"] = kFalse;  // present is enough, whatever its value
    fs::permissions(dir.path, fs::perms::all);
    for (const auto& entry : fs::recursive_directory_iterator(dir.path)) fs::permissions(entry.path(), fs::perms::all);
    vars["PATH"] = bin.string() + ":/usr/bin:/bin";
    vars["PKEXEC_STATUS"] = "0";
    const std::vector<std::string> asNobody = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    Result r = run(b, {"ignored"}, vars, asNobody);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(fs::exists(record));  // this process ends; the root instance carries on
    EXPECT_EQ(readFile(pkexecLog), "/bin/sh\n-c\n\"$0\" > /dev/null 2>&1 &\n" + b.launcher().string() + "\n");

    vars["PKEXEC_STATUS"] = "126";  // the user dismissed the prompt: go on without privileges
    r = run(b, {}, vars, asNobody);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(calls(record).size(), 1u);

    fs::remove(record);
    r = run(b, {}, vars);  // root: no relaunch at all
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(calls(record).size(), 1u);
}

TEST_F(LauncherTest, RealLaunchOfAJavaApplication) {
    Bundle b(dir.path);
    const fs::path runtimeHome = b.app / "Contents/PlugIns/jdk/Contents/Home";
    fs::create_directories(runtimeHome.parent_path());
    fs::create_directory_symlink(env("KESTRANE_TEST_JDK"), runtimeHome);
    fs::copy_file(env("KESTRANE_TEST_APPS_JAR"), b.app / "Contents/Java/apps.jar");
    fs::create_directories(b.app / "Contents/Resources");
    b.keys["JVMRuntime"] = str("jdk");
    b.keys["JVMMainClassName"] = str("EchoApp");
    b.keys["WorkingDirectory"] = str("$APP_ROOT/Contents/Resources");
    b.keys["JVMOptions"] = arr({"-Dkestrane.option=$APP_ROOT", "-Xmx25%"});
    b.keys["JVMDefaultOptions"] = dict({{"mode", "-Dkestrane.mode=bundle"}});
    b.keys["JVMArguments"] = arr({"from-bundle"});
    const std::string write = env("KESTRANE_TEST_JDK") + "/bin/java -Duser.home=" + home.string() + " -cp " +
                              env("KESTRANE_TEST_APPS_JAR") + " WritePrefs com/kestrane/launchertest/JVMOptions mode=-Dkestrane.mode=user";
    ASSERT_EQ(std::system(write.c_str()), 0);
    const fs::path echo = dir.path / "echo.txt";
    vars["ECHO_APP_OUT"] = echo.string();

    Result r = run(b, {"--verbose"}, vars);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string text = readFile(echo);
    auto has = [&text](const std::string& line) { return text.find(line + "\n") != std::string::npos; };
    EXPECT_TRUE(has("argc=2")) << text;
    EXPECT_TRUE(has("arg=from-bundle"));
    EXPECT_TRUE(has("arg=--verbose"));
    EXPECT_TRUE(has("cwd=" + b.path() + "/Contents/Resources"));
    EXPECT_TRUE(has("prop.java.library.path=" + b.path() + "/Contents/MacOS"));
    EXPECT_TRUE(has("prop.java.class.path=" + b.path() + "/Contents/Java/Classes:" + b.path() + "/Contents/Java/apps.jar"));
    EXPECT_TRUE(has("prop.kestrane.option=" + b.path()));
    EXPECT_TRUE(has("prop.kestrane.mode=user"));
    EXPECT_NE(r.out.find("Option: -Xmx4295m"), std::string::npos);  // 25% of 16 GiB
    // In-process: the application's process is the launcher's.
    EXPECT_NE(text.find("pid="), std::string::npos);

    r = run(b, {}, vars);  // no arguments: only the bundle's
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(readFile(echo).find("argc=1\narg=from-bundle\n"), std::string::npos);
}

}  // namespace

namespace {

// JNLP mode with the runtime's own client: the vector, the copy and its name, the source's
// two places, and the failures (no source, no temporary folder).
TEST_F(LauncherTest, JnlpModeCopiesTheFileAndStartsTheRuntimesClient) {
    Bundle b(dir.path);
    b.bundledRuntime();
    const std::string rt = b.path() + "/Contents/PlugIns/jdk";
    writeFile(rt + "/lib/deploy.jar", "");
    b.keys["JVMJNLPLauncher"] = str("app.jnlp");
    b.keys["JVMOptions"] = arr({"-Dopt=$JVM_RUNTIME"});
    b.keys["JVMArguments"] = arr({"a1", "a2"});
    writeFile(b.app / "app.jnlp", "top");
    writeFile(b.app / "Contents/Java/app.jnlp", "java");
    const fs::path tmp = dir.path / "tmp";
    fs::create_directories(tmp);
    vars["TMPDIR"] = tmp.string();

    Result r = run(b, {"p1"}, vars);
    ASSERT_EQ(r.status, 0) << r.err;
    auto c = calls(record);
    ASSERT_EQ(c.size(), 1u);
    const auto v = withoutEnvironment(c[0].at("argv"));
    ASSERT_EQ(v.size(), 16u);
    const std::string copy = v[14];
    const std::string prefix = tmp.string() + "/jnlpFile.";
    ASSERT_EQ(copy.size(), prefix.size() + 11) << copy;
    EXPECT_EQ(copy.substr(0, prefix.size()), prefix);
    EXPECT_EQ(copy.substr(prefix.size() + 6), ".jnlp");
    EXPECT_TRUE(std::all_of(copy.begin() + prefix.size(), copy.begin() + prefix.size() + 6, [](char c) { return std::isalnum(static_cast<unsigned char>(c)); }))
        << copy;
    EXPECT_EQ(readFile(copy), "top");  // the top of the bundle wins over the Java folder
    const std::vector<std::string> expected = {
        b.launcher().string(), "-Djava.library.path=" + b.path() + "/Contents/MacOS", "-Dopt=" + rt, "-classpath",
        rt + "/lib/deploy.jar", "-Dsun.awt.warmup=true", "-Xverify:remote", "-Djnlpx.remove=true", "-DtrustProxy=true",
        "-Djava.security.policy=file:" + rt + "/lib/security/javaws.policy",
        "-Xbootclasspath/a:" + rt + "/lib/javaws.jar:" + rt + "/lib/deploy.jar:" + rt + "/lib/plugin.jar",
        "com.sun.javaws.Main", "a1", "a2", copy, "p1"};
    EXPECT_EQ(v, expected);
    EXPECT_EQ(c[0].at("appclassv0")[0], rt + "/lib/deploy.jar");

    // Only in the Java folder: that one. A second launch makes a second copy.
    fs::remove(b.app / "app.jnlp");
    fs::remove(record);
    r = run(b, {}, vars);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string second = withoutEnvironment(calls(record).at(0).at("argv")).back();
    EXPECT_NE(second, copy);
    EXPECT_EQ(readFile(second), "java");

    // Nowhere: the copy error on standard error even without --verbose, then the alert.
    fs::remove(b.app / "Contents/Java/app.jnlp");
    r = run(b, {}, vars);
    EXPECT_EQ(r.status, 1);
    // One log line (date, process, ids) with the cause, then the alert's text.
    const std::size_t firstEnd = r.err.find('\n');
    ASSERT_NE(firstEnd, std::string::npos) << r.err;
    const std::string line = r.err.substr(0, firstEnd);
    EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(line[0]))) << line;
    EXPECT_NE(line.find(" launcher["), std::string::npos) << line;
    EXPECT_NE(line.find("] Error: "), std::string::npos) << line;
    EXPECT_NE(line.find("app.jnlp"), std::string::npos) << line;
    EXPECT_EQ(r.err.substr(firstEnd + 1), "File copy error\n");

    // No temporary file can be made: the reason names the folder.
    writeFile(b.app / "app.jnlp", "top");
    vars["TMPDIR"] = (dir.path / "missing").string();
    r = run(b, {"--verbose"}, vars);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Error while creating tmp file\n"), std::string::npos);
    EXPECT_NE(r.err.find((dir.path / "missing").string()), std::string::npos) << r.err;
}

// A runtime without its own client: IcedTea-Web's in the same positions, with what its
// javaws script passes to a modular runtime; without either, a launch error that says so.
TEST_F(LauncherTest, JnlpModeUsesIcedTeaWebOrSaysThatNoClientIsInstalled) {
    Bundle b(dir.path);
    b.bundledRuntime();
    writeFile(b.app / "Contents/PlugIns/jdk/Contents/Home/release", "JAVA_VERSION=\"17.0.15\"\n");
    b.keys["JVMJNLPLauncher"] = str("app.jnlp");
    writeFile(b.app / "app.jnlp", "<jnlp/>");
    vars["TMPDIR"] = dir.path.string();
    const fs::path itw = dir.path / "itw";
    writeFile(itw / "javaws.jar", "");
    writeFile(itw / "bin/itw-modularjdk.args", "# comment\n\n--add-reads=java.base=ALL-UNNAMED\n  --add-exports=a/b=c  \n");
    vars["KESTRANE_ICEDTEA_WEB_DIR"] = itw.string();

    Result r = run(b, {}, vars);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto c = calls(record);
    const auto v = withoutEnvironment(c.at(0).at("argv"));
    auto at = [&v](const std::string& s) { return std::find(v.begin(), v.end(), s) - v.begin(); };
    const std::string jar = (itw / "javaws.jar").string();
    EXPECT_EQ(v[2], "-classpath");
    EXPECT_EQ(v[3], jar);
    EXPECT_EQ(c[0].at("appclassv0")[0], jar);
    EXPECT_LT(at("--patch-module"), at("java.desktop=" + jar));
    EXPECT_LT(at("--add-reads=java.base=ALL-UNNAMED"), at("--add-exports=a/b=c"));
    EXPECT_LT(at("-Djava.security.manager"), at("net.sourceforge.jnlp.runtime.Boot"));
    EXPECT_EQ(at("net.sourceforge.jnlp.runtime.Boot"), static_cast<long>(v.size()) - 2);

    vars["KESTRANE_ICEDTEA_WEB_DIR"] = (dir.path / "none").string();
    r = run(b, {}, vars);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("No JNLP client is installed"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("icedtea-netx"), std::string::npos);
}

// One real launch: the JDK of the build, IcedTea-Web's client in its headless mode, a local
// JNLP file whose jar is the test's own.
TEST_F(LauncherTest, RealJnlpLaunchThroughIcedTeaWeb) {
    if (!fs::exists("/usr/share/icedtea-web/javaws.jar")) GTEST_SKIP() << "IcedTea-Web (icedtea-netx) is not installed";
    Bundle b(dir.path);
    const fs::path runtimeHome = b.app / "Contents/PlugIns/jdk/Contents/Home";
    fs::create_directories(runtimeHome.parent_path());
    fs::create_directory_symlink(env("KESTRANE_TEST_JDK"), runtimeHome);
    b.keys["JVMRuntime"] = str("jdk");
    b.keys["JVMJNLPLauncher"] = str("hello.jnlp");
    b.keys["JVMArguments"] = arr({"-headless", "-Xnofork"});
    const fs::path jar = b.app / "Contents/Java/hello.jar";
    fs::copy_file(env("KESTRANE_JNLP_APP_JAR"), jar);
    writeFile(b.app / "Contents/Java/hello.jnlp",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<jnlp spec=\"1.0+\" codebase=\"file://" + jar.parent_path().string() +
                  "/\">\n<information><title>Hello</title><vendor>Kestrane</vendor><offline-allowed/></information>\n"
                  "<resources><j2se version=\"1.6+\"/><jar href=\"hello.jar\" main=\"true\"/></resources>\n"
                  "<application-desc main-class=\"JnlpHello\"/>\n</jnlp>\n");
    vars["TMPDIR"] = dir.path.string();
    vars["XDG_CONFIG_HOME"] = (home / ".config").string();
    vars["XDG_CACHE_HOME"] = (home / ".cache").string();
    const Result r = run(b, {}, vars);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("hello from a JNLP application\n"), std::string::npos) << r.out << r.err;
}

}  // namespace

namespace {

using kestrane::test::XServer;

// Holds keys down on display through xdotool, whose connection stays open for as long as they
// are meant to be held (the server lets them go when it closes). Returns the holder's pid; end
// it with kestrane::test::stopProgram.
pid_t holdKeys(const std::string& display, const std::string& keys) {
    const pid_t holder = fork();
    if (holder == 0) {
        setenv("DISPLAY", display.c_str(), 1);
        execlp("sh", "sh", "-c", ("exec xdotool keydown " + keys + " sleep 60").c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return holder;
}

bool endsWithFalse(const std::string& s) { return s.size() >= 6 && s.compare(s.size() - 6, 6, "=false") == 0; }

std::vector<std::string> modifierProperties(const std::vector<std::string>& v) {
    std::vector<std::string> out;
    for (const std::string& a : v) {
        if (a.rfind("-DLaunchModifierFlag", 0) == 0) out.push_back(a);
    }
    return out;
}

TEST_F(LauncherTest, ModifierKeysHeldOnARealXServer) {
    XServer x;
    if (x.display().empty()) GTEST_SKIP() << "Xvfb (package xvfb) is not installed";
    Bundle b(dir.path);
    b.bundledRuntime();
    vars["DISPLAY"] = x.display();
    setenv("DISPLAY", x.display().c_str(), 1);
    // The keys are down once the server says so; a holder that could not reach the server
    // (it may still be starting) is replaced.
    const std::uint64_t held = kestrane::launcher::kShiftFlag | kestrane::launcher::kOptionFlag;
    pid_t holder = -1;
    for (int attempt = 0; attempt < 5 && kestrane::launcher::currentModifierFlags().value_or(0) != held; ++attempt) {
        if (holder > 0) kestrane::test::stopProgram(holder);
        holder = holdKeys(x.display(), "shift alt");
        for (int i = 0; i < 40 && kestrane::launcher::currentModifierFlags().value_or(0) != held; ++i) usleep(50000);
    }
    Result r = run(b, {}, vars);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(modifierProperties(calls(record).at(0).at("argv")),
              (std::vector<std::string>{"-DLaunchModifierFlags=655360", "-DLaunchModifierFlagCapsLock=false",
                                        "-DLaunchModifierFlagShift=true", "-DLaunchModifierFlagControl=false",
                                        "-DLaunchModifierFlagOption=true", "-DLaunchModifierFlagCommand=false",
                                        "-DLaunchModifierFlagNumericPad=false", "-DLaunchModifierFlagHelp=false",
                                        "-DLaunchModifierFlagFunction=false"}));
    kestrane::test::stopProgram(holder);
    for (int i = 0; i < 100 && kestrane::launcher::currentModifierFlags().value_or(0) != 0; ++i) usleep(50000);
    unsetenv("DISPLAY");
    fs::remove(record);
    r = run(b, {}, vars);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto props = modifierProperties(calls(record).at(0).at("argv"));
    ASSERT_EQ(props.size(), 9u);
    EXPECT_EQ(props[0], "-DLaunchModifierFlags=0");
    for (std::size_t i = 1; i < props.size(); ++i) EXPECT_TRUE(endsWithFalse(props[i])) << props[i];
}

std::string darkModeOf(const std::vector<std::string>& v) {
    for (const std::string& a : v) {
        if (a.rfind("-DDarkMode=", 0) == 0) return a;
    }
    return "";
}

TEST_F(LauncherTest, DarkModeFromThePortalAndALaunchThatDoesNotWaitForIt) {
    kestrane::test::PrivateSessionBus bus;
    vars["DBUS_SESSION_BUS_ADDRESS"] = bus.address();
    Bundle b(dir.path);
    b.bundledRuntime();
    {
        auto portal = kestrane::test::startPortal(bus.address(), {1u, std::nullopt, false, false});  // Read only
        ASSERT_EQ(run(b, {}, vars).status, 0);
        EXPECT_EQ(darkModeOf(calls(record).at(0).at("argv")), "-DDarkMode=true");
    }
    fs::remove(record);
    {
        auto portal = kestrane::test::startPortal(bus.address(), {0u, std::nullopt, true, false});
        ASSERT_EQ(run(b, {}, vars).status, 0);
        EXPECT_EQ(darkModeOf(calls(record).at(0).at("argv")), "-DDarkMode=false");
    }
    fs::remove(record);
    // A portal that never answers costs the launch no more than the bound: compared with a
    // launch whose portal answers, measured the same way.
    vars["XDG_DATA_DIRS"] = (dir.path / "noschemas").string();  // no GNOME setting either
    vars["GTK_THEME"] = "Adwaita:dark";
    auto timedRun = [&] {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(run(b, {}, vars).status, 0);
        return std::chrono::steady_clock::now() - start;
    };
    std::chrono::steady_clock::duration answered, hanging;
    {
        auto portal = kestrane::test::startPortal(bus.address(), {0u, std::nullopt, true, false});
        answered = timedRun();
    }
    fs::remove(record);
    {
        auto portal = kestrane::test::startPortal(bus.address(), {1u, std::nullopt, true, true});  // never answers
        hanging = timedRun();
        EXPECT_EQ(darkModeOf(calls(record).at(0).at("argv")), "-DDarkMode=true");  // the next source decides
    }
    EXPECT_LT(hanging - answered, std::chrono::milliseconds(1000));
}

}  // namespace
