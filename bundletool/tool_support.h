// What the commands of kestrane-bundle share: failures that end a command with one message,
// running the desktop's and the JDK's programs, files written whole, and the quoting rules of
// the formats the tool writes.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kestrane::bundletool {

// A command stops at its first failure and prints its message: a command-line tool has no
// caller that could go on, so one exception type carries every failure to main.
struct ToolError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct ProgramResult {
    int status = -1;  // exit status, or -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs argv (argv[0] is found on PATH when it holds no slash) with an empty standard input
// and waits for it. Throws ToolError when it cannot be started.
ProgramResult runProgram(const std::vector<std::string>& argv, const std::filesystem::path& workingDir = {});
// The same, and a ToolError that names the program and quotes what it printed when it fails.
std::string runChecked(const std::vector<std::string>& argv, const std::filesystem::path& workingDir = {});
// The path of an executable called name on PATH, or none.
std::optional<std::string> findProgram(const std::string& name);

// A folder for a result in progress, made beside where the result goes so that the result
// appears by a rename; removed with everything in it unless released.
class ScratchFolder {
public:
    // A new folder in parent whose name starts with prefix.
    ScratchFolder(const std::filesystem::path& parent, const std::string& prefix);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }
    void release() { path_.clear(); }

private:
    std::filesystem::path path_;
};

// The whole file, or a ToolError when it cannot be read or is larger than maxBytes.
std::string readFile(const std::filesystem::path& path, std::size_t maxBytes);
// Writes text as the whole file (made or replaced) with the given mode.
void writeFile(const std::filesystem::path& path, std::string_view text, mode_t mode = 0644);
// Copies a folder tree; files keep their modes, symbolic links stay links.
void copyTree(const std::filesystem::path& from, const std::filesystem::path& to);

// Text for an XML element or attribute value.
std::string xmlEscape(std::string_view text);
// One argument of a desktop entry's Exec key, quoted when it holds anything but plain
// characters (the entry's own escape of backslashes included).
std::string execArgument(std::string_view argument);
// A value of a desktop entry's string key: line breaks and backslashes escaped.
std::string desktopValue(std::string_view value);

// A MIME type as type/subtype, with the characters RFC 2045 allows in each half.
bool isMimeType(std::string_view text);
// A file type of the command line, MIME[:GLOB,...], as the bundle keeps it too.
struct FileType {
    std::string mime;
    std::vector<std::string> globs;
};
// The file type of text; a ToolError names what is wrong with it.
FileType parseFileType(std::string_view text);

}  // namespace kestrane::bundletool
