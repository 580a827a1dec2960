#include "filetags.h"

#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>

#include "plist_values.h"

namespace kestrane::filetags {

namespace {

constexpr const char* kTagsKey = "NSURLTagNamesKey";
constexpr const char* kTagsAttribute = "user.xdg.tags";

using plist::PlistPtr;

// What the getter decodes; the setter checks its own bytes against the same bounds, so that
// nothing is stored that could not be read back. libplist writes equal strings once and
// refers to them from every place they stand (a list with a repeated tag), so references are
// counted rather than refused: the count bounds the work as well.
constexpr plist::Bounds kValueBounds{kMaxValueObjects, plist::Sharing::counted};

bool isReadOnlyKey(const std::string& key) {
    return key == "NSURLFileSizeKey" || key == "NSURLIsDirectoryKey" || key == "NSURLIsRegularFileKey" ||
           key == "NSURLIsSymbolicLinkKey" || key == "NSURLIsHiddenKey" || key == "NSURLNameKey";
}

std::optional<std::string> readAttribute(const std::string& path, const std::string& name) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        const ssize_t size = getxattr(path.c_str(), name.c_str(), nullptr, 0);
        if (size < 0) return std::nullopt;
        std::string value(static_cast<std::size_t>(size), '\0');
        const ssize_t got = getxattr(path.c_str(), name.c_str(), value.data(), value.size());
        if (got >= 0) {
            value.resize(static_cast<std::size_t>(got));
            return value;
        }
        if (errno != ERANGE) return std::nullopt;  // ERANGE: it grew in between; ask again
    }
    return std::nullopt;
}

bool writeAttribute(const std::string& path, const std::string& name, const std::string& value) {
    return setxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0) == 0;
}

std::optional<Value> fileOwnValue(const std::string& path, const std::string& key) {
    struct stat st {}, lst {};
    if (stat(path.c_str(), &st) != 0 || lstat(path.c_str(), &lst) != 0) return std::nullopt;
    const std::size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (key == "NSURLFileSizeKey") return Integer{static_cast<std::int64_t>(st.st_size)};
    if (key == "NSURLIsDirectoryKey") return Boolean{S_ISDIR(st.st_mode)};
    if (key == "NSURLIsRegularFileKey") return Boolean{S_ISREG(st.st_mode)};
    if (key == "NSURLIsSymbolicLinkKey") return Boolean{S_ISLNK(lst.st_mode)};
    if (key == "NSURLIsHiddenKey") return Boolean{!name.empty() && name[0] == '.'};
    return Text{name};  // NSURLNameKey
}

Value fromPlist(plist_t node) {
    switch (plist_get_node_type(node)) {
        case PLIST_UINT: {
            uint64_t v = 0;
            plist_get_uint_val(node, &v);
            return Integer{static_cast<std::int64_t>(v)};  // libplist keeps signed values in this type
        }
        case PLIST_REAL: {
            double v = 0;
            plist_get_real_val(node, &v);
            return Real{v};
        }
        case PLIST_BOOLEAN: {
            uint8_t v = 0;
            plist_get_bool_val(node, &v);
            return Boolean{v != 0};
        }
        case PLIST_STRING: return Text{plist::stringOf(node).value_or("")};
        case PLIST_ARRAY: {
            StringList list;
            const uint32_t n = plist_array_get_size(node);
            for (uint32_t i = 0; i < n; ++i) {
                plist_t item = plist_array_get_item(node, i);
                if (plist_get_node_type(item) != PLIST_STRING) return OtherKind{};
                list.push_back(plist::stringOf(item).value_or(""));
            }
            return list;
        }
        default: return OtherKind{};
    }
}

