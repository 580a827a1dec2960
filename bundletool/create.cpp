#include "create.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <fcntl.h>
#include <plist/plist.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include "glib_ptr.h"
#include "jar_file.h"
#include "plist_ptr.h"

namespace kestrane::bundletool {

namespace fs = std::filesystem;

namespace {

// The launcher's alert texts; the launcher finds them in the bundle, not in itself.
constexpr const char* kLaunchErrorTexts = R"(/* Texts of the launch errors. */
"JRELoadError" = "No Java runtime could be loaded for this application.";
"JRExLoadFullError" = "This application needs Java %d or later, which was not found. Install it with: apt-get install openjdk-17-jre";
"JDKxLoadFullError" = "This application needs a Java Development Kit %d or later, which was not found.";
"BundlePathContainsColon" = "The application cannot start from a folder whose path contains a colon (:). Move it elsewhere.";
"MainClassNameRequired" = "The application's settings name no main class (JVMMainClassName) and no jar (JVMJARLauncher).";
"JavaDirectoryNotFound" = "The application's Contents/Java folder is missing or cannot be read.";
)";

// The folder of the bundled runtime in Contents/PlugIns; the launcher looks for
// Contents/Home inside it.
constexpr const char* kRuntimeFolder = "java-runtime";
// A manifest larger than this is not read for its main class.
constexpr std::size_t kMaxManifestBytes = 1 << 20;

struct JarSet {
    std::vector<fs::path> jars;  // sorted by name
    int javaVersion = 0;         // the highest version any class needs
    std::set<std::string> classes;  // binary names, as a.b.C
};

JarSet readJars(const fs::path& input) {
    JarSet set;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(input, error)) {
        if (entry.path().extension() == ".jar" && entry.is_regular_file()) set.jars.push_back(entry.path());
    }
    if (error) throw ToolError("cannot list " + input.string() + ": " + error.message());
    if (set.jars.empty()) throw ToolError("no jar in " + input.string());
    std::sort(set.jars.begin(), set.jars.end());
    for (const fs::path& path : set.jars) {
        const JarFile jar = JarFile::open(path);
        for (const auto& entry : jar.entries()) {
            const std::string& name = entry.name;
            if (name.size() < 7 || name.compare(name.size() - 6, 6, ".class") != 0) continue;
            // Classes of a multi-release jar's later versions load only on those versions.
            if (name.rfind("META-INF/", 0) == 0) continue;
            if (auto version = classFileJavaVersion(jar.read(entry, 8)))
                set.javaVersion = std::max(set.javaVersion, *version);
            std::string binary = name.substr(0, name.size() - 6);
            std::replace(binary.begin(), binary.end(), '/', '.');
            set.classes.insert(std::move(binary));
        }
    }
    return set;
}

