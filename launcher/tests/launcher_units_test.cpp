// The launcher's pure rules: version numbers, truth values, the log format, paths, the
// strings-file parser, memory percentages, process serial numbers, the environment
// properties and the vector builder.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "arguments.h"
#include "environment_properties.h"
#include "keyboard.h"
#include "bundle.h"
#include "launch_log.h"
#include "runtime.h"
#include "strings_table.h"

using namespace kestrane::launcher;

TEST(Versions, MajorVersionOfEveryForm) {
    EXPECT_EQ(extractMajorVersion(std::string("1.8")), 8);
    EXPECT_EQ(extractMajorVersion(std::string("1.8+")), 8);
    EXPECT_EQ(extractMajorVersion(std::string("1.8*")), 8);
    EXPECT_EQ(extractMajorVersion(std::string("11+")), 11);
    EXPECT_EQ(extractMajorVersion(std::string("17.0.2")), 17);
    EXPECT_EQ(extractMajorVersion(std::string("1.8.0_202")), 8);
    EXPECT_EQ(extractMajorVersion(std::string("9")), 9);
    EXPECT_EQ(extractMajorVersion(std::string("1.6")), 6);
    EXPECT_EQ(extractMajorVersion(std::string("")), 0);
    EXPECT_EQ(extractMajorVersion(std::nullopt), 0);
    EXPECT_EQ(extractMajorVersion(std::string("jdk-21.0.1+12")), 21);
    EXPECT_EQ(extractMajorVersion(std::string("abc")), 0);
}

TEST(Settings, StringsReadAsTruthValues) {
    for (const char* yes : {"YES", "yes", "true", "T", "1", "  +0009", "-1", "0y"}) EXPECT_TRUE(stringIsTrue(yes)) << yes;
    for (const char* no : {"", "NO", "false", "0", "000", " ", "-", "x1", "N"}) EXPECT_FALSE(stringIsTrue(no)) << no;
}

TEST(Log, FormatsValuesAndKeepsUnknownConversions) {
    EXPECT_EQ(formatMessage("Loading Application '%@'", {std::optional<std::string>()}), "Loading Application '(null)'");
    EXPECT_EQ(formatMessage("Arg %d: '%s' %lu%%", {3, "x", 7ul}), "Arg 3: 'x' 7%");
    // A translation with conversions of its own is filled safely: extras read "(null)",
    // unknown ones stay as written, nothing is read from the stack.
    EXPECT_EQ(formatMessage("Java %d needed %s %n %x %@", {11}), "Java 11 needed (null) %n %x (null)");
}

TEST(Log, StandardPathsForLogLines) {
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(convertRelativeFilePath("~/Music//a/./b/"), "/home/someone/Music/a/b");
    EXPECT_EQ(convertRelativeFilePath("/a/b/../c"), "/a/c");
    EXPECT_EQ(convertRelativeFilePath("rel/./x"), "rel/x");
}

TEST(StringsTable, ParsesTheClassicFormatInUtf8AndUtf16) {
    const std::string utf8 =
        "/* comment */\n\"JRELoadError\" = \"No \\\"Java\\\" here\\n\";\n// line\nplain = value;\n\"same\";\n"
        "\"uni\" = \"\\U00e9t\\u00e9\";";
    StringsTable t = parseStringsTable(utf8);
    EXPECT_EQ(t.error, "");
    EXPECT_EQ(t.entries["JRELoadError"], "No \"Java\" here\n");
    EXPECT_EQ(t.entries["plain"], "value");
    EXPECT_EQ(t.entries["same"], "same");
    EXPECT_EQ(t.entries["uni"], "\xC3\xA9t\xC3\xA9");

    std::string utf16 = "\xFF\xFE";  // little-endian with its mark
    for (char c : std::string("\"k\" = \"v\";")) {
        utf16.push_back(c);
        utf16.push_back('\0');
    }
    EXPECT_EQ(parseStringsTable(utf16).entries.at("k"), "v");
}

TEST(StringsTable, ErrorsCarryTheirPositionAndKeepEarlierEntries) {
    StringsTable t = parseStringsTable("\"a\" = \"1\";\n\"b\" = \"2\"\n\"c\" = \"3\";");
    EXPECT_EQ(t.entries.at("a"), "1");
    EXPECT_EQ(t.entries.count("b"), 0u);
    EXPECT_EQ(t.error, "line 3, column 1: expected ';' after the value");
    EXPECT_EQ(parseStringsTable("\"open = 1;").error, "line 1, column 11: expected a key");
    EXPECT_EQ(parseStringsTable("/* never closed").error.find("unterminated comment") != std::string::npos, true);
}

