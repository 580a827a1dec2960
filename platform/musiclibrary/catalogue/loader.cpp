#include "loader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>
#include <system_error>
#include <thread>

#include "catalogue_builder.h"
#include "catalogue_linker.h"
#include "holders.h"
#include "plist_reader.h"
#include "xml_plist.h"

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

std::atomic<std::size_t> twoReaderLoads{0};

// Reads whatever the file holds from offset on, for as long as the source is called.
ByteSource bytesFrom(int fd, std::size_t offset) {
    return [fd, offset](char* buffer, std::size_t capacity) mutable -> std::ptrdiff_t {
        for (;;) {
            const ssize_t n = ::pread(fd, buffer, capacity, static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR) continue;
            if (n > 0) offset += static_cast<std::size_t>(n);
            return n;
        }
    };
}

// A large library file is read by two threads at once: this one reads the second half, from a
// track near the middle to the end, while the loading thread reads up to it and then takes
// what it built (CatalogueSink::joinTail). Half of what a load costs is reading XML, the rest
// building on what was read: both halves of both go to the two processors. Where the loading
// thread finds the middle somewhere else than between two tracks, it stops this one and reads
// on alone.
class TailReader {
public:
    // Starts reading the tail of the file fd of size bytes; the split to offer the loading
    // thread's reader, or none where the file is smaller than minimumSize, has no place to
    // split, or no thread can be had.
    XmlSplit* start(int fd, std::int64_t size, std::int64_t minimumSize) {
        if (size < minimumSize) return nullptr;
        // Near the middle, the start of a track.
        std::string window(256 << 10, '\0');
        const auto middle = static_cast<std::size_t>(size / 2);
        const ssize_t got = ::pread(fd, window.data(), window.size(), static_cast<off_t>(middle));
        if (got <= 0) return nullptr;
        window.resize(static_cast<std::size_t>(got));
        const std::optional<std::size_t> at = xmlSplitCandidate(window);
        if (!at) return nullptr;
        split_.offset = middle + *at;
        try {
            thread_ = std::thread([this, source = bytesFrom(fd, split_.offset)] {
                // Whatever stops this thread (memory running out, say) leaves the tail to the
                // loading thread, which meets it in its own way.
                try {
                    read_ = static_cast<bool>(scanXmlPlistTail(source, tail_.sink()));
                } catch (...) {
                    read_ = false;
                }
            });
        } catch (const std::system_error&) {
            return nullptr;
        }
        split_.abandon = [this] { stop(); };
        return &split_;
    }

    // The split's join, for the builder that the loading thread feeds.
    void joinWith(CatalogueSink& sink) {
        split_.join = [this, &sink] {
            if (sink.joinTail(tail_, [this] { return finish(); })) {
                twoReaderLoads.fetch_add(1, std::memory_order_relaxed);
                return true;
            }
            stop();
            return false;
        };
    }

    ~TailReader() { stop(); }

private:
    bool finish() {
        if (thread_.joinable()) thread_.join();
        return read_;
    }
    void stop() {
        cancelled_.store(true, std::memory_order_relaxed);
        if (thread_.joinable()) thread_.join();
    }

    std::atomic<bool> cancelled_{false};
    CatalogueTail tail_{cancelled_};
    XmlSplit split_;
    std::thread thread_;
    bool read_ = false;
};

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

std::size_t loadsReadInTwo() {
    return twoReaderLoads.load(std::memory_order_relaxed);
}

Expected<SnapshotRef> loadSnapshot(const std::string& path, const SnapshotPreparation& prepare, std::int64_t twoReadersFrom) {
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
    TailReader tail;
    XmlSplit* split = known && S_ISREG(st.st_mode) ? tail.start(fd.get(), st.st_size, twoReadersFrom) : nullptr;
    BuildResult result = buildCatalogue(name, path, known ? trustedIdentity(st) : std::nullopt, [&](CatalogueSink& sink) {
        if (split != nullptr) tail.joinWith(sink);
        const Expected<void> scanned = scanPlist(source, sink, split);
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