void checkName(const CreateOptions& o) {
    // A colon stops the launcher and a % a desktop entry (see install).
    const bool control = std::any_of(o.name.begin(), o.name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
    if (o.name.empty() || o.name.front() == '.' || o.name.find_first_of("/:%") != std::string::npos || control)
        throw ToolError("--name '" + o.name + "' cannot name a bundle folder (empty, a leading dot, /, :, % or a control character)");
    const bool identifierOk =
        !o.identifier.empty() && o.identifier.front() != '.' && o.identifier.back() != '.' &&
        std::all_of(o.identifier.begin(), o.identifier.end(), [](char c) { return g_ascii_isalnum(c) || c == '.' || c == '-' || c == '_'; });
    if (!identifierOk)
        throw ToolError("--identifier '" + o.identifier + "' is not a reverse domain name (letters, digits, . - _)");
    if (o.version.empty() || !g_ascii_isdigit(o.version.front()) ||
        o.version.find_first_of(" \t\n/") != std::string::npos)
        throw ToolError("--version '" + o.version + "' does not start with a digit or holds a space");
    if (o.mainClass.empty() == o.mainJar.empty()) throw ToolError("give exactly one of --main-class and --main-jar");
}

void checkIcon(const fs::path& icon) {
    const std::string extension = icon.extension().string();
    if (extension != ".png" && extension != ".svg")
        throw ToolError("icon " + icon.string() + " is neither a .png nor an .svg file");
    GError* rawError = nullptr;
    glib::ObjectPtr<GdkPixbuf> picture(gdk_pixbuf_new_from_file(icon.c_str(), &rawError));
    glib::ErrorPtr error(rawError);
    if (!picture) throw ToolError("icon " + icon.string() + " is not a picture: " + error->message);
}

// The feature version of a JDK, from its release file.
int jdkVersion(const fs::path& jdk) {
    const std::string release = readFile(jdk / "release", 1 << 16);
    const std::string key = "JAVA_VERSION=\"";
    const std::size_t at = release.find(key);
    if (at == std::string::npos) throw ToolError(jdk.string() + "/release names no JAVA_VERSION");
    std::string version = release.substr(at + key.size());
    if (version.rfind("1.", 0) == 0) version = version.substr(2);
    return std::atoi(version.c_str());
}

void makeRuntime(const CreateOptions& o, const JarSet& jars, const fs::path& contents) {
    const fs::path jdk = *o.runtime;
    const fs::path jlink = jdk / "bin/jlink", jdeps = jdk / "bin/jdeps";
    if (access(jlink.c_str(), X_OK) != 0 || access(jdeps.c_str(), X_OK) != 0)
        throw ToolError("--runtime " + jdk.string() + " has no bin/jlink and bin/jdeps: give a JDK, not a JRE");
    const int version = jdkVersion(jdk);
    if (version < jars.javaVersion)
        throw ToolError("--runtime " + jdk.string() + " is Java " + std::to_string(version) + " but the classes need Java " +
                        std::to_string(jars.javaVersion));

    std::string classPath;
    for (const auto& jar : jars.jars) classPath += (classPath.empty() ? "" : ":") + jar.string();
    std::vector<std::string> args = {jdeps.string(), "--print-module-deps", "--ignore-missing-deps", "--multi-release",
                                     std::to_string(version), "--class-path", classPath};
    for (const auto& jar : jars.jars) args.push_back(jar.string());
    std::string modules = runChecked(args);
    modules.erase(std::remove_if(modules.begin(), modules.end(), [](char c) { return g_ascii_isspace(c); }), modules.end());
    if (modules.empty()) modules = "java.base";
    for (const auto& m : o.addModules) modules += "," + m;

    const fs::path home = contents / "PlugIns" / kRuntimeFolder / "Contents/Home";
    fs::create_directories(home.parent_path());
    runChecked({jlink.string(), "--add-modules", modules, "--strip-debug", "--no-header-files", "--no-man-pages",
                "--output", home.string()});
}

plist_t stringArray(const std::vector<std::string>& items) {
    plist_t array = plist_new_array();
    for (const auto& item : items) plist_array_append_item(array, plist_new_string(item.c_str()));
    return array;
}

void writeInfoPlist(const CreateOptions& o, const JarSet& jars, const std::string& iconFile, const fs::path& path) {
    plist::PlistPtr dict(plist_new_dict());
    auto set = [&](const char* key, plist_t value) { plist_dict_set_item(dict.get(), key, value); };
    auto setString = [&](const char* key, const std::string& value) { set(key, plist_new_string(value.c_str())); };
    setString("CFBundleName", o.name);
    setString("CFBundleIdentifier", o.identifier);
    setString("CFBundleShortVersionString", o.version);
    setString("CFBundleVersion", o.version);
    setString("CFBundlePackageType", "APPL");
    setString("CFBundleExecutable", "launcher");
    if (!iconFile.empty()) {
        setString("CFBundleIconFile", iconFile);
        setString("CFBundleIconName", o.identifier);
    }
    if (!o.mainClass.empty()) setString("JVMMainClassName", o.mainClass);
    else setString("JVMJARLauncher", o.mainJar);
    if (o.runtime) setString("JVMRuntime", kRuntimeFolder);
    else setString("JVMVersion", std::to_string(std::max(jars.javaVersion, 7)) + "+");
    if (!o.jvmOptions.empty()) set("JVMOptions", stringArray(o.jvmOptions));
    if (!o.arguments.empty()) set("JVMArguments", stringArray(o.arguments));
    // The desktop's view of the application, read back by install and deb.
    std::vector<std::string> types;
    for (const auto& t : o.fileTypes) {
        std::string text = t.mime;
        for (std::size_t i = 0; i < t.globs.size(); ++i) text += (i == 0 ? ":" : ",") + t.globs[i];
        types.push_back(text);
    }
    if (!types.empty()) set("KestraneFileTypes", stringArray(types));
    setString("KestraneDesktopCategories", o.categories);

    char* raw = nullptr;
    uint32_t length = 0;
    plist_to_xml(dict.get(), &raw, &length);
    plist::PlistXmlPtr xml(raw);
    if (!xml) throw ToolError("libplist could not write Info.plist");
    writeFile(path, std::string_view(xml.get(), length));
}

}  // namespace

