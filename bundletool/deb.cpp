#include "deb.h"

#include <glib.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <sstream>

#include "desktop.h"
#include "glib_ptr.h"
#include "tool_support.h"

namespace kestrane::bundletool {

namespace fs = std::filesystem;

namespace {

// Debian package names: lower-case letters, digits, + - and dots, starting alphanumerically.
std::string packageNameOf(const std::string& identifier) {
    std::string name;
    for (char c : identifier) {
        const char lower = g_ascii_tolower(c);
        name += g_ascii_isalnum(lower) || lower == '.' || lower == '+' || lower == '-' ? lower : '-';
    }
    while (!name.empty() && !g_ascii_isalnum(name.front())) name.erase(0, 1);
    if (name.size() < 2) throw ToolError("identifier '" + identifier + "' gives no Debian package name");
    return name;
}

// A native package's version: a hyphen would make it look like a Debian revision, and a
// pre-release ("1.0-beta") then sorts before its release only with a tilde.
std::string debianVersionOf(const std::string& version) {
    std::string out;
    for (char c : version) out += g_ascii_isalnum(c) || c == '.' || c == '+' || c == '~' ? c : (c == '-' ? '~' : '+');
    return out;
}

bool isElf(const fs::path& file) {
    try {
        return readFile(file, 1 << 30).rfind("\x7f" "ELF", 0) == 0;
    } catch (const ToolError&) {
        return false;
    }
}

bool isSharedObject(const fs::path& file) {
    const std::string name = file.filename().string();
    return name.size() > 3 && (name.compare(name.size() - 3, 3, ".so") == 0 || name.find(".so.") != std::string::npos);
}

// Binaries stripped, libraries and data read-only for all, programs executable; returns the
// ELF files and the folders of the shared objects among them.
void prepareTree(const fs::path& tree, std::vector<fs::path>& elfFiles, std::set<fs::path>& libraryDirs) {
    const std::string strip = findProgram("strip").value_or("");
    for (const auto& entry : fs::recursive_directory_iterator(tree)) {
        if (entry.is_symlink()) continue;
        if (entry.is_directory()) {
            fs::permissions(entry.path(), fs::perms(0755));
            continue;
        }
        const bool executable = (entry.status().permissions() & fs::perms::owner_exec) != fs::perms::none;
        if (isElf(entry.path())) {
            if (strip.empty()) throw ToolError("strip (binutils) is needed to package binaries");
            fs::permissions(entry.path(), fs::perms(0644));
            runChecked({strip, "--strip-unneeded", "--remove-section=.comment", "--remove-section=.note", entry.path().string()});
            elfFiles.push_back(entry.path());
            if (isSharedObject(entry.path())) {
                libraryDirs.insert(entry.path().parent_path());
                continue;  // libraries are not executable
            }
        }
        fs::permissions(entry.path(), fs::perms(executable ? 0755 : 0644));
    }
}

std::string shlibsDepends(const fs::path& workDir, const std::vector<fs::path>& elfFiles, const std::set<fs::path>& libraryDirs) {
    // dpkg-shlibdeps reads the package's name from a debian/control of the source.
    fs::create_directories(workDir / "debian");
    writeFile(workDir / "debian/control", "Source: bundle\n\nPackage: bundle\nArchitecture: any\n");
    std::vector<std::string> args = {"dpkg-shlibdeps", "-O", "--warnings=0"};
    for (const auto& dir : libraryDirs) args.push_back("-l" + dir.string());
    for (const auto& file : elfFiles) args.push_back("-e" + file.string());
    const std::string out = runChecked(args, workDir);
    const std::string key = "shlibs:Depends=";
    const std::size_t at = out.find(key);
    if (at == std::string::npos) return "";
    std::string depends = out.substr(at + key.size());
    return depends.substr(0, depends.find('\n'));
}

// A Java runtime of the version the classes need: the full one when the application uses the
// desktop module (AWT, Swing), which the headless runtime lacks.
std::string javaDepends(const DesktopApp& app) {
    const int version = std::max(app.javaVersion.value_or(17), 8);
    bool desktop = true;  // when jdeps cannot tell, the runtime that runs every application
    if (auto jdeps = findProgram("jdeps")) {
        std::vector<std::string> args = {*jdeps, "--print-module-deps", "--ignore-missing-deps"};
        std::string classPath;
        for (const auto& jar : fs::directory_iterator(app.bundle / "Contents/Java")) {
            if (jar.path().extension() != ".jar") continue;
            args.push_back(jar.path().string());
            classPath += (classPath.empty() ? "" : ":") + jar.path().string();
        }
        args.insert(args.begin() + 3, {"--class-path", classPath});
        const ProgramResult result = runProgram(args);
        if (result.status == 0) desktop = result.out.find("java.desktop") != std::string::npos;
    }
    const std::string v = std::to_string(version);
    return desktop ? "default-jre (>= 2:1." + v + ") | java" + v + "-runtime"
                   : "default-jre-headless (>= 2:1." + v + ") | java" + v + "-runtime-headless";
}

std::string maintainer(const DesktopApp& app) {
    const char* name = std::getenv("DEBFULLNAME");
    const char* email = std::getenv("DEBEMAIL");
    if (name != nullptr && *name != '\0' && email != nullptr && *email != '\0') return std::string(name) + " <" + email + ">";
    // The identifier is the reverse of a domain that the application's makers own.
    std::vector<std::string> parts;
    std::istringstream split(app.identifier);
    for (std::string part; std::getline(split, part, '.');) parts.insert(parts.begin(), part);
    const std::string domain = parts.size() >= 2 ? parts[parts.size() - 2] + "." + parts.back() : "example.org";
    return app.name + " packagers <packages@" + domain + ">";
}

std::string changelogDate() {
    const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
    glib::Owned<GDateTime, g_date_time_unref> when(
        epoch != nullptr ? g_date_time_new_from_unix_utc(std::atoll(epoch)) : g_date_time_new_now_utc());
    // RFC 2822 in English whatever the locale.
    static const char* days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d +0000", days[g_date_time_get_day_of_week(when.get()) - 1],
                  g_date_time_get_day_of_month(when.get()), months[g_date_time_get_month(when.get()) - 1],
                  g_date_time_get_year(when.get()), g_date_time_get_hour(when.get()), g_date_time_get_minute(when.get()),
                  g_date_time_get_second(when.get()));
    return text;
}

std::string year() {
    const std::string date = changelogDate();
    return date.substr(12, 4);
}

// DEBIAN/md5sums: what debsums and dpkg --verify check the installed files against.
std::string md5sums(const fs::path& root) {
    std::vector<std::string> lines;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file() || entry.is_symlink()) continue;
        const std::string relative = entry.path().lexically_relative(root).string();
        if (relative.rfind("DEBIAN/", 0) == 0) continue;
        const std::string bytes = readFile(entry.path(), std::size_t{1} << 32);
        glib::CharPtr sum(g_compute_checksum_for_data(G_CHECKSUM_MD5, reinterpret_cast<const guchar*>(bytes.data()), bytes.size()));
        lines.push_back(std::string(sum.get()) + "  " + relative + "\n");
    }
    std::sort(lines.begin(), lines.end(), [](const std::string& a, const std::string& b) { return a.substr(34) < b.substr(34); });
    std::string text;
    for (const auto& line : lines) text += line;
    return text;
}

