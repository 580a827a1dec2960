#include "loader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "catalogue_builder.h"
#include "catalogue_linker.h"
#include "holders.h"
#include "plist_reader.h"

namespace kestrane::musiclibrary {

namespace {

// The identity of a file about to be read, when it can stand for the file's contents: a file
// modified within the last seconds may be rewritten again without its size or modification time
// changing (timestamps are only as fine as the file system keeps them), so it gets none and is
// read again every time.
std::optional<FileIdentity> trustedIdentity(const struct stat& status) {
    constexpr std::int64_t kGranularityNs = 2'000'000'000;
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    const FileIdentity identity = identityOf(status);
    const std::int64_t nowNs = static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
    if (identity.modifiedNs > nowNs - kGranularityNs) return std::nullopt;
    return identity;
}

}  // namespace

Expected<SnapshotRef> parseSnapshot(std::string_view bytes) {
    Error failure;
    BuildResult result = buildCatalogue("The library data", "", std::nullopt, [&](PlistSink& sink) {
        const Expected<void> scanned = scanPlist(bytes, sink);
        if (!scanned) failure = scanned.error();
        return static_cast<bool>(scanned);
    });
    if (!result.ok) return Error(LibraryError::notALibrary, failure.message + result.where);
    return linkCatalogue(std::move(result.built));
}

Expected<SnapshotRef> buildSnapshot(const std::string& source, const std::string& path,
                                    const std::function<bool(CatalogueSink&)>& produce) {
    BuildResult result = buildCatalogue(source, path, std::nullopt, produce);
    if (!result.ok) {
        return Error(LibraryError::notALibrary, source + " could not be catalogued: " + result.reason + result.where + ".");
    }
    return linkCatalogue(std::move(result.built));
}

Expected<SnapshotRef> loadSnapshot(const std::string& path, const SnapshotPreparation& prepare) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return Error(LibraryError::unreadable, "Cannot read the music library file '" + path + "': " + std::strerror(errno) + ".");
    struct stat st {};
    const bool known = fstat(fd.get(), &st) == 0;
    if (known && S_ISDIR(st.st_mode)) {
        return Error(LibraryError::unreadable, "Cannot read the music library file '" + path + "': it is a folder.");
    }
    const ByteSource source = [&fd](char* buffer, std::size_t capacity) -> std::ptrdiff_t {
        for (;;) {
            const ssize_t n = ::read(fd.get(), buffer, capacity);
            if (n < 0 && errno == EINTR) continue;
            return n;
        }
    };
    const std::string name = "The music library file '" + path + "'";
    Error failure;
    BuildResult result = buildCatalogue(name, path, known ? trustedIdentity(st) : std::nullopt, [&](PlistSink& sink) {
        const Expected<void> scanned = scanPlist(source, sink);
        if (!scanned) failure = scanned.error();
        return static_cast<bool>(scanned);
    });
    if (!result.ok) {
        return Error(LibraryError::notALibrary, name + " is not a valid library: " + failure.message + result.where + ".");
    }
    if (prepare) prepare(*result.built.snapshot, path);
    return linkCatalogue(std::move(result.built));
}

}  // namespace kestrane::musiclibrary