std::string windowClassOf(const std::string& mainClass) {
    std::string name = mainClass.substr(mainClass.find('/') == std::string::npos ? 0 : mainClass.find('/') + 1);
    std::replace(name.begin(), name.end(), '.', '-');
    return name;
}

Payload findPayload() {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (error) throw ToolError("cannot find the tool's own folder: " + error.message());
    for (const fs::path& folder : {self.parent_path(), self.parent_path().parent_path() / "lib/kestrane"}) {
        Payload payload{folder / "launcher", {folder / "libosbridge.so", folder / "libcatalogbridge.so", folder / "libdspbridge.so"}};
        bool complete = fs::is_regular_file(payload.launcher);
        for (const auto& library : payload.libraries) complete = complete && fs::is_regular_file(library);
        if (complete) return payload;
    }
    throw ToolError("the launcher and libraries are neither beside " + self.string() + " nor in ../lib/kestrane");
}

fs::path createBundle(const CreateOptions& o, const Payload& payload) {
    checkName(o);
    if (!fs::is_directory(o.dest)) throw ToolError("--dest " + o.dest.string() + " is not a folder");
    if (!fs::is_directory(o.input)) throw ToolError("--input " + o.input.string() + " is not a folder");
    const JarSet jars = readJars(o.input);
    if (!o.mainJar.empty()) {
        const fs::path jarPath = o.input / o.mainJar;
        if (o.mainJar.find('/') != std::string::npos || !fs::is_regular_file(jarPath))
            throw ToolError("--main-jar " + o.mainJar + " is not a jar in " + o.input.string());
        const JarFile jar = JarFile::open(jarPath);
        const JarFile::Entry* manifest = jar.find("META-INF/MANIFEST.MF");
        if (manifest == nullptr || !manifestMainClass(jar.read(*manifest, kMaxManifestBytes)))
            throw ToolError("--main-jar " + o.mainJar + " names no Main-Class in its manifest");
    } else {
        const std::string className = o.mainClass.substr(o.mainClass.find('/') == std::string::npos ? 0 : o.mainClass.find('/') + 1);
        if (jars.classes.count(className) == 0)
            throw ToolError("main class " + className + " is not in the jars of " + o.input.string());
    }
    if (o.icon) checkIcon(*o.icon);

    const fs::path bundle = o.dest / (o.name + ".app");
    if (fs::exists(fs::symlink_status(bundle)) && !fs::is_regular_file(bundle / "Contents/Info.plist"))
        throw ToolError(bundle.string() + " exists and is not an application bundle: not replaced");

    ScratchFolder scratch(o.dest, "." + o.name + ".app.");
    const fs::path contents = scratch.path() / "Contents";
    for (const char* folder : {"MacOS", "Java", "Resources/en.lproj"}) fs::create_directories(contents / folder);
    fs::copy_file(payload.launcher, contents / "MacOS/launcher");
    for (const auto& library : payload.libraries) fs::copy_file(library, contents / "MacOS" / library.filename());
    for (const auto& jar : jars.jars) fs::copy_file(jar, contents / "Java" / jar.filename());
    writeFile(contents / "Resources/en.lproj/Localizable.strings", kLaunchErrorTexts);
    std::string iconFile;
    if (o.icon) {
        iconFile = o.identifier + o.icon->extension().string();
        fs::copy_file(*o.icon, contents / "Resources" / iconFile);
        fs::permissions(contents / "Resources" / iconFile, fs::perms(0644));
    }
    if (o.runtime) makeRuntime(o, jars, contents);
    writeInfoPlist(o, jars, iconFile, contents / "Info.plist");
    fs::permissions(scratch.path(), fs::perms(0755));

    // The finished bundle takes the place of an older one in one step; the older one then goes.
    if (fs::exists(fs::symlink_status(bundle))) {
        if (renameat2(AT_FDCWD, scratch.path().c_str(), AT_FDCWD, bundle.c_str(), RENAME_EXCHANGE) != 0)
            throw ToolError("cannot replace " + bundle.string() + ": " + std::strerror(errno));
    } else if (rename(scratch.path().c_str(), bundle.c_str()) != 0) {
        throw ToolError("cannot make " + bundle.string() + ": " + std::strerror(errno));
    }
    if (!fs::exists(scratch.path())) scratch.release();
    return bundle;
}

}  // namespace kestrane::bundletool
