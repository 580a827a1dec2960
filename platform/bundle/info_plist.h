// A bundle's settings: the information dictionary of Contents/Info.plist (an XML or binary
// property list), read with a bound on its size and on libplist's work, for the launcher and
// for the libraries that name their application.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plist_ptr.h"

namespace kestrane::bundle {

// Larger files are not read: a real Info.plist is a few kilobytes.
constexpr std::size_t kMaxInfoPlistBytes = 1 << 20;
// The nodes libplist may build for one (a binary list may share objects; each use counts).
constexpr std::size_t kMaxInfoPlistNodes = 100000;

// The information dictionary. Values of the wrong kind read as absent.
class Settings {
public:
    Settings() = default;  // empty
    explicit Settings(plist::PlistPtr dictionary) : dict_(std::move(dictionary)) {}

    bool has(const std::string& key) const;
    std::optional<std::string> string(const std::string& key) const;
    std::optional<std::vector<std::string>> stringArray(const std::string& key) const;
    // Entries whose value is a string, ordered by name.
    std::optional<std::map<std::string, std::string>> stringDictionary(const std::string& key) const;
    // A boolean, a number that is not zero, or a string that reads as true; absent is false.
    bool truth(const std::string& key) const;

private:
    plist::PlistPtr dict_;
};

// The settings of Info.plist bytes (XML or binary); empty when they are not a dictionary or
// libplist's work on them would exceed the bounds above.
Settings parseInfoPlist(std::string_view bytes);

// The settings of the file at path; empty when it is missing, unreadable, not a regular file
// or larger than kMaxInfoPlistBytes, or for the reasons above.
Settings readInfoPlist(const std::string& path);

// A string read as a truth value: leading white space, an optional sign and leading zeros are
// skipped; then "Y", "y", "T", "t" or a digit 1-9 means true.
bool stringIsTrue(const std::string& text);

}  // namespace kestrane::bundle
