#include "playlist_files.h"

#include <expat.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <sstream>

#include "expat_ptr.h"
#include "holders.h"
#include "utf.h"
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

// "File<n>=<entry>" lines, n a number from 1 on, in the order of n; other keys are not entries.
std::vector<std::string> plsEntries(const std::string& text) {
    std::map<long, std::string> byNumber;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        line = trim(line);
        if (line.compare(0, 4, "File") != 0) continue;
        std::size_t end = 4;
        long n = 0;
        while (end < line.size() && end < 13 && std::isdigit(static_cast<unsigned char>(line[end]))) n = n * 10 + (line[end++] - '0');
        if (end == 4 || end >= line.size() || line[end] != '=' || n < 1) continue;
        byNumber[n] = trim(line.substr(end + 1));
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
    // Non-blocking, so that a FIFO put in the file's place cannot stop the scan; the size is
    // checked on the descriptor, so that what is read is what was checked.
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!fd || fstat(fd.get(), &st) != 0) return Error(PlaylistFileError::unreadable, std::string("cannot be read: ") + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return Error(PlaylistFileError::unreadable, "cannot be read: not a regular file");
    if (st.st_size > static_cast<off_t>(kMaxPlaylistBytes)) {
        return Error(PlaylistFileError::tooLarge, "is larger than " + std::to_string(kMaxPlaylistBytes >> 20) + " MB, too large for a playlist");
    }
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(fd.get(), bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return Error(PlaylistFileError::unreadable, std::string("cannot be read: ") + std::strerror(errno));
        if (got == 0) break;  // shrunk since: what there is
        done += static_cast<std::size_t>(got);
    }
    bytes.resize(done);
    const std::string ext = lowerExtension(path);
    if (ext == "xspf") return xspfEntries(bytes);
    if (ext == "pls") return plsEntries(bytes);
    return m3uEntries(bytes);
}

std::optional<std::string> latin1Variant(std::string_view entry) {
    if (validUtf8(std::string(entry))) return std::nullopt;
    std::string out;
    for (const char c : entry) kestrane::text::appendUtf8(out, static_cast<unsigned char>(c));
    return out;
}

namespace {

// path without "." and ".." components and repeated slashes ("/" ends it only when it is
// the root); ".." above the root stays at the root.
std::string lexicallyNormal(const std::string& path) {
    std::string out;
    out.reserve(path.size());
    std::size_t i = 0;
    while (i < path.size()) {
        std::size_t j = path.find('/', i);
        if (j == std::string::npos) j = path.size();
        const std::string_view part(path.data() + i, j - i);
        if (part == "..") {
            const std::size_t cut = out.find_last_of('/');
            out.resize(cut == std::string::npos ? 0 : cut);
        } else if (!part.empty() && part != ".") {
            out += '/';
            out += part;
        }
        i = j + 1;
    }
    return out.empty() ? "/" : out;
}

}  // namespace

std::optional<std::string> entryPath(const std::string& entry, const std::string& playlistFolder) {
    std::string path = entry;
    if (url::hasFileScheme(entry)) {
        std::optional<std::string> local = url::localPathOfFileUrl(entry);
        if (!local) return std::nullopt;  // a file on another host, or no file at all
        path = std::move(*local);
    } else if (entry.find("://") != std::string::npos) {
        return std::nullopt;  // a stream, not a file of the folder
    }
    if (path.find('\0') != std::string::npos || path.empty()) return std::nullopt;
    if (path.front() != '/') path = playlistFolder + "/" + path;
    return lexicallyNormal(path);
}

}  // namespace kestrane::musiclibrary
