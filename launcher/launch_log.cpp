#include "launch_log.h"

#include <cstdio>
#include <cstdlib>

namespace kestrane::launcher {

std::string formatMessage(std::string_view format, const std::vector<LogArg>& args) {
    std::string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%' || i + 1 >= format.size()) {
            out.push_back(format[i]);
            continue;
        }
        std::size_t j = i + 1;
        if (format[j] == '%') {
            out.push_back('%');
            i = j;
            continue;
        }
        // Length modifiers of integer conversions carry no meaning here.
        while (j < format.size() && (format[j] == 'l' || format[j] == 'z')) ++j;
        if (j < format.size() && (format[j] == '@' || format[j] == 'd' || format[j] == 'i' || format[j] == 's' ||
                                  format[j] == 'u')) {
            out += next < args.size() ? args[next].text() : std::string("(null)");
            ++next;
            i = j;
            continue;
        }
        out.push_back(format[i]);
    }
    return out;
}

void NSPrint(const std::string& text) {
    std::printf("%s\n", text.c_str());
}

std::string convertRelativeFilePath(const std::string& path) {
    std::string expanded = path;
    if (!expanded.empty() && expanded[0] == '~' && (expanded.size() == 1 || expanded[1] == '/')) {
        const char* home = std::getenv("HOME");
        expanded = std::string(home != nullptr ? home : "") + expanded.substr(1);
    }
    const bool absolute = !expanded.empty() && expanded[0] == '/';
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= expanded.size()) {
        std::size_t end = expanded.find('/', start);
        if (end == std::string::npos) end = expanded.size();
        std::string part = expanded.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == ".." && absolute) {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string out = absolute ? "/" : "";
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) out += "/";
        out += parts[i];
    }
    return out.empty() ? expanded : out;
}

}  // namespace kestrane::launcher
