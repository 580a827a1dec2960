#include "info_plist.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>

#include "holders.h"
#include "plist_values.h"

namespace kestrane::bundle {

namespace {

// The bytes of a regular file of at most maxBytes, checked before anything is read; none
// otherwise, and when it grows while it is read.
std::optional<std::string> readAtMost(const std::string& path, std::size_t maxBytes) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!fd || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) > maxBytes) {
        return std::nullopt;
    }
    const auto size = static_cast<std::size_t>(st.st_size);
    std::string bytes(size + 1, '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd.get(), bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    if (got > size) return std::nullopt;
    bytes.resize(got);
    return bytes;
}

}  // namespace

Settings parseInfoPlist(std::string_view bytes) {
    plist::PlistPtr root = plist::parse(bytes, {kMaxInfoPlistNodes, plist::Sharing::counted});
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT) return Settings();
    return Settings(std::move(root));
}

Settings readInfoPlist(const std::string& path) {
    const std::optional<std::string> bytes = readAtMost(path, kMaxInfoPlistBytes);
    if (!bytes) return Settings();
    return parseInfoPlist(*bytes);
}

bool Settings::has(const std::string& key) const {
    return dict_ && plist_dict_get_item(dict_.get(), key.c_str()) != nullptr;
}

std::optional<std::string> Settings::string(const std::string& key) const {
    if (!dict_) return std::nullopt;
    return plist::stringOf(plist_dict_get_item(dict_.get(), key.c_str()));
}

std::optional<std::vector<std::string>> Settings::stringArray(const std::string& key) const {
    if (!dict_) return std::nullopt;
    plist_t node = plist_dict_get_item(dict_.get(), key.c_str());
    if (node == nullptr || plist_get_node_type(node) != PLIST_ARRAY) return std::nullopt;
    std::vector<std::string> out;
    plist::forEachItem(node, [&out](plist_t item) {
        if (auto s = plist::stringOf(item)) out.push_back(std::move(*s));
    });
    return out;
}

std::optional<std::map<std::string, std::string>> Settings::stringDictionary(const std::string& key) const {
    if (!dict_) return std::nullopt;
    plist_t node = plist_dict_get_item(dict_.get(), key.c_str());
    if (node == nullptr || plist_get_node_type(node) != PLIST_DICT) return std::nullopt;
    std::map<std::string, std::string> out;
    plist::forEachEntry(node, [&out](const char* name, plist_t value) {
        if (auto s = plist::stringOf(value)) out[name] = std::move(*s);
    });
    return out;
}

bool Settings::truth(const std::string& key) const {
    if (!dict_) return false;
    plist_t node = plist_dict_get_item(dict_.get(), key.c_str());
    if (node == nullptr) return false;
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            uint8_t value = 0;
            plist_get_bool_val(node, &value);
            return value != 0;
        }
        case PLIST_UINT: {
            uint64_t value = 0;
            plist_get_uint_val(node, &value);
            return value != 0;
        }
        case PLIST_REAL: {
            double value = 0;
            plist_get_real_val(node, &value);
            return value != 0;
        }
        case PLIST_STRING: return stringIsTrue(plist::stringOf(node).value_or(""));
        default: return false;
    }
}

bool stringIsTrue(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    while (i < text.size() && text[i] == '0') ++i;
    if (i >= text.size()) return false;
    const char c = text[i];
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

}  // namespace kestrane::bundle
