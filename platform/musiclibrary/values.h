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

// "YYYY-MM-DDTHH:MM:SSZ" (the seconds may carry a fraction; white space around is ignored)
// as seconds since 1970-01-01 00:00:00 UTC; none for any other form or a field out of range.
std::optional<double> parseDate(std::string_view text);

// A decimal integer, optionally signed, white space around ignored. Unsigned values up to
// 2^64 - 1 keep their bits (so they read as negative numbers); none for anything else.
std::optional<std::int64_t> parseInteger(std::string_view text);

// A real as strtod reads it; none when no number starts the text.
std::optional<double> parseReal(std::string_view text);

// Up to 16 hexadecimal digits (either case); none for anything else.
std::optional<std::uint64_t> parseHexId(std::u16string_view text);

// The bytes of base64 text; characters outside the alphabet (white space, padding) are
// passed over.
std::string decodeBase64(std::string_view text);

// A stable, non-zero 64-bit ID for an object of a kind ("album", "artist") from the names that
// identify it: FNV-1a over the kind and each name's UTF-16 units, names kept apart.
std::uint64_t stableId(std::string_view kind, std::initializer_list<std::u16string_view> names);

// Seconds since 1970 as "YYYY-MM-DD HH:MM:SS +0000" (the fraction dropped toward the past).
std::u16string formatDate(double seconds);

// %.17g, which reads back as the same double.
std::u16string formatReal(double value);

// Bytes as "<0001 02ff>": lower-case hex, a space after every four bytes.
std::u16string formatData(std::string_view bytes);

}  // namespace kestrane::musiclibrary
