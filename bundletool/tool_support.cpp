#include "tool_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "glib_ptr.h"
#include "holders.h"

namespace kestrane::bundletool {

namespace fs = std::filesystem;

ProgramResult runProgram(const std::vector<std::string>& argv, const fs::path& workingDir) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    gchar* out = nullptr;
    gchar* err = nullptr;
    gint wait = 0;
    GError* rawError = nullptr;
    const bool started = g_spawn_sync(workingDir.empty() ? nullptr : workingDir.c_str(), args.data(), nullptr,
                                      G_SPAWN_SEARCH_PATH, nullptr, nullptr, &out, &err, &wait, &rawError);
    glib::CharPtr outHolder(out), errHolder(err);
    glib::ErrorPtr error(rawError);
    if (!started) throw ToolError("cannot run " + argv.front() + ": " + error->message);
    ProgramResult result;
    result.out = out != nullptr ? out : "";
    result.err = err != nullptr ? err : "";
    result.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
    return result;
}

std::string runChecked(const std::vector<std::string>& argv, const fs::path& workingDir) {
    ProgramResult result = runProgram(argv, workingDir);
    if (result.status == 0) return result.out;
    std::string said = result.err.empty() ? result.out : result.err;
    while (!said.empty() && (said.back() == '\n' || said.back() == ' ')) said.pop_back();
    throw ToolError(fs::path(argv.front()).filename().string() + " failed (status " + std::to_string(result.status) +
                    ")" + (said.empty() ? "" : ": " + said));
}

std::optional<std::string> findProgram(const std::string& name) {
    glib::CharPtr found(g_find_program_in_path(name.c_str()));
    if (!found) return std::nullopt;
    return std::string(found.get());
}

ScratchFolder::ScratchFolder(const fs::path& parent, const std::string& prefix) {
    std::string pattern = (parent / (prefix + "XXXXXX")).string();
    if (g_mkdtemp(pattern.data()) == nullptr)
        throw ToolError("cannot make a folder in " + parent.string() + ": " + std::strerror(errno));
    path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
    if (path_.empty()) return;
    std::error_code ignored;
    // Folders that jlink or dpkg made read-only would stop the removal half way.
    for (auto it = fs::recursive_directory_iterator(path_, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(path_, ignored);
}

std::string readFile(const fs::path& path, std::size_t maxBytes) {
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!fd || fstat(fd.get(), &st) != 0) throw ToolError("cannot read " + path.string() + ": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) throw ToolError(path.string() + " is not a file");
    if (static_cast<std::size_t>(st.st_size) > maxBytes)
        throw ToolError(path.string() + " is larger than " + std::to_string(maxBytes) + " bytes");
    std::string text(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = read(fd.get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    text.resize(done);
    return text;
}

void writeFile(const fs::path& path, std::string_view text, mode_t mode) {
    std::error_code ignored;
    fs::remove(path, ignored);
    UniqueFd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode));
    if (!fd) throw ToolError("cannot write " + path.string() + ": " + std::strerror(errno));
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd.get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw ToolError("cannot write " + path.string() + ": " + std::strerror(errno));
        done += static_cast<std::size_t>(n);
    }
    fchmod(fd.get(), mode);  // whatever the umask took away
}

void copyTree(const fs::path& from, const fs::path& to) {
    std::error_code error;
    fs::create_directories(to.parent_path(), error);
    if (!error) fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
    if (error) throw ToolError("cannot copy " + from.string() + " to " + to.string() + ": " + error.message());
}

std::string xmlEscape(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string execArgument(std::string_view argument) {
    // Reserved characters of an Exec argument send it inside double quotes, where ", `, $ and
    // \ take a backslash; the key's string escape then doubles every backslash.
    const bool plain = argument.find_first_of(" \t\n\"'\\><~|&;$*?#()`%=") == std::string_view::npos;
    std::string quoted;
    if (plain) {
        quoted = argument;
    } else {
        quoted = "\"";
        for (char c : argument) {
            if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
            quoted += c;
        }
        quoted += '"';
    }
    std::string out;
    for (char c : quoted) {
        if (c == '\\') out += '\\';
        if (c == '%') out += '%';  // a literal % is written %% in Exec
        out += c;
    }
    return out;
}

std::string desktopValue(std::string_view value) {
    std::string out;
    for (char c : value) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default: out += c;
        }
    }
    return out;
}

bool isMimeType(std::string_view text) {
    auto token = [](std::string_view part) {
        if (part.empty()) return false;
        for (unsigned char c : part) {
            if (c <= ' ' || c >= 127 || std::strchr("()<>@,;:\\\"/[]?=", c) != nullptr) return false;
        }
        return true;
    };
    const std::size_t slash = text.find('/');
    return slash != std::string_view::npos && token(text.substr(0, slash)) && token(text.substr(slash + 1));
}

FileType parseFileType(std::string_view text) {
    FileType type;
    const std::size_t colon = text.find(':');
    type.mime = std::string(text.substr(0, colon));
    if (!isMimeType(type.mime)) throw ToolError("file type '" + std::string(text) + "' does not start with a MIME type (type/subtype)");
    if (colon == std::string_view::npos) return type;
    std::string_view rest = text.substr(colon + 1);
    while (true) {
        const std::size_t comma = rest.find(',');
        const std::string_view glob = rest.substr(0, comma);
        if (glob.empty() || glob.find_first_of("/\n") != std::string_view::npos)
            throw ToolError("file type '" + std::string(text) + "' has an empty or unusable glob");
        type.globs.emplace_back(glob);
        if (comma == std::string_view::npos) break;
        rest = rest.substr(comma + 1);
    }
    return type;
}

}  // namespace kestrane::bundletool
