#include "desktop.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <glib.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "create.h"
#include "glib_ptr.h"
#include "info_plist.h"
#include "jar_file.h"

namespace kestrane::bundletool {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxManifestBytes = 1 << 20;

std::string launcherOf(const fs::path& bundle) { return (bundle / "Contents/MacOS/launcher").string(); }

void scaleIcon(const fs::path& icon, int size, const fs::path& to) {
    GError* rawError = nullptr;
    glib::ObjectPtr<GdkPixbuf> picture(gdk_pixbuf_new_from_file_at_scale(icon.c_str(), size, size, TRUE, &rawError));
    glib::ErrorPtr error(rawError);
    if (!picture) throw ToolError("cannot scale icon " + icon.string() + ": " + error->message);
    if (!gdk_pixbuf_save(picture.get(), to.c_str(), "png", &rawError, nullptr)) {
        error.reset(rawError);
        throw ToolError("cannot write " + to.string() + ": " + error->message);
    }
}

bool systemKnowsType(const std::string& mime, const std::vector<fs::path>& mimeDataDirs) {
    return std::any_of(mimeDataDirs.begin(), mimeDataDirs.end(),
                       [&](const fs::path& dir) { return fs::exists(dir / "mime" / (mime + ".xml")); });
}

std::string desktopEntry(const DesktopApp& app, const fs::path& launcher) {
    std::ostringstream entry;
    entry << "[Desktop Entry]\nType=Application\nName=" << desktopValue(app.name) << "\n"
          << "Exec=" << execArgument(launcher.string()) << " %U\n"
          << "TryExec=" << desktopValue(launcher.string()) << "\n";
    if (app.icon) entry << "Icon=" << app.identifier << "\n";
    entry << "Terminal=false\nCategories=" << desktopValue(app.categories) << "\n";
    if (!app.fileTypes.empty()) {
        entry << "MimeType=";
        for (const auto& type : app.fileTypes) entry << type.mime << ";";
        entry << "\n";
    }
    // Java's X11 toolkit names its windows after the main class; this groups them under the entry.
    entry << "StartupWMClass=" << desktopValue(app.windowClass) << "\n";
    // GIO hands %U a local path instead of a URL unless told not to: the application is promised
    // URLs, from every desktop alike.
    entry << "X-GIO-NoFuse=true\n";
    return entry.str();
}

std::string mimePackage(const DesktopApp& app, const std::vector<const FileType*>& types) {
    std::ostringstream xml;
    xml << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n";
    for (const FileType* type : types) {
        xml << "  <mime-type type=\"" << xmlEscape(type->mime) << "\">\n"
            << "    <comment>" << xmlEscape(app.name) << " file</comment>\n";
        for (const auto& glob : type->globs) xml << "    <glob pattern=\"" << xmlEscape(glob) << "\"/>\n";
        xml << "  </mime-type>\n";
    }
    xml << "</mime-info>\n";
    return xml.str();
}

// The data folder of an install, and the record of what it wrote there.
fs::path dataDirFor(bool system) { return system ? fs::path("/usr/local/share") : fs::path(g_get_user_data_dir()); }
fs::path manifestPath(const fs::path& dataDir, const std::string& identifier) {
    return dataDir / "kestrane-bundle" / (identifier + ".manifest");
}

// Makes every missing folder of path, returning those it made, outermost first.
std::vector<fs::path> makeFolders(const fs::path& path) {
    std::vector<fs::path> made;
    for (fs::path p = path; !p.empty() && !fs::exists(p); p = p.parent_path()) made.insert(made.begin(), p);
    fs::create_directories(path);
    return made;
}

void runIfPresent(const std::vector<std::string>& argv) {
    if (!findProgram(argv.front())) return;
    // A failing cache update leaves the files in place; the next update repairs it.
    const ProgramResult result = runProgram(argv);
    if (result.status != 0)
        g_printerr("kestrane-bundle: warning: %s failed: %s", argv.front().c_str(), result.err.c_str());
}

bool holdsOnly(const fs::path& dir, const std::set<std::string>& names) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir, error)) {
        if (names.count(entry.path().filename().string()) == 0) return false;
    }
    return !error;
}

// The launcher refuses a bundle path with a colon; GIO looks for the program of an Exec line
// before it expands %% to %, so it ignores an entry whose program's path holds a % (which the
// entry must write %%); a line break cannot be written in Exec at all.
void checkLaunchable(const fs::path& bundle) {
    const std::string path = bundle.string();
    if (path.find_first_of(":%\n") != std::string::npos)
        throw ToolError("a desktop entry cannot start a bundle whose path holds a colon, % or a line break: " + path +
                        ": move it elsewhere");
}

}  // namespace

