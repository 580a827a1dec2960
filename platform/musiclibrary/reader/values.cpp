#include "values.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kestrane::musiclibrary {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view trimmed(std::string_view t) {
    while (!t.empty() && isSpace(t.front())) t.remove_prefix(1);
    while (!t.empty() && isSpace(t.back())) t.remove_suffix(1);
    return t;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// Up to 16 hexadecimal digits of UTF-16 units or UTF-8 bytes.
template <class View>
std::optional<std::uint64_t> hexDigits(View text) {
    if (text.empty() || text.size() > 16) return std::nullopt;
    std::uint64_t v = 0;
    for (const auto c : text) {
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else return std::nullopt;
        v = (v << 4) | static_cast<std::uint64_t>(digit);
    }
    return v;
}

}  // namespace

std::optional<double> parseDate(std::string_view text) {
    const std::string_view t = trimmed(text);
    std::size_t at = 0;
    // n digits at the reading position as a number; false when they are not there.
    auto digits = [&t, &at](std::size_t n, int& out) {
        if (at + n > t.size()) return false;
        out = 0;
        for (std::size_t i = at; i < at + n; ++i) {
            if (t[i] < '0' || t[i] > '9') return false;
            out = out * 10 + (t[i] - '0');
        }
        at += n;
        return true;
    };
    auto next = [&t, &at](char c) {
        if (at < t.size() && t[at] == c) {
            ++at;
            return true;
        }
        return false;
    };
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, whole = 0;
    double fraction = 0;
    if (!digits(4, year) || !next('-') || !digits(2, month) || !next('-') || !digits(2, day)) return std::nullopt;
    if (next('T')) {
        if (!digits(2, hour) || !next(':') || !digits(2, minute)) return std::nullopt;
        if (next(':')) {
            if (!digits(2, whole)) return std::nullopt;
            if (next('.')) {
                double scale = 0.1;
                const std::size_t start = at;
                for (; at < t.size() && t[at] >= '0' && t[at] <= '9'; ++at, scale /= 10) fraction += (t[at] - '0') * scale;
                if (at == start) return std::nullopt;
            }
        }
    }
    // The zone: none or Z for UTC, or a numeric offset from it.
    int offsetMinutes = 0;
    if (at < t.size() && (t[at] == '+' || t[at] == '-')) {
        const int sign = t[at++] == '-' ? -1 : 1;
        int hours = 0, minutes = 0;
        if (!digits(2, hours)) return std::nullopt;
        next(':');
        if (at < t.size() && !digits(2, minutes)) return std::nullopt;
        if (hours > 23 || minutes > 59) return std::nullopt;
        offsetMinutes = sign * (hours * 60 + minutes);
    } else {
        next('Z');
    }
    if (at != t.size()) return std::nullopt;
    static constexpr int kDaysIn[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month < 1 || month > 12 || day < 1 || day > kDaysIn[month - 1] + (month == 2 && leap ? 1 : 0) || hour > 23 ||
        minute > 59 || whole > 60) {
        return std::nullopt;  // not a day of the calendar, or not a time of day
    }
    return static_cast<double>(daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day))) * 86400.0 +
           hour * 3600.0 + minute * 60.0 + whole + fraction - offsetMinutes * 60.0;
}

std::optional<WholeNumber> parseInteger(std::string_view text) {
    const std::string_view t = trimmed(text);
    const bool negative = !t.empty() && t.front() == '-';
    const std::string_view digits = t.substr(negative || (!t.empty() && t.front() == '+') ? 1 : 0);
    if (digits.empty() || digits.size() > 20) return std::nullopt;
    std::uint64_t v = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        const std::uint64_t next = v * 10 + static_cast<std::uint64_t>(c - '0');
        if (next / 10 != v) return std::nullopt;  // beyond 2^64 - 1
        v = next;
    }
    if (negative && v > (std::uint64_t{1} << 63)) return std::nullopt;
    if (negative) return WholeNumber{~v + 1, false};
    return WholeNumber{v, v > static_cast<std::uint64_t>(INT64_MAX)};
}

std::optional<double> parseReal(std::string_view text) {
    const std::string s(trimmed(text));
    if (s.empty()) return std::nullopt;
    char* end = nullptr;
    const double d = std::strtod(s.c_str(), &end);
    if (end != s.c_str() + s.size()) return std::nullopt;  // something after the number
    return d;
}

