#include "bundle.h"

#include <cstdlib>
#include <sstream>

#include "bundle_info.h"
#include "holders.h"
#include "paths.h"
#include "strings_table.h"

namespace kestrane::launcher {

Bundle Bundle::main() {
    const std::string executable = realPath("/proc/self/exe").value_or("");
    if (std::optional<std::string> folder = bundle::bundleOfFile(executable)) return at(*folder);
    // Outside a bundle: the folder where one would be, with no settings.
    Bundle b;
    b.path_ = parentOf(parentOf(parentOf(executable)));
    return b;
}

Bundle Bundle::at(const std::string& bundlePath) {
    Bundle b;
    b.path_ = bundlePath;
    b.info_ = bundle::readInfoPlist(bundlePath + "/Contents/Info.plist");
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