std::uintmax_t installedKibibytes(const fs::path& root) {
    std::uintmax_t bytes = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file() && !entry.is_symlink()) bytes += (entry.file_size() + 1023) / 1024 * 1024;
    }
    return bytes / 1024;
}

}  // namespace

fs::path makeDeb(const fs::path& bundlePath, const fs::path& destGiven) {
    const fs::path dest = fs::absolute(destGiven);  // programs below run in other folders
    const DesktopApp app = readDesktopApp(bundlePath);
    if (!fs::is_directory(dest)) throw ToolError("--dest " + dest.string() + " is not a folder");
    const std::string package = packageNameOf(app.identifier), version = debianVersionOf(app.version);
    std::string arch = runChecked({"dpkg", "--print-architecture"});
    arch = arch.substr(0, arch.find('\n'));

    ScratchFolder scratch(dest, ".deb-" + package + ".");
    const fs::path root = scratch.path() / "root";
    const fs::path installedBundle = fs::path("/opt") / package / app.bundle.filename();
    copyTree(app.bundle, root / installedBundle.relative_path());
    std::vector<fs::path> elfFiles;
    std::set<fs::path> libraryDirs;
    prepareTree(root / "opt", elfFiles, libraryDirs);

    const fs::path share = root / "usr/share";
    std::vector<fs::path> systemDirs;
    for (const gchar* const* dir = g_get_system_data_dirs(); *dir != nullptr; ++dir) systemDirs.emplace_back(*dir);
    std::vector<fs::path> written;
    writeDesktopFiles(app, share, installedBundle / "Contents/MacOS/launcher", systemDirs, written);

    const fs::path doc = share / "doc" / package;
    fs::create_directories(doc);
    const std::string who = maintainer(app);
    writeFile(doc / "copyright", "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
                                 "Upstream-Name: " + app.name + "\n\nFiles: *\nCopyright: " + year() + " the makers of " + app.name +
                                 "\nLicense: other\n The terms under which " + app.name +
                                 " is distributed are those its makers give with it.\n");
    writeFile(doc / "changelog", package + " (" + version + ") unstable; urgency=medium\n\n  * " + app.name + " " +
                                     app.version + ", packaged from its application bundle.\n\n -- " + who + "  " +
                                     changelogDate() + "\n");
    runChecked({"gzip", "-9n", (doc / "changelog").string()});
    const fs::path overrides = share / "lintian/overrides" / package;
    fs::create_directories(overrides.parent_path());
    writeFile(overrides, "# A third-party application installed whole, as a bundle that keeps its own layout (its\n"
                         "# launcher, libraries, jars and runtime side by side): /opt is where such applications live.\n" +
                             package + ": dir-or-file-in-opt [opt/" + package + "/*]\n" +
                             "# The jars are the application's own class path inside its bundle, not a shared library.\n" +
                             package + ": jar-not-in-usr-share [opt/" + package + "/*]\n");
    for (const auto& entry : fs::recursive_directory_iterator(root / "usr")) {
        fs::permissions(entry.path(), fs::perms(entry.is_directory() ? 0755 : 0644));
    }

    std::string depends = shlibsDepends(scratch.path(), elfFiles, libraryDirs);
    if (!app.bundlesRuntime) depends += (depends.empty() ? "" : ", ") + javaDepends(app);
    fs::create_directories(root / "DEBIAN");
    std::ostringstream control;
    control << "Package: " << package << "\nVersion: " << version << "\nArchitecture: " << arch << "\nMaintainer: " << who
            << "\nInstalled-Size: " << installedKibibytes(root) << "\n";
    if (!depends.empty()) control << "Depends: " << depends << "\n";
    control << "Section: misc\nPriority: optional\nDescription: " << app.name << ", a Java application\n "
            << app.name << " " << app.version << " as an application bundle in /opt/" << package
            << ",\n with its desktop entry, icons and file types.\n";
    writeFile(root / "DEBIAN/control", control.str());
    writeFile(root / "DEBIAN/md5sums", md5sums(root));
    fs::permissions(root, fs::perms(0755));

    const std::string fileName = package + "_" + version + "_" + arch + ".deb";
    const fs::path built = scratch.path() / fileName;
    runChecked({"dpkg-deb", "--root-owner-group", "-Zxz", "--build", root.string(), built.string()});
    const fs::path result = dest / fileName;
    fs::rename(built, result);
    return result;
}

}  // namespace kestrane::bundletool
