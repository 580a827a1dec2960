// The entries of a jar (a zip archive) read through its central directory, with zlib's raw
// inflate from GIO: enough to find classes, read a class file's version and the manifest.
#pragma once

#include <glib.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "glib_ptr.h"

namespace kestrane::bundletool {

class JarFile {
public:
    // The jar at path, mapped read-only; a ToolError names a file that is not a readable zip
    // archive (zip64 archives included: a jar of more than 65535 entries or 4 GiB is refused).
    static JarFile open(const std::filesystem::path& path);

    struct Entry {
        std::string name;
        std::uint16_t method = 0;  // 0 stored, 8 deflated
        std::uint32_t compressedSize = 0;
        std::uint32_t localHeader = 0;
    };
    const std::vector<Entry>& entries() const { return entries_; }
    const Entry* find(std::string_view name) const;
    // At most maxBytes of the entry's content from its start; a ToolError when the entry is
    // damaged or stored in a way other than the two that jars use.
    std::string read(const Entry& entry, std::size_t maxBytes) const;

private:
    std::filesystem::path path_;
    glib::Owned<GMappedFile, g_mapped_file_unref> map_;
    std::vector<Entry> entries_;
};

// The Java feature version a class file needs (its major version less 44; 52 is Java 8), or
// none for bytes that do not start as a class file does.
std::optional<int> classFileJavaVersion(std::string_view firstBytes);
// The Main-Class attribute of a manifest's main section.
std::optional<std::string> manifestMainClass(std::string_view manifest);

}  // namespace kestrane::bundletool
