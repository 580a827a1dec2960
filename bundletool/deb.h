// kestrane-bundle deb: a Debian package of an application bundle.
#pragma once

#include <filesystem>

namespace kestrane::bundletool {

// Writes <package>_<version>_<arch>.deb into dest and returns its path: the bundle under
// /opt/<package>/, its desktop entry, icons and MIME package under /usr/share.
std::filesystem::path makeDeb(const std::filesystem::path& bundle, const std::filesystem::path& dest);

}  // namespace kestrane::bundletool