DesktopApp readDesktopApp(const fs::path& bundlePath) {
    DesktopApp app;
    app.bundle = fs::absolute(bundlePath).lexically_normal();
    if (app.bundle.filename().empty()) app.bundle = app.bundle.parent_path();
    const fs::path plist = app.bundle / "Contents/Info.plist";
    if (!fs::is_regular_file(plist)) throw ToolError(bundlePath.string() + " is not an application bundle (no Contents/Info.plist)");
    const bundle::Settings info = bundle::readInfoPlist(plist.string());
    app.name = info.string("CFBundleName").value_or("");
    app.identifier = info.string("CFBundleIdentifier").value_or("");
    if (app.name.empty() || app.identifier.empty()) throw ToolError(plist.string() + " names no CFBundleName or CFBundleIdentifier");
    if (app.identifier.find('/') != std::string::npos || app.identifier.front() == '.')
        throw ToolError(plist.string() + ": CFBundleIdentifier '" + app.identifier + "' cannot name a file");
    app.version = info.string("CFBundleShortVersionString").value_or("0");
    app.categories = info.string("KestraneDesktopCategories").value_or("Utility;");
    if (auto icon = info.string("CFBundleIconFile")) {
        if (icon->find('/') != std::string::npos) throw ToolError(plist.string() + ": CFBundleIconFile names a path");
        app.icon = app.bundle / "Contents/Resources" / *icon;
    }
    for (const auto& text : info.stringArray("KestraneFileTypes").value_or(std::vector<std::string>{}))
        app.fileTypes.push_back(parseFileType(text));
    app.bundlesRuntime = info.has("JVMRuntime");
    if (auto version = info.string("JVMVersion")) app.javaVersion = std::atoi(version->c_str());
    if (auto mainClass = info.string("JVMMainClassName")) {
        app.mainClass = *mainClass;
    } else if (auto jarName = info.string("JVMJARLauncher")) {
        const JarFile jar = JarFile::open(app.bundle / "Contents/Java" / *jarName);
        if (const JarFile::Entry* manifest = jar.find("META-INF/MANIFEST.MF"))
            app.mainClass = manifestMainClass(jar.read(*manifest, kMaxManifestBytes)).value_or("");
    }
    if (app.mainClass.empty()) throw ToolError(plist.string() + " names no main class");
    app.windowClass = windowClassOf(app.mainClass);
    return app;
}

void writeDesktopFiles(const DesktopApp& app, const fs::path& dataDir, const fs::path& launcher,
                       const std::vector<fs::path>& mimeDataDirs, std::vector<fs::path>& written) {
    if (app.icon) {
        const bool svg = app.icon->extension() == ".svg";
        for (int size : kIconSizes) {
            const std::string folder = std::to_string(size) + "x" + std::to_string(size);
            const fs::path to = dataDir / "icons/hicolor" / folder / "apps" / (app.identifier + ".png");
            fs::create_directories(to.parent_path());
            written.push_back(to);
            scaleIcon(*app.icon, size, to);
        }
        if (svg) {
            const fs::path to = dataDir / "icons/hicolor/scalable/apps" / (app.identifier + ".svg");
            fs::create_directories(to.parent_path());
            written.push_back(to);
            writeFile(to, readFile(*app.icon, 16 << 20));
        }
    }

    std::vector<const FileType*> unknown;
    for (const auto& type : app.fileTypes) {
        if (!systemKnowsType(type.mime, mimeDataDirs)) unknown.push_back(&type);
    }
    if (!unknown.empty()) {
        const fs::path package = dataDir / "mime/packages" / (app.identifier + ".xml");
        fs::create_directories(package.parent_path());
        written.push_back(package);
        writeFile(package, mimePackage(app, unknown));
    }

    // The entry last: the desktop shows nothing of a half-written installation.
    const fs::path entry = dataDir / "applications" / (app.identifier + ".desktop");
    fs::create_directories(entry.parent_path());
    written.push_back(entry);
    writeFile(entry, desktopEntry(app, launcher));
}

