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

}  // namespace kestrane::launcher
