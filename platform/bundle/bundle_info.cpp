#include "bundle_info.h"

#include <dlfcn.h>

#include <cerrno>

#include "holders.h"
#include "info_plist.h"

namespace kestrane::bundle {

namespace {

std::string parentOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

}  // namespace

std::optional<std::string> bundleOfFile(const std::string& path) {
    const std::string macos = parentOf(path), contents = parentOf(macos);
    if (nameOf(macos) != "MacOS" || nameOf(contents) != "Contents") return std::nullopt;
    return parentOf(contents);
}

std::optional<std::string> bundleOfCode(const void* address) {
    Dl_info info {};
    if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return std::nullopt;
    const std::optional<std::string> library = realPath(info.dli_fname);
    if (!library) return std::nullopt;
    return bundleOfFile(*library);
}

BundleInfo readBundleInfo(const std::string& bundleFolder) {
    const Settings info = readInfoPlist(bundleFolder + "/Contents/Info.plist");
    return BundleInfo{info.string("CFBundleName"), info.string("CFBundleIconName"), info.string("CFBundleIdentifier")};
}

std::string applicationName(const void* address) {
    if (std::optional<std::string> folder = bundleOfCode(address)) {
        if (std::optional<std::string> name = readBundleInfo(*folder).name; name && !name->empty()) return *name;
    }
    return program_invocation_short_name;
}

}  // namespace kestrane::bundle