std::optional<std::uint64_t> parseHexId(std::u16string_view text) {
    return hexDigits(text);
}

std::optional<std::uint64_t> parseHexId(std::string_view text) {
    return hexDigits(text);
}

std::string decodeBase64(std::string_view text) {
    std::string out;
    unsigned buffer = 0;
    int bits = 0;
    for (char c : text) {
        int v;
        if (c >= 'A' && c <= 'Z') v = c - 'A';
        else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
        else if (c >= '0' && c <= '9') v = c - '0' + 52;
        else if (c == '+') v = 62;
        else if (c == '/') v = 63;
        else continue;  // white space and padding
        buffer = (buffer << 6) | static_cast<unsigned>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((buffer >> bits) & 0xFF));
        }
    }
    return out;
}

std::string encodeBase64(std::string_view bytes) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t v = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16 |
                                static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8 |
                                static_cast<unsigned char>(bytes[i + 2]);
        for (int shift = 18; shift >= 0; shift -= 6) out.push_back(kAlphabet[(v >> shift) & 63]);
    }
    if (const std::size_t left = bytes.size() - i; left > 0) {
        std::uint32_t v = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (left == 2) v |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        out.push_back(kAlphabet[(v >> 18) & 63]);
        out.push_back(kAlphabet[(v >> 12) & 63]);
        out.push_back(left == 2 ? kAlphabet[(v >> 6) & 63] : '=');
        out.push_back('=');
    }
    return out;
}

std::uint64_t stableId(std::string_view kind, std::initializer_list<std::u16string_view> names) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    auto mix = [&h](std::uint64_t byte) {
        h ^= byte;
        h *= 0x100000001b3ull;
    };
    for (char c : kind) mix(static_cast<unsigned char>(c));
    for (std::u16string_view name : names) {
        mix(0xFF);
        for (char16_t c : name) {
            mix(c & 0xFF);
            mix(c >> 8);
        }
    }
    return h == 0 ? 1 : h;
}

namespace {

struct CivilTime {
    std::int64_t year;
    unsigned month, day;
    int hour, minute, second;
};

// The civil date and time of day of whole seconds since 1970 (proleptic Gregorian).
CivilTime civilTime(std::int64_t whole) {
    std::int64_t days = whole >= 0 ? whole / 86400 : -((-whole + 86399) / 86400);
    const std::int64_t rest = whole - days * 86400;
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2), m, d, static_cast<int>(rest / 3600),
            static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60)};
}

}  // namespace

std::string formatDate(double seconds) {
    const CivilTime t = civilTime(static_cast<std::int64_t>(std::floor(seconds)));
    char text[64];
    std::snprintf(text, sizeof text, "%04" PRId64 "-%02u-%02u %02d:%02d:%02d +0000", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return text;
}

std::string formatIsoDate(double seconds) {
    // Beyond what four-digit years hold there is no date to write: such text is refused by
    // parseDate like any other bad date.
    if (!(seconds > -62167219200.0 && seconds < 253402300800.0)) return "not a date";
    const double floored = std::floor(seconds);
    const CivilTime t = civilTime(static_cast<std::int64_t>(floored));
    char text[64];
    int n = std::snprintf(text, sizeof text, "%04" PRId64 "-%02u-%02uT%02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                          t.second);
    if (const double fraction = seconds - floored; fraction > 0) {
        char digits[32];
        std::snprintf(digits, sizeof digits, "%.6f", fraction);  // "0.xxxxxx", or "1.000000" when it rounds up
        if (digits[0] == '0') n += std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), "%s", digits + 1);
    }
    std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), "Z");
    return text;
}

std::string formatReal(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::string formatData(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out = "<";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (i > 0 && i % 4 == 0) out.push_back(' ');
        out.push_back(kDigits[byte >> 4]);
        out.push_back(kDigits[byte & 15]);
    }
    out.push_back('>');
    return out;
}

std::string formatInteger(WholeNumber number) {
    return number.isUnsigned ? std::to_string(number.bits) : std::to_string(number.value());
}

}  // namespace kestrane::musiclibrary
