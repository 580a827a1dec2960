#include "jar_file.h"

#include <gio/gio.h>

#include <algorithm>

#include "tool_support.h"

namespace kestrane::bundletool {

namespace {

std::uint32_t u16(const unsigned char* p) { return p[0] | (p[1] << 8); }
std::uint32_t u32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

constexpr std::uint32_t kEndSignature = 0x06054b50, kCentralSignature = 0x02014b50, kLocalSignature = 0x04034b50;
constexpr std::size_t kEndSize = 22, kCentralSize = 46, kLocalSize = 30;

}  // namespace

JarFile JarFile::open(const std::filesystem::path& path) {
    JarFile jar;
    jar.path_ = path;
    GError* rawError = nullptr;
    jar.map_.reset(g_mapped_file_new(path.c_str(), FALSE, &rawError));
    glib::ErrorPtr error(rawError);
    if (!jar.map_) throw ToolError("cannot read " + path.string() + ": " + error->message);
    const auto* data = reinterpret_cast<const unsigned char*>(g_mapped_file_get_contents(jar.map_.get()));
    const std::size_t size = g_mapped_file_get_length(jar.map_.get());
    const auto damaged = [&](const char* what) { return ToolError(path.string() + " is not a usable jar: " + what); };

    // The end record sits in the last 22 bytes plus a comment of at most 65535.
    if (size < kEndSize) throw damaged("too short for a zip archive");
    std::size_t end = size - kEndSize;
    const std::size_t lowest = size > kEndSize + 0xffff ? size - kEndSize - 0xffff : 0;
    while (u32(data + end) != kEndSignature) {
        if (end == lowest) throw damaged("no end of central directory");
        --end;
    }
    const std::uint32_t count = u16(data + end + 10), dirSize = u32(data + end + 12), dirOffset = u32(data + end + 16);
    if (count == 0xffff || dirOffset == 0xffffffff) throw damaged("a zip64 archive");
    if (dirOffset > end || dirSize > end - dirOffset) throw damaged("its central directory lies outside the file");

    std::size_t at = dirOffset;
    const std::size_t dirEnd = dirOffset + dirSize;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (dirEnd - at < kCentralSize || u32(data + at) != kCentralSignature) throw damaged("a damaged central directory");
        const std::size_t nameLength = u16(data + at + 28), extra = u16(data + at + 30), comment = u16(data + at + 32);
        if (dirEnd - at - kCentralSize < nameLength + extra + comment) throw damaged("a damaged central directory");
        Entry entry;
        entry.method = static_cast<std::uint16_t>(u16(data + at + 10));
        entry.compressedSize = u32(data + at + 20);
        entry.localHeader = u32(data + at + 42);
        entry.name.assign(reinterpret_cast<const char*>(data + at + kCentralSize), nameLength);
        jar.entries_.push_back(std::move(entry));
        at += kCentralSize + nameLength + extra + comment;
    }
    return jar;
}

const JarFile::Entry* JarFile::find(std::string_view name) const {
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.name == name; });
    return it == entries_.end() ? nullptr : &*it;
}

std::string JarFile::read(const Entry& entry, std::size_t maxBytes) const {
    const auto* data = reinterpret_cast<const unsigned char*>(g_mapped_file_get_contents(map_.get()));
    const std::size_t size = g_mapped_file_get_length(map_.get());
    const auto damaged = [&] { return ToolError(path_.string() + ": damaged entry " + entry.name); };
    const std::size_t local = entry.localHeader;
    if (local > size || size - local < kLocalSize || u32(data + local) != kLocalSignature) throw damaged();
    const std::size_t start = local + kLocalSize + u16(data + local + 26) + u16(data + local + 28);
    if (start > size || size - start < entry.compressedSize) throw damaged();
    const unsigned char* in = data + start;
    if (entry.method == 0) return std::string(reinterpret_cast<const char*>(in), std::min<std::size_t>(entry.compressedSize, maxBytes));
    if (entry.method != 8) throw ToolError(path_.string() + ": entry " + entry.name + " uses an unknown compression");

    glib::ObjectPtr<GZlibDecompressor> inflater(g_zlib_decompressor_new(G_ZLIB_COMPRESSOR_FORMAT_RAW));
    std::string out;
    std::size_t consumed = 0;
    char buffer[4096];
    while (out.size() < maxBytes) {
        gsize read = 0, written = 0;
        GError* rawError = nullptr;
        const GConverterResult result = g_converter_convert(
            G_CONVERTER(inflater.get()), in + consumed, entry.compressedSize - consumed, buffer,
            std::min(sizeof buffer, maxBytes - out.size()), G_CONVERTER_INPUT_AT_END, &read, &written, &rawError);
        glib::ErrorPtr error(rawError);
        if (result == G_CONVERTER_ERROR) throw damaged();
        consumed += read;
        out.append(buffer, written);
        if (result == G_CONVERTER_FINISHED || (read == 0 && written == 0)) break;
    }
    return out;
}

std::optional<int> classFileJavaVersion(std::string_view firstBytes) {
    if (firstBytes.size() < 8 || firstBytes.substr(0, 4) != "\xca\xfe\xba\xbe") return std::nullopt;
    const int major = (static_cast<unsigned char>(firstBytes[6]) << 8) | static_cast<unsigned char>(firstBytes[7]);
    if (major < 45) return std::nullopt;
    return major - 44;
}

std::optional<std::string> manifestMainClass(std::string_view manifest) {
    // Lines end in CR LF, LF or CR; a line that starts with a space continues the one before;
    // the main section ends at the first empty line.
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < manifest.size()) {
        std::size_t end = manifest.find_first_of("\r\n", at);
        if (end == std::string_view::npos) end = manifest.size();
        const std::string_view line = manifest.substr(at, end - at);
        at = end + (manifest.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        if (line.empty()) break;
        if (line.front() == ' ' && !lines.empty()) lines.back() += line.substr(1);
        else lines.emplace_back(line);
    }
    for (const std::string& line : lines) {
        if (line.size() > 11 && g_ascii_strncasecmp(line.c_str(), "Main-Class:", 11) == 0) {
            std::string value = line.substr(11);
            value.erase(0, value.find_first_not_of(' '));
            while (!value.empty() && value.back() == ' ') value.pop_back();
            if (!value.empty()) return value;
        }
    }
    return std::nullopt;
}

}  // namespace kestrane::bundletool
