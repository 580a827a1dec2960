#include "url.h"

#include <unistd.h>

#include <climits>

namespace kestrane::url {

namespace {

bool isUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
           c == '~';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    }
    return true;
}

enum class Undecodable { badEscape, nul };

std::optional<std::string> decode(std::string_view text, Undecodable& why) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char byte = text[i];
        if (byte == '%') {
            const int high = i + 2 < text.size() ? hexValue(text[i + 1]) : -1;
            const int low = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
            if (high < 0 || low < 0) {
                why = Undecodable::badEscape;
                return std::nullopt;
            }
            byte = static_cast<char>(high * 16 + low);
            i += 2;
        }
        if (byte == '\0') {
            why = Undecodable::nul;
            return std::nullopt;
        }
        out.push_back(byte);
    }
    return out;
}

// Asked at each call, not kept: the machine may be renamed while the process runs.
bool isThisMachine(std::string_view host) {
    if (host.empty() || equalsIgnoringCase(host, "localhost")) return true;
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0) return false;
    return equalsIgnoringCase(host, name);
}

}  // namespace

bool hasFileScheme(std::string_view url) { return url.size() >= 5 && url[4] == ':' && equalsIgnoringCase(url.substr(0, 4), "file"); }

Expected<std::string> parseFileUrl(std::string_view url) {
    if (url.find('\0') != std::string_view::npos) return Error(FileUrlError::nulCharacter, "The URL holds U+0000.");
    if (!hasFileScheme(url)) return Error(FileUrlError::notFileUrl, "The text is not a file URL.");
    std::string_view rest = url.substr(5);
    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        const std::size_t end = rest.find_first_of("/?#");
        const std::string_view host = rest.substr(0, end);
        if (!isThisMachine(host)) return Error(FileUrlError::otherHost, "The file URL names a file of another machine.");
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
    }
    if (rest.find_first_of("?#") != std::string_view::npos) {
        return Error(FileUrlError::malformed, "A file URL with a query or fragment names no file.");
    }
    if (rest.empty() || rest[0] != '/') return Error(FileUrlError::malformed, "The file URL's path is not absolute.");
    Undecodable why = Undecodable::badEscape;
    std::optional<std::string> path = decode(rest, why);
    if (!path && why == Undecodable::nul) return Error(FileUrlError::nulCharacter, "The file URL's path holds U+0000.");
    if (!path) return Error(FileUrlError::malformed, "The file URL holds a \"%\" without two hex digits after it.");
    return std::move(*path);
}

std::optional<std::string> localPathOfFileUrl(std::string_view url) {
    Expected<std::string> path = parseFileUrl(url);
    if (!path) return std::nullopt;
    return std::move(path).value();
}

std::string fileUrlOf(std::string_view absolutePath) { return "file://" + percentEncode(absolutePath, "/"); }

std::string percentEncode(std::string_view bytes, std::string_view alsoKept) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size());
    for (const char byte : bytes) {
        const auto c = static_cast<unsigned char>(byte);
        if (isUnreserved(c) || alsoKept.find(byte) != std::string_view::npos) {
            out.push_back(byte);
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
    }
    return out;
}

std::optional<std::string> percentDecode(std::string_view text) {
    Undecodable why = Undecodable::badEscape;
    return decode(text, why);
}

}  // namespace kestrane::url
