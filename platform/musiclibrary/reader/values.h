// The values of a library file, read from their XML text and written as the text that
// _getProperty shows: dates, integers, reals, data, persistent IDs, and the stable IDs the
// catalogue gives albums and artists. Pure functions, tested on their own.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace kestrane::musiclibrary {

// A date as seconds since 1970-01-01 00:00:00 UTC: "YYYY-MM-DD", optionally followed by
// "THH:MM", ":SS" and a fraction of the seconds, then optionally "Z" or a numeric offset from
// UTC ("+02:00", "-0500", "+01"); white space around is ignored. None for any other form, or
// for a day the calendar does not have (30 February) or a time of day out of range.
std::optional<double> parseDate(std::string_view text);

// A whole number as the file writes it: its 64 bits, and whether it is an unsigned value of
// 2^63 or more (whose bits alone would read as a negative number).
struct WholeNumber {
    std::uint64_t bits = 0;
    bool isUnsigned = false;
    std::int64_t value() const { return static_cast<std::int64_t>(bits); }  // when !isUnsigned
    bool operator==(const WholeNumber&) const = default;
};

// A decimal integer, optionally signed, white space around ignored, from -2^63 to 2^64 - 1;
// none for anything else.
std::optional<WholeNumber> parseInteger(std::string_view text);

// A real as strtod reads it, white space around ignored; none when the text is not one number.
std::optional<double> parseReal(std::string_view text);

// Up to 16 hexadecimal digits (either case); none for anything else.
std::optional<std::uint64_t> parseHexId(std::u16string_view text);
// The same of UTF-8 text (as a file has it), without converting it first: a character
// outside ASCII is no digit in either form.
std::optional<std::uint64_t> parseHexId(std::string_view text);

// The bytes of base64 text; characters outside the alphabet (white space, padding) are
// passed over.
std::string decodeBase64(std::string_view text);

// Bytes as base64 text with padding, on one line.
std::string encodeBase64(std::string_view bytes);

// A stable, non-zero 64-bit ID for an object of a kind ("album", "artist") from the names that
// identify it: FNV-1a over the kind and each name's UTF-16 units, names kept apart.
std::uint64_t stableId(std::string_view kind, std::initializer_list<std::u16string_view> names);

// Seconds since 1970 as "YYYY-MM-DD HH:MM:SS +0000" (the fraction dropped toward the past).
std::string formatDate(double seconds);

// Seconds since 1970 as "YYYY-MM-DDTHH:MM:SSZ", with the fraction of a second (to the
// microsecond) when there is one; text that parseDate refuses beyond years 0 to 9999.
std::string formatIsoDate(double seconds);

// %.17g, which reads back as the same double.
std::string formatReal(double value);

// Bytes as "<0001 02ff>": lower-case hex, a space after every four bytes.
std::string formatData(std::string_view bytes);

// The exact decimal of a whole number.
std::string formatInteger(WholeNumber number);

}  // namespace kestrane::musiclibrary