TEST(Memory, PercentagesOfSixteenGibibytes) {
    const std::int64_t ram = 17179869184;
    EXPECT_EQ(resolveMemoryPercentage("-Xmx1%", ram), "-Xmx172m");
    EXPECT_EQ(resolveMemoryPercentage("-Xmx200%", ram), "-Xmx34360m");
    EXPECT_EQ(resolveMemoryPercentage("-Xmx200.0001%", ram), "-Xmx34360m");
    EXPECT_EQ(resolveMemoryPercentage("-Xmx0.5%", ram), "-Xmx0.5%");
    EXPECT_EQ(resolveMemoryPercentage("-Xmx250%", ram), "-Xmx250%");
    EXPECT_EQ(resolveMemoryPercentage("-Xmx512m", ram), "-Xmx512m");
    EXPECT_EQ(resolveMemoryPercentage("-Xmx%", ram), "-Xmx%");
    EXPECT_EQ(resolveMemoryPercentage("-Xmx 50%", ram), "-Xmx8590m");
    EXPECT_EQ(resolveMemoryPercentage("-Xmx50%", 0), "-Xmx50%");
}

TEST(ProgramArguments, ProcessSerialNumbers) {
    EXPECT_TRUE(isProcessSerialNumber("-psn_0_123456"));
    EXPECT_FALSE(isProcessSerialNumber("-psn_10_5"));
    EXPECT_FALSE(isProcessSerialNumber("-psn_0_"));
    EXPECT_FALSE(isProcessSerialNumber("-psn_0_12x"));
    EXPECT_FALSE(isProcessSerialNumber("--verbose"));
}

namespace {

namespace fs = std::filesystem;

struct SealedHome {
    fs::path root;
    SealedHome() {
        std::string pattern = (fs::temp_directory_path() / "sealedXXXXXX").string();
        root = mkdtemp(pattern.data());
        setenv("HOME", root.c_str(), 1);
        for (const char* v : {"XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME", "XDG_CONFIG_HOME", "DISPLAY", "SNAP"}) unsetenv(v);
        setenv("XDG_CACHE_HOME", (root / "cache").c_str(), 1);
        fs::create_directories(root / ".config");
        std::ofstream(root / ".config/user-dirs.dirs") << "XDG_MUSIC_DIR=\"$HOME/Tunes\"\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n";
    }
    ~SealedHome() { fs::remove_all(root); }
};

EnvironmentSources withoutDesktop() {
    EnvironmentSources s = EnvironmentSources::system();
    s.darkMode = [] { return false; };
    return s;
}

}  // namespace

TEST(EnvironmentProperties, FoldersHomeSandboxAndAppearanceInTheirOrder) {
    SealedHome home;
    const std::string h = home.root.string();
    std::vector<std::string> props = environmentProperties(withoutDesktop());
    const std::vector<std::string> expected = {
        "-DLibraryDirectory=" + h + "/.local/share", "-DDocumentsDirectory=" + h + "/Documents",
        "-DApplicationSupportDirectory=" + h + "/.local/share", "-DCachesDirectory=" + h + "/cache",
        "-DApplicationDirectory=" + h + "/.local/share/applications", "-DAutosavedInformationDirectory=" + h + "/.local/state",
        "-DDesktopDirectory=" + h + "/Schreibtisch", "-DDownloadsDirectory=" + h + "/Downloads", "-DMoviesDirectory=" + h + "/Videos",
        "-DMusicDirectory=" + h + "/Tunes", "-DPicturesDirectory=" + h + "/Pictures", "-DSharedPublicDirectory=" + h + "/Public",
        "-DSystemLibraryDirectory=/usr/local/share", "-DSystemApplicationSupportDirectory=/usr/local/share",
        "-DSystemCachesDirectory=/var/cache", "-DSystemApplicationDirectory=/usr/share/applications",
        "-DSystemUserDirectory=/home"};
    ASSERT_GE(props.size(), expected.size() + 3);
    EXPECT_EQ(std::vector<std::string>(props.begin(), props.begin() + 17), expected);
    // The password entry's home, not $HOME.
    EXPECT_EQ(props[17], "-DUserHome=" + passwordHomeDirectory().value_or("?"));
    EXPECT_NE(props[17], "-DUserHome=" + h);
    EXPECT_EQ(props[18], "-DSandboxEnabled=false");
    EXPECT_EQ(props[19], "-DDarkMode=false");
    EXPECT_EQ(props.size(), 20u);  // no display: none of the nine modifier properties

    // A source without a folder leaves out that property only; a failed home lookup, UserHome.
    EnvironmentSources s = withoutDesktop();
    s.folder = [](kestrane::folders::Folder folder, kestrane::folders::Domain) -> std::optional<std::string> {
        if (folder == kestrane::folders::Folder::library) return std::nullopt;
        return "/f" + std::to_string(static_cast<int>(folder));
    };
    s.userHome = [] { return std::optional<std::string>(); };
    s.darkMode = [] { return true; };
    props = environmentProperties(s);
    EXPECT_EQ(props.size(), 15u + 2u);
    EXPECT_EQ(props[0], "-DDocumentsDirectory=/f" + std::to_string(static_cast<int>(kestrane::folders::Folder::documents)));
    EXPECT_EQ(props[14], "-DSystemUserDirectory=/f" + std::to_string(static_cast<int>(kestrane::folders::Folder::users)));
    EXPECT_EQ(props[16], "-DDarkMode=true");
}