void install(const fs::path& bundle, bool system) {
    const DesktopApp app = readDesktopApp(bundle);
    checkLaunchable(app.bundle);
    const fs::path dataDir = dataDirFor(system);
    if (fs::exists(manifestPath(dataDir, app.identifier))) uninstall(app.identifier, system);

    // Every folder this install makes is recorded before anything goes in, so that uninstall
    // removes the folders too and leaves the tree as it found it.
    std::vector<fs::path> folders;
    for (const char* sub : {"applications", "kestrane-bundle", "mime/packages"}) {
        for (auto& f : makeFolders(dataDir / sub)) folders.push_back(std::move(f));
    }
    if (app.icon) {
        for (int size : kIconSizes) {
            const std::string folder = std::to_string(size) + "x" + std::to_string(size);
            for (auto& f : makeFolders(dataDir / "icons/hicolor" / folder / "apps")) folders.push_back(std::move(f));
        }
        if (app.icon->extension() == ".svg")
            for (auto& f : makeFolders(dataDir / "icons/hicolor/scalable/apps")) folders.push_back(std::move(f));
    }
    std::vector<fs::path> mimeDirs;
    if (!system) mimeDirs.emplace_back(g_get_user_data_dir());
    for (const gchar* const* dir = g_get_system_data_dirs(); *dir != nullptr; ++dir) mimeDirs.emplace_back(*dir);
    std::vector<fs::path> files;
    std::error_code ignored;
    try {
        writeDesktopFiles(app, dataDir, launcherOf(app.bundle), mimeDirs, files);
    } catch (...) {
        for (const auto& file : files) fs::remove(file, ignored);
        for (auto it = folders.rbegin(); it != folders.rend(); ++it) fs::remove(*it, ignored);
        throw;
    }
    // Folders made for nothing (no MIME package, say) go at once.
    std::ostringstream manifest;
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
        if (*it != dataDir / "kestrane-bundle" && fs::is_empty(*it, ignored)) fs::remove(*it, ignored);
    }
    for (const auto& f : folders) {
        if (fs::exists(f)) manifest << "d " << f.lexically_relative(dataDir).string() << "\n";
    }
    for (const auto& file : files) manifest << "f " << file.lexically_relative(dataDir).string() << "\n";
    writeFile(manifestPath(dataDir, app.identifier), manifest.str());

    runIfPresent({"update-desktop-database", "-q", (dataDir / "applications").string()});
    if (fs::exists(dataDir / "mime/packages" / (app.identifier + ".xml")))
        runIfPresent({"update-mime-database", (dataDir / "mime").string()});
    if (fs::exists(dataDir / "icons/hicolor/index.theme"))
        runIfPresent({"gtk-update-icon-cache", "-q", (dataDir / "icons/hicolor").string()});
    std::printf("%s\n", (dataDir / "applications" / (app.identifier + ".desktop")).c_str());
}

void uninstall(const std::string& bundleOrIdentifier, bool system) {
    const fs::path dataDir = dataDirFor(system);
    std::string identifier = bundleOrIdentifier;
    if (fs::is_directory(bundleOrIdentifier)) identifier = readDesktopApp(bundleOrIdentifier).identifier;
    if (identifier.find('/') != std::string::npos) throw ToolError(bundleOrIdentifier + " is not a bundle");
    const fs::path manifest = manifestPath(dataDir, identifier);
    if (!fs::exists(manifest)) throw ToolError(identifier + " is not installed in " + dataDir.string());

    std::vector<fs::path> folders, files;
    std::istringstream lines(readFile(manifest, 1 << 20));
    for (std::string line; std::getline(lines, line);) {
        if (line.size() < 3) continue;
        const fs::path relative = fs::path(line.substr(2)).lexically_normal();
        // The manifest is ours, but a path that climbs out of the data folder is never removed.
        if (relative.is_absolute() || relative.empty() || *relative.begin() == "..") continue;
        (line[0] == 'd' ? folders : files).push_back(relative == "." ? dataDir : dataDir / relative);
    }
    std::error_code ignored;
    for (const auto& file : files) fs::remove(file, ignored);
    fs::remove(manifest, ignored);

    // A folder this install made goes when nothing but the desktop's caches is left in it; the
    // caches of folders that were there before are brought up to date instead.
    const std::set<std::string> mimeCaches = {"aliases", "generic-icons", "globs", "globs2", "icons", "magic",
                                              "mime.cache", "subclasses", "treemagic", "types", "version",
                                              "XMLnamespaces"};
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
        if (*it == dataDir / "mime" && !fs::exists(dataDir / "mime/packages")) {
            // Only update-mime-database's output is left: its folders of types and its caches.
            bool generated = true;
            for (const auto& entry : fs::directory_iterator(*it, ignored))
                generated = generated && (entry.is_directory() || mimeCaches.count(entry.path().filename().string()) > 0);
            if (generated) fs::remove_all(*it, ignored);
        } else if (*it == dataDir / "applications" && holdsOnly(*it, {"mimeinfo.cache"})) {
            fs::remove_all(*it, ignored);
        } else if (it->parent_path() == dataDir / "icons" && holdsOnly(*it, {"icon-theme.cache"})) {
            fs::remove_all(*it, ignored);
        } else {
            fs::remove(*it, ignored);  // only when empty
        }
    }
    if (fs::exists(dataDir / "applications"))
        runIfPresent({"update-desktop-database", "-q", (dataDir / "applications").string()});
    if (fs::exists(dataDir / "mime")) runIfPresent({"update-mime-database", (dataDir / "mime").string()});
    if (fs::exists(dataDir / "icons/hicolor/index.theme"))
        runIfPresent({"gtk-update-icon-cache", "-q", (dataDir / "icons/hicolor").string()});
}

}  // namespace kestrane::bundletool