PlistPtr toPlist(const Value& value) {
    if (auto* i = std::get_if<Integer>(&value)) return PlistPtr(plist_new_uint(static_cast<uint64_t>(i->value)));
    if (auto* r = std::get_if<Real>(&value)) return PlistPtr(plist_new_real(r->value));
    if (auto* b = std::get_if<Boolean>(&value)) return PlistPtr(plist_new_bool(b->value ? 1 : 0));
    if (auto* t = std::get_if<Text>(&value)) return PlistPtr(plist_new_string(t->value.c_str()));
    if (auto* list = std::get_if<StringList>(&value)) {
        PlistPtr array(plist_new_array());
        for (const std::string& s : *list) plist_array_append_item(array.get(), plist_new_string(s.c_str()));
        return array;
    }
    return nullptr;
}

}  // namespace

std::string joinTags(const StringList& tags) {
    std::string out;
    for (std::size_t i = 0; i < tags.size(); ++i) {
        if (i > 0) out.push_back(',');
        for (char c : tags[i]) {
            if (c == ',' || c == '\\') out.push_back('\\');
            out.push_back(c);
        }
    }
    return out;
}

StringList splitTags(const std::string& text) {
    StringList tags;
    if (text.empty()) return tags;
    std::string current;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            current.push_back(text[++i]);
        } else if (text[i] == ',') {
            tags.push_back(current);
            current.clear();
        } else {
            current.push_back(text[i]);
        }
    }
    tags.push_back(current);
    return tags;
}

namespace {

// A key names an attribute: it must not be empty nor hold a U+0000, which would end the
// attribute's name early.
bool usableKey(const std::string& key) { return !key.empty() && key.find('\0') == std::string::npos; }

}  // namespace

std::optional<Value> getResourceValue(const std::string& path, const std::string& key) {
    if (!usableKey(key) || path.find('\0') != std::string::npos) return std::nullopt;
    if (isReadOnlyKey(key)) return fileOwnValue(path, key);
    if (key == kTagsKey) {
        struct stat st {};
        if (stat(path.c_str(), &st) != 0) return std::nullopt;
        // A file without tags has an empty list.
        return splitTags(readAttribute(path, kTagsAttribute).value_or(""));
    }
    const auto bytes = readAttribute(path, "user.kestrane." + key);
    if (!bytes) return std::nullopt;
    return decodeValue(*bytes);
}

std::optional<Value> decodeValue(std::string_view bytes) {
    const PlistPtr root = plist::parse(bytes, kValueBounds);
    if (!root) return std::nullopt;
    return fromPlist(root.get());
}

bool setResourceValue(const std::string& path, const std::string& key, const Value& value) {
    if (!usableKey(key) || path.find('\0') != std::string::npos || isReadOnlyKey(key)) return false;
    if (const auto* list = std::get_if<StringList>(&value)) {
        for (const std::string& item : *list) {
            if (item.find('\0') != std::string::npos) return false;  // nothing is written
        }
    }
    if (key == kTagsKey) {
        const auto* tags = std::get_if<StringList>(&value);
        if (tags == nullptr) return false;
        // One empty tag is written as the empty text, which reads back as no tags at all.
        if (tags->size() == 1 && tags->front().empty()) return false;
        if (tags->empty()) {
            if (removexattr(path.c_str(), kTagsAttribute) == 0 || errno == ENODATA) {
                struct stat st {};
                return stat(path.c_str(), &st) == 0;
            }
            return false;
        }
        return writeAttribute(path, kTagsAttribute, joinTags(*tags));
    }
    // The array is an object of its own: a list of kMaxValueObjects strings is one too many.
    if (const auto* list = std::get_if<StringList>(&value); list != nullptr && list->size() >= kMaxValueObjects) return false;
    PlistPtr node = toPlist(value);
    if (!node) return false;
    char* rawBytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(node.get(), &rawBytes, &length);
    const plist::PlistBytesPtr bytes(rawBytes);
    if (!bytes) return false;
    const std::string encoded(bytes.get(), length);
    if (!plist::isSafeToDecode(encoded, kValueBounds)) return false;
    return writeAttribute(path, "user.kestrane." + key, encoded);
}

}  // namespace kestrane::filetags
