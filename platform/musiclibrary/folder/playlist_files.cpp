#include "playlist_files.h"

#include <expat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "expat_ptr.h"
#include "url.h"

namespace kestrane::musiclibrary {

namespace {

std::string lowerExtension(const std::string& name) {
    const std::size_t dot = name.find_last_of('.');
    std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

std::string trim(const std::string& s) {
    const std::size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

bool validUtf8(const std::string& bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        const int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        if (extra < 0 || i + static_cast<std::size_t>(extra) >= bytes.size() + (extra == 0 ? 1 : 0)) return false;
        for (int k = 1; k <= extra; ++k) {
            if ((static_cast<unsigned char>(bytes[i + static_cast<std::size_t>(k)]) & 0xC0) != 0x80) return false;
        }
        i += static_cast<std::size_t>(extra) + 1;
    }
    return true;
}

// Plain .m3u files are often in Latin-1: text that is not valid UTF-8 is read so.
std::string asUtf8(const std::string& bytes) {
    if (validUtf8(bytes)) return bytes;
    std::string out;
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::vector<std::string> m3uEntries(const std::string& text) {
    std::vector<std::string> entries;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (entries.empty() && line.rfind("\xEF\xBB\xBF", 0) == 0) line = line.substr(3);
        line = trim(line);
        if (!line.empty() && line[0] != '#') entries.push_back(line);
    }
    return entries;
}

std::vector<std::string> plsEntries(const std::string& text) {
    std::map<int, std::string> byNumber;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        line = trim(line);
        if (line.size() < 6 || line.compare(0, 4, "File") != 0) continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        byNumber[std::atoi(line.substr(4, eq - 4).c_str())] = trim(line.substr(eq + 1));
    }
    std::vector<std::string> entries;
    for (auto& [n, entry] : byNumber) entries.push_back(std::move(entry));
    return entries;
}

struct XspfState {
    std::vector<std::string> entries;
    std::string text;
    int depthInTrack = 0;
    bool inLocation = false;
    bool located = false;  // the track's first location is taken
};

// The local name of an element, without a namespace that expat joined to it.
std::string localName(const XML_Char* name) {
    const std::string full = name;
    const std::size_t sep = full.find_last_of('|');
    return sep == std::string::npos ? full : full.substr(sep + 1);
}

Expected<std::vector<std::string>> xspfEntries(const std::string& text) {
    const ParserPtr holder(XML_ParserCreateNS(nullptr, '|'));
    XML_Parser parser = holder.get();
    if (parser == nullptr) return Error(PlaylistFileError::outOfMemory, "out of memory");
    XspfState state;
    XML_SetUserData(parser, &state);
    XML_SetElementHandler(
        parser,
        [](void* data, const XML_Char* name, const XML_Char**) {
            auto* s = static_cast<XspfState*>(data);
            const std::string local = localName(name);
            if (local == "track" && ++s->depthInTrack == 1) s->located = false;
            if (local == "location" && s->depthInTrack > 0) {
                s->inLocation = true;
                s->text.clear();
            }
        },
        [](void* data, const XML_Char* name) {
            auto* s = static_cast<XspfState*>(data);
            const std::string local = localName(name);
            if (local == "location" && s->inLocation) {
                s->inLocation = false;
                // The first location of a track is the one to play.
                if (!s->located) s->entries.push_back(trim(s->text));
                s->located = true;
            }
            if (local == "track") --s->depthInTrack;
        });
    XML_SetCharacterDataHandler(parser, [](void* data, const XML_Char* chars, int length) {
        auto* s = static_cast<XspfState*>(data);
        if (s->inLocation) s->text.append(chars, static_cast<std::size_t>(length));
    });
    const bool ok = XML_Parse(parser, text.data(), static_cast<int>(text.size()), XML_TRUE) == XML_STATUS_OK;
    std::string error;
    if (!ok) {
        error = "line " + std::to_string(XML_GetCurrentLineNumber(parser)) + ", column " +
                std::to_string(XML_GetCurrentColumnNumber(parser) + 1) + ": " + XML_ErrorString(XML_GetErrorCode(parser));
    }
    if (!ok) return Error(PlaylistFileError::malformed, error);
    return state.entries;
}

}  // namespace

bool isPlaylistFileName(const std::string& name) {
    const std::string ext = lowerExtension(name);
    return ext == "m3u" || ext == "m3u8" || ext == "pls" || ext == "xspf";
}

Expected<std::vector<std::string>> readPlaylistFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return Error(PlaylistFileError::unreadable, "cannot be read");
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string ext = lowerExtension(path);
    if (ext == "xspf") return xspfEntries(bytes);
    if (ext == "pls") return plsEntries(asUtf8(bytes));
    return m3uEntries(asUtf8(bytes));
}

std::optional<std::string> entryPath(const std::string& entry, const std::string& playlistFolder) {
    namespace fs = std::filesystem;
    std::string path = entry;
    if (url::hasFileScheme(entry)) {
        std::optional<std::string> local = url::localPathOfFileUrl(entry);
        if (!local) return std::nullopt;  // a file on another host, or no file at all
        path = std::move(*local);
    } else if (entry.find("://") != std::string::npos) {
        return std::nullopt;  // a stream, not a file of the folder
    }
    if (path.find('\0') != std::string::npos || path.empty()) return std::nullopt;
    fs::path p(path);
    if (p.is_relative()) p = fs::path(playlistFolder) / p;
    return p.lexically_normal().string();
}

}  // namespace kestrane::musiclibrary
