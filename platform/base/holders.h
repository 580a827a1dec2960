// Owning holders for POSIX resources: file descriptors, open folders and memory that a C
// library hands over with malloc. Each releases in its destructor, so that no exit path of a
// component forgets a close, closedir or free. The release functions of these resources are
// called here and in the other holder files only (a test checks it).
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace kestrane {

// A file descriptor, closed when the holder goes; -1 for none.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(std::exchange(other.fd_, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // Hands the descriptor to the caller, who closes it.
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    // Closes the descriptor at once and says whether close(2) succeeded: for a file just
    // written, an error there may be the first sign that the data did not reach it (errno
    // tells why). True when there was nothing to close.
    bool closeNow() {
        const int fd = std::exchange(fd_, -1);
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_ = -1;
};

struct CloseDir {
    void operator()(DIR* dir) const {
        if (dir != nullptr) ::closedir(dir);
    }
};
// An open folder (opendir, fdopendir), closed when the holder goes.
using DirPtr = std::unique_ptr<DIR, CloseDir>;

struct FreeMalloced {
    void operator()(void* p) const { std::free(p); }
};
// Memory that a C function returns for the caller to free (realpath, strdup, ...).
template <class T>
using MallocPtr = std::unique_ptr<T, FreeMalloced>;

// The canonical absolute path of path (realpath(3)): links resolved, "." and ".." gone; none
// when it does not exist or cannot be resolved.
inline std::optional<std::string> realPath(const std::string& path) {
    const MallocPtr<char> resolved(::realpath(path.c_str(), nullptr));
    if (!resolved) return std::nullopt;
    return std::string(resolved.get());
}

}  // namespace kestrane
