// The application bundle the launcher runs from: <Name>.app/Contents/MacOS/launcher, with the
// settings in Contents/Info.plist (XML or binary property list, read with libplist) and the
// localized texts in Contents/Resources/<language>.lproj/Localizable.strings.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrane::launcher {

// The information dictionary. Values of the wrong kind read as absent.
class Settings {
public:
    Settings();  // empty
    explicit Settings(void* plistDictionary);  // takes ownership of a libplist dictionary
    ~Settings();
    Settings(Settings&&) noexcept;
    Settings& operator=(Settings&&) noexcept;

    bool has(const std::string& key) const;
    std::optional<std::string> string(const std::string& key) const;
    std::optional<std::vector<std::string>> stringArray(const std::string& key) const;
    // Entries whose value is a string, ordered by name.
    std::optional<std::map<std::string, std::string>> stringDictionary(const std::string& key) const;
    // A boolean, a number that is not zero, or a string that reads as true; absent is false.
    bool truth(const std::string& key) const;

private:
    struct Free {
        void operator()(void* node) const;
    };
    std::unique_ptr<void, Free> dict_;
};

// The settings of Info.plist bytes (XML or binary); empty when they are not a dictionary.
Settings parseInfoPlist(std::string_view bytes);

// A string read as a truth value: leading white space, an optional sign and leading zeros are
// skipped; then "Y", "y", "T", "t" or a digit 1-9 means true.
bool stringIsTrue(const std::string& text);

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
