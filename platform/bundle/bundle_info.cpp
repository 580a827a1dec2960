#include "bundle_info.h"

#include <dlfcn.h>
#include <plist/plist.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace kestrane::bundle {

namespace {

std::string parentOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

std::optional<std::string> stringValue(plist_t dict, const char* key) {
    plist_t node = plist_dict_get_item(dict, key);
    if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
    // The pointer getter: the copying one asserts on a string that holds U+0000.
    uint64_t length = 0;
    const char* value = plist_get_string_ptr(node, &length);
    if (value == nullptr) return std::nullopt;
    return std::string(value, static_cast<std::size_t>(length));
}

}  // namespace

std::optional<std::string> bundleOfCode(const void* address) {
    Dl_info info {};
    if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return std::nullopt;
    char* real = realpath(info.dli_fname, nullptr);
    if (real == nullptr) return std::nullopt;
    const std::string library = real;
    std::free(real);
    const std::string macos = parentOf(library), contents = parentOf(macos);
    if (nameOf(macos) != "MacOS" || nameOf(contents) != "Contents") return std::nullopt;
    return parentOf(contents);
}

BundleInfo readBundleInfo(const std::string& bundleFolder) {
    BundleInfo out;
    std::ifstream in(bundleFolder + "/Contents/Info.plist", std::ios::binary);
    if (!in) return out;
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    if (root == nullptr) return out;
    if (plist_get_node_type(root) == PLIST_DICT) {
        out.name = stringValue(root, "CFBundleName");
        out.iconName = stringValue(root, "CFBundleIconName");
    }
    plist_free(root);
    return out;
}

std::string applicationName(const void* address) {
    if (std::optional<std::string> folder = bundleOfCode(address)) {
        if (std::optional<std::string> name = readBundleInfo(*folder).name; name && !name->empty()) return *name;
    }
    return program_invocation_short_name;
}

}  // namespace kestrane::bundle
