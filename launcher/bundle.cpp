#include "bundle.h"

#include <plist/plist.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "paths.h"
#include "strings_table.h"

namespace kestrane::launcher {

namespace {

std::optional<std::string> plistString(plist_t node) {
    if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
    // The pointer getter: the copying one asserts (ending the process) on a string that holds
    // U+0000, which a binary property list can.
    uint64_t length = 0;
    const char* value = plist_get_string_ptr(node, &length);
    if (value == nullptr) return std::nullopt;
    return std::string(value, static_cast<std::size_t>(length));
}

Settings readInfoPlist(const std::string& bundlePath) {
    const std::optional<std::string> bytes = readFile(bundlePath + "/Contents/Info.plist");
    if (!bytes) return Settings();
    return parseInfoPlist(*bytes);
}

}  // namespace

Settings parseInfoPlist(std::string_view bytes) {
    if (bytes.empty() || bytes.size() > UINT32_MAX) return Settings();
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    if (root == nullptr) return Settings();
    if (plist_get_node_type(root) != PLIST_DICT) {
        plist_free(root);
        return Settings();
    }
    return Settings(root);
}

void Settings::Free::operator()(void* node) const {
    plist_free(static_cast<plist_t>(node));
}

Settings::Settings() = default;
Settings::Settings(void* plistDictionary) : dict_(plistDictionary) {}
Settings::~Settings() = default;
Settings::Settings(Settings&&) noexcept = default;
Settings& Settings::operator=(Settings&&) noexcept = default;

bool Settings::has(const std::string& key) const {
    return dict_ && plist_dict_get_item(dict_.get(), key.c_str()) != nullptr;
}

std::optional<std::string> Settings::string(const std::string& key) const {
    if (!dict_) return std::nullopt;
    return plistString(plist_dict_get_item(dict_.get(), key.c_str()));
}

std::optional<std::vector<std::string>> Settings::stringArray(const std::string& key) const {
    if (!dict_) return std::nullopt;
    plist_t node = plist_dict_get_item(dict_.get(), key.c_str());
    if (node == nullptr || plist_get_node_type(node) != PLIST_ARRAY) return std::nullopt;
    std::vector<std::string> out;
    const uint32_t n = plist_array_get_size(node);
    for (uint32_t i = 0; i < n; ++i) {
        if (auto s = plistString(plist_array_get_item(node, i))) out.push_back(*s);
    }
    return out;
}

std::optional<std::map<std::string, std::string>> Settings::stringDictionary(const std::string& key) const {
    if (!dict_) return std::nullopt;
    plist_t node = plist_dict_get_item(dict_.get(), key.c_str());
    if (node == nullptr || plist_get_node_type(node) != PLIST_DICT) return std::nullopt;
    std::map<std::string, std::string> out;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(node, &it);
    for (;;) {
        char* name = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(node, it, &name, &value);
        if (name == nullptr) break;
        if (auto s = plistString(value)) out[name] = *s;
        std::free(name);
    }
    std::free(it);
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
        case PLIST_STRING: return stringIsTrue(plistString(node).value_or(""));
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

Bundle Bundle::main() {
    char* exe = realpath("/proc/self/exe", nullptr);
    const std::string executable = exe != nullptr ? exe : "";
    std::free(exe);
    const std::string macos = parentOf(executable), contents = parentOf(macos), bundle = parentOf(contents);
    Bundle b;
    b.path_ = bundle;
    if (nameOf(macos) == "MacOS" && nameOf(contents) == "Contents") b.info_ = readInfoPlist(bundle);
    return b;
}

Bundle Bundle::at(const std::string& bundlePath) {
    Bundle b;
    b.path_ = bundlePath;
    b.info_ = readInfoPlist(bundlePath);
    return b;
}

std::vector<std::string> languageFolders() {
    std::vector<std::string> names;
    auto addLocale = [&names](std::string locale) {
        locale = locale.substr(0, locale.find_first_of(".@"));  // drop encoding and modifier
        if (locale.empty() || locale == "C" || locale == "POSIX") return;
        names.push_back(locale);
        const std::size_t underscore = locale.find('_');
        if (underscore != std::string::npos) names.push_back(locale.substr(0, underscore));
    };
    if (const char* language = std::getenv("LANGUAGE"); language != nullptr && *language != '\0') {
        std::stringstream list(language);
        std::string item;
        while (std::getline(list, item, ':')) addLocale(item);
    }
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (const char* value = std::getenv(var); value != nullptr && *value != '\0') {
            addLocale(value);
            break;  // the first one set decides, as for the C library
        }
    }
    names.push_back("en");
    names.push_back("Base");
    return names;
}

std::string Bundle::localizedString(const std::string& key) const {
    for (const std::string& language : languageFolders()) {
        const auto bytes = readFile(path_ + "/Contents/Resources/" + language + ".lproj/Localizable.strings");
        if (!bytes) continue;
        const StringsTable table = parseStringsTable(*bytes);
        if (auto it = table.entries.find(key); it != table.entries.end()) return it->second;
    }
    return key;
}

}  // namespace kestrane::launcher
