// Named resource values of files, kept in extended attributes where Linux desktops keep them.
//
//   "NSURLTagNamesKey"          the file's tags: user.xdg.tags, UTF-8, joined by commas; a
//                               comma inside a tag is written "\,", a backslash "\\"
//   "NSURLFileSizeKey", "NSURLIsDirectoryKey", "NSURLIsRegularFileKey",
//   "NSURLIsSymbolicLinkKey", "NSURLIsHiddenKey", "NSURLNameKey"
//                               read-only values of the file itself (setting them fails)
//   any other key K             user.kestrane.K, a binary property list (libplist), so that
//                               numbers, booleans and lists keep their kind
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kestrane::filetags {

struct Integer { std::int64_t value; };
struct Real { double value; };
struct Boolean { bool value; };
using StringList = std::vector<std::string>;  // UTF-8
struct Text { std::string value; };           // a value of a kind the Java side does not read
struct OtherKind {};                           // dates, data, dictionaries, mixed lists

using Value = std::variant<Integer, Real, Boolean, StringList, Text, OtherKind>;

// The value of key for the file at path, or none (no such file, no value, unreadable).
std::optional<Value> getResourceValue(const std::string& path, const std::string& key);

// Stores value for key; false when the file is missing, the key is read-only or does not take
// that kind, the file system has no user extended attributes, or the value is too large (more
// bytes than the file system holds beside a file, or a typed value that getResourceValue would
// not decode: a list of kMaxValueObjects strings or more). A tag list of one empty tag is
// refused too: its text is the empty text of a file without tags.
bool setResourceValue(const std::string& path, const std::string& key, const Value& value);

// The tag list's attribute text and back.
std::string joinTags(const StringList& tags);
StringList splitTags(const std::string& text);

// Typed values are decoded only when their work is bounded (plist_values.h): a binary
// property list that makes at most this many nodes, an object referred to from several places
// counting once per reference, nested at most 128 levels.
constexpr std::size_t kMaxValueObjects = 4096;

// A typed value from the bytes of its attribute (a property list), or none.
std::optional<Value> decodeValue(std::string_view bytes);

}  // namespace kestrane::filetags