TEST(EnvironmentProperties, SandboxIsFlatpakOrSnap) {
    SealedHome home;
    const std::string info = (home.root / "flatpak-info").string();
    EXPECT_FALSE(runsInSandbox(info));
    std::ofstream(info) << "[Application]\n";
    EXPECT_TRUE(runsInSandbox(info));
    fs::remove(info);
    setenv("SNAP", "/snap/app/1", 1);
    EXPECT_TRUE(runsInSandbox(info));
    unsetenv("SNAP");
}

TEST(EnvironmentProperties, ModifierFlagsKeepTheDeviceIndependentBitsAndNameEachKey) {
    EnvironmentSources s = withoutDesktop();
    s.modifierFlags = [] { return std::optional<std::uint64_t>(kShiftFlag | kOptionFlag | 0x1234); };
    std::vector<std::string> props = environmentProperties(s);
    const std::vector<std::string> tail(props.end() - 9, props.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"-DLaunchModifierFlags=655360", "-DLaunchModifierFlagCapsLock=false",
                                              "-DLaunchModifierFlagShift=true", "-DLaunchModifierFlagControl=false",
                                              "-DLaunchModifierFlagOption=true", "-DLaunchModifierFlagCommand=false",
                                              "-DLaunchModifierFlagNumericPad=false", "-DLaunchModifierFlagHelp=false",
                                              "-DLaunchModifierFlagFunction=false"}));
    // Without an X display the keyboard cannot be read.
    unsetenv("DISPLAY");
    EXPECT_FALSE(currentModifierFlags().has_value());
    setenv("DISPLAY", ":987", 1);  // no such server
    EXPECT_FALSE(currentModifierFlags().has_value());
    unsetenv("DISPLAY");
}

// The builder alone: where the environment properties and the JNLP client go, what the
// environment gets, and that nothing of the process changes.
TEST(LaunchPlan, BuiltFromItsInputsWithoutTouchingTheProcess) {
    SealedHome home;
    const fs::path app = home.root / "A.app";
    fs::create_directories(app / "Contents/Java");
    std::ofstream(app / "Contents/Info.plist")
        << "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>JVMMainClassName</key><string>m.Main</string>"
           "<key>JVMOptions</key><array><string>-Xmx1%</string></array>"
           "<key>JVMArguments</key><array><string>$APP_ROOT/arg</string></array></dict></plist>";
    const Bundle bundle = Bundle::at(app.string());
    LaunchInputs in;
    in.bundle = &bundle;
    in.environmentProperties = {"-DDarkMode=true"};
    in.commandName = "cmd";
    in.programArguments = {"p"};
    in.environment = {"KEEP=x", "LIB=$APP_ROOT/lib", "BROKEN"};
    in.ramBytes = 17179869184;
    LaunchPlan plan = buildLaunchPlan(in);
    const std::string a = app.string();
    EXPECT_EQ(plan.argv, (std::vector<std::string>{"cmd", "-Djava.library.path=" + a + "/Contents/MacOS",
                                                   "-Djava.class.path=" + a + "/Contents/Java/Classes", "-DDarkMode=true",
                                                   "-Xmx172m", "m.Main", a + "/arg", "p"}));
    EXPECT_EQ(plan.environment, (std::vector<std::pair<std::string, std::string>>{{"LIB", a + "/lib"}}));
    EXPECT_FALSE(plan.applicationClassPath.has_value());
    EXPECT_EQ(std::getenv("LIB"), nullptr);

    in.jnlp = JnlpSetup{"/rt/lib/deploy.jar", "com.sun.javaws.Main", {"-classpath", "/rt/lib/deploy.jar", "-Dj=1"}, "/tmp/x.jnlp"};
    plan = buildLaunchPlan(in);
    EXPECT_EQ(plan.argv, (std::vector<std::string>{"cmd", "-Djava.library.path=" + a + "/Contents/MacOS", "-DDarkMode=true",
                                                   "-Xmx172m", "-classpath", "/rt/lib/deploy.jar", "-Dj=1",
                                                   "com.sun.javaws.Main", a + "/arg", "/tmp/x.jnlp", "p"}));
    EXPECT_EQ(plan.applicationClassPath, "/rt/lib/deploy.jar");
}

// Inputs the fuzzer has found or started from: the launcher's readers take each and give
// settings or nothing.
TEST(Readers, FuzzRegressionInputsReadOrFailCleanly) {
    int inputs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(KESTRANE_LAUNCHER_FUZZ_REGRESSIONS)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        (void)parseInfoPlist(bytes).has("JVMMainClassName");
        (void)parseStringsTable(bytes);
        (void)parsePrefsXml(bytes);
        ++inputs;
    }
    EXPECT_GE(inputs, 3);
    EXPECT_EQ(parseInfoPlist("<plist><dict><key>JVMMainClassName</key><string>a.B</string></dict></plist>").string("JVMMainClassName"),
              "a.B");
    EXPECT_EQ(parsePrefsXml("<map><entry key=\"heap\" value=\"-Xmx3g\"/></map>")->at("heap"), "-Xmx3g");
    EXPECT_FALSE(parsePrefsXml("<map><entry").has_value());
}
