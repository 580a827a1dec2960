// The application bundle the launcher runs from: <Name>.app/Contents/MacOS/launcher, with the
// settings in Contents/Info.plist (XML or binary property list, platform/bundle's reader) and
// the localized texts in Contents/Resources/<language>.lproj/Localizable.strings.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "info_plist.h"

namespace kestrane::launcher {

// The information dictionary and its reader are the platform's (info_plist.h), shared with
// the libraries.
using bundle::Settings;
using bundle::parseInfoPlist;
using bundle::stringIsTrue;

class Bundle {
public:
    // The bundle around the running executable (two folders above its real path). Outside a
    // bundle, or without an Info.plist, the dictionary is empty.
    static Bundle main();
    // The bundle at an explicit folder (tests).
    static Bundle at(const std::string& bundlePath);

    const std::string& path() const { return path_; }
    std::string builtInPlugInsPath() const { return path_ + "/Contents/PlugIns"; }
    const Settings& info() const { return info_; }
    std::optional<std::string> identifier() const { return info_.string("CFBundleIdentifier"); }

    // The localized text of key from the bundle's Localizable.strings tables, in the order of
    // the user's languages, then en and Base; the key itself when no table has it.
    std::string localizedString(const std::string& key) const;

private:
    std::string path_;
    Settings info_;
};

// The .lproj folder names to try, in order, for the environment's language settings
// (LANGUAGE, LC_ALL, LC_MESSAGES, LANG), then "en" and "Base".
std::vector<std::string> languageFolders();

}  // namespace kestrane::launcher
