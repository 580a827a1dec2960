#include "location_map.h"

#include <sys/stat.h>

#include <cstdlib>
#include <optional>
#include <sstream>

#include "log.h"
#include "media_item.h"
#include "url.h"

namespace kestrane::musiclibrary {

namespace {

// The local path of a file:// URL; "" for anything else.
std::string pathOfUrl(const std::string& fileUrl) { return url::localPathOfFileUrl(fileUrl).value_or(""); }

bool isDirectory(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string withSlash(std::string s) {
    if (!s.empty() && s.back() != '/') s.push_back('/');
    return s;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> parsePathMap(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> pairs;
    std::istringstream lines(text);
    auto trim = [](const std::string& s) {
        const std::size_t b = s.find_first_not_of(" \t\r");
        return b == std::string::npos ? std::string() : s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
    };
    // A prefix is a folder: it ends in one "/", so that "/old" does not match "/older/x" and
    // "/new" does not glue onto the name that follows.
    auto folderPrefix = [](std::string side) -> std::optional<std::string> {
        if (side.front() == '/') side = url::fileUrlOf(side);
        else if (!url::hasFileScheme(side)) return std::nullopt;
        while (side.size() > 1 && side.back() == '/') side.pop_back();
        return side + "/";
    };
    for (std::string line; std::getline(lines, line);) {
        line = trim(line);
        if (line.empty() || line.front() == '#') continue;
        const std::size_t eq = line.find('=');
        const std::string from = eq == std::string::npos ? "" : trim(line.substr(0, eq));
        const std::string to = eq == std::string::npos ? "" : trim(line.substr(eq + 1));
        const auto fromPrefix = from.empty() ? std::nullopt : folderPrefix(from);
        const auto toPrefix = to.empty() ? std::nullopt : folderPrefix(to);
        if (!fromPrefix || !toPrefix) {
            logLine("KESTRANE_LIBRARY_PATH_MAP: '" + line + "' is left out: each side must be an absolute path or a file:// URL (old=new).");
            continue;
        }
        pairs.emplace_back(*fromPrefix, *toPrefix);
    }
    return pairs;
}

void remapLocations(Snapshot& snapshot, const std::string& libraryFile) {
    std::vector<std::pair<std::string, std::string>> map;
    if (const char* text = std::getenv("KESTRANE_LIBRARY_PATH_MAP"); text != nullptr && *text != '\0') {
        map = parsePathMap(text);
    } else if (snapshot.musicFolder && !isDirectory(pathOfUrl(*snapshot.musicFolder))) {
        // The music folder is not here: a folder of its name beside the library file is.
        std::string old = *snapshot.musicFolder;
        while (old.size() > 1 && old.back() == '/') old.pop_back();
        const std::string name = url::percentDecode(old.substr(old.find_last_of('/') + 1)).value_or("");
        const std::string beside = libraryFile.substr(0, libraryFile.find_last_of('/') + 1) + name;
        if (!name.empty() && isDirectory(beside)) map.emplace_back(withSlash(old), withSlash(url::fileUrlOf(beside)));
    }
    if (map.empty()) return;

    std::size_t rewritten = 0, present = 0;
    for (const MediaItem& item : snapshot.items) {
        const std::optional<std::string> location = item.valueForProperty("Location");
        if (!location) continue;
        for (const auto& [from, to] : map) {
            if (location->compare(0, from.size(), from) != 0) continue;
            std::string local = to + location->substr(from.size());
            ++rewritten;
            struct stat st {};
            present += stat(pathOfUrl(local).c_str(), &st) == 0;
            snapshot.localLocations.emplace(&item, std::move(local));
            break;
        }
    }
    if (snapshot.musicFolder) {
        for (const auto& [from, to] : map) {
            if (withSlash(*snapshot.musicFolder).compare(0, from.size(), from) == 0) {
                snapshot.localMusicFolder = to + withSlash(*snapshot.musicFolder).substr(from.size());
                break;
            }
        }
    }
    logFormat("The music library file '%s' comes from another machine: %zu locations were rewritten (%s -> %s), %zu of them exist.",
              libraryFile.c_str(), rewritten, map.front().first.c_str(), map.front().second.c_str(), present);
}

}  // namespace kestrane::musiclibrary
