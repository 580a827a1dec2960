// Small helpers for tests that touch the file system or standard error.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "holders.h"

namespace kestrane::test {

// A new, empty folder under the temporary folder (or parent), removed with everything in it at the end.
class TempFolder {
public:
    explicit TempFolder(const std::string& prefix, const std::filesystem::path& parent = std::filesystem::temp_directory_path()) {
        std::string pattern = (parent / (prefix + "XXXXXX")).string();
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// The whole content of a file ("" when it cannot be read).
// Writes text to path, making its folders; executable: only the owner may read, write and run it.
inline void writeFile(const std::filesystem::path& path, const std::string& text, bool executable = false) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
    if (executable) std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// What body writes to the process's standard error (file descriptor 2).
inline std::string captureStderr(const std::function<void()>& body) {
    std::fflush(stderr);
    char path[] = "/tmp/stderrXXXXXX";
    {
        const UniqueFd file(mkstemp(path));
        const UniqueFd saved(dup(STDERR_FILENO));
        dup2(file.get(), STDERR_FILENO);
        body();
        std::fflush(stderr);
        dup2(saved.get(), STDERR_FILENO);
    }
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    unlink(path);
    return text;
}

}  // namespace kestrane::test
