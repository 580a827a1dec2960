// Reading and writing the library file's values, on their own.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "values.h"

namespace ml = kestrane::musiclibrary;

TEST(Values, DatesInEveryFormExportersWriteAndOnlyDaysTheCalendarHas) {
    EXPECT_EQ(ml::parseDate("1970-01-01T00:00:00Z"), 0.0);
    EXPECT_EQ(ml::parseDate("2020-02-29T12:34:56Z"), 1582979696.0);  // a leap day
    EXPECT_EQ(ml::parseDate(" \n1969-12-31T23:59:59Z\t"), -1.0);     // white space around
    EXPECT_EQ(ml::parseDate("2001-01-01T00:00:00.25Z"), 978307200.25);
    EXPECT_EQ(ml::parseDate("0001-01-01T00:00:00Z"), -62135596800.0);
    EXPECT_EQ(ml::parseDate("2001-01-01T00:00:00"), 978307200.0);         // without the Z
    EXPECT_EQ(ml::parseDate("2001-01-01T01:00:00+01:00"), 978307200.0);   // an offset from UTC
    EXPECT_EQ(ml::parseDate("2000-12-31T19:00:00-0500"), 978307200.0);
    EXPECT_EQ(ml::parseDate("2001-01-01T02:00+02"), 978307200.0);         // no seconds, hours of offset
    EXPECT_EQ(ml::parseDate("2001-01-01"), 978307200.0);                   // the day only
    EXPECT_EQ(ml::parseDate("2016-12-31T23:59:60Z"), 1483228800.0);       // a leap second
    for (const char* bad : {"", "yesterday", "2001-13-01T00:00:00Z", "2001-00-10T00:00:00Z", "2001-01-32T00:00:00Z",
                            "2015-02-30T00:00:00Z", "2019-02-29", "1900-02-29", "2001-01-01T24:00:00Z",
                            "2001-01-01T00:60:00Z", "2001-01-01T00:00:61Z", "2001-01-01T00:00:00+25:00",
                            "2001-01-01T00:00:00.Z", "2001-01-01T00:00:00Zjunk", "01-01-2001", "2001-1-1"}) {
        EXPECT_FALSE(ml::parseDate(bad).has_value()) << bad;
    }
    EXPECT_TRUE(ml::parseDate("2000-02-29").has_value());  // divisible by 400: a leap year
}

TEST(Values, IntegersUpToTwoToTheSixtyFourKeepTheirValue) {
    using W = ml::WholeNumber;
    EXPECT_EQ(ml::parseInteger("42"), (W{42, false}));
    EXPECT_EQ(ml::parseInteger(" -20 "), (W{static_cast<std::uint64_t>(-20), false}));
    EXPECT_EQ(ml::parseInteger("+7"), (W{7, false}));
    EXPECT_EQ(ml::parseInteger("-9223372036854775808")->value(), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(ml::parseInteger("9223372036854775807"), (W{9223372036854775807u, false}));
    EXPECT_EQ(ml::parseInteger("9223372036854775808"), (W{9223372036854775808u, true}));  // 2^63: unsigned
    EXPECT_EQ(ml::parseInteger("18446744073709551615"), (W{18446744073709551615u, true}));
    EXPECT_EQ(ml::formatInteger(*ml::parseInteger("18446744073709551615")), "18446744073709551615");
    EXPECT_EQ(ml::formatInteger(*ml::parseInteger("-5")), "-5");
    for (const char* bad : {"", "-", "12a", "1 2", "18446744073709551616", "-9223372036854775809", "0x10", "1.5"}) {
        EXPECT_FALSE(ml::parseInteger(bad).has_value()) << bad;
    }
}

TEST(Values, RealsHexIdsAndBase64) {
    EXPECT_EQ(ml::parseReal("1.5"), 1.5);
    EXPECT_EQ(ml::parseReal(" -2e3\n"), -2000.0);
    EXPECT_FALSE(ml::parseReal("x").has_value());
    EXPECT_FALSE(ml::parseReal("1.5 kg").has_value());
    EXPECT_FALSE(ml::parseReal("").has_value());

    EXPECT_EQ(ml::parseHexId(u"FFFFFFFFFFFFFFFF"), 0xFFFFFFFFFFFFFFFFull);
    EXPECT_EQ(ml::parseHexId(u"00000000000000aB"), 0xABu);
    EXPECT_FALSE(ml::parseHexId(u"").has_value());
    EXPECT_FALSE(ml::parseHexId(u"10000000000000000").has_value());  // 17 digits
    EXPECT_FALSE(ml::parseHexId(u"not hex").has_value());

    EXPECT_EQ(ml::decodeBase64("AAEC/w=="), std::string("\x00\x01\x02\xff", 4));
    EXPECT_EQ(ml::decodeBase64(" SGVs\nbG8= "), "Hello");
    EXPECT_EQ(ml::decodeBase64(""), "");
    // Every length modulo three pads as it should and reads back.
    EXPECT_EQ(ml::encodeBase64(std::string("\x00\x01\x02\xff", 4)), "AAEC/w==");
    EXPECT_EQ(ml::encodeBase64("Hello"), "SGVsbG8=");
    EXPECT_EQ(ml::encodeBase64("Hel"), "SGVs");
    std::string bytes;
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(ml::decodeBase64(ml::encodeBase64(bytes)), bytes);
        bytes.push_back(static_cast<char>(i * 37));
    }
}

TEST(Values, StableIdsDependOnKindAndEveryNameApart) {
    const auto a = ml::stableId("album", {u"X", u"A"});
    EXPECT_EQ(a, ml::stableId("album", {u"X", u"A"}));
    EXPECT_NE(a, ml::stableId("artist", {u"X", u"A"}));
    EXPECT_NE(a, ml::stableId("album", {u"A", u"X"}));
    EXPECT_NE(ml::stableId("album", {u"XA", u""}), ml::stableId("album", {u"X", u"A"}));  // names kept apart
    EXPECT_NE(ml::stableId("artist", {u"\u00C4"}), ml::stableId("artist", {u"\u01C4"}));  // both bytes count
    EXPECT_NE(a, 0u);
}

TEST(Values, TextFormsOfDatesRealsAndData) {
    EXPECT_EQ(ml::formatDate(0), "1970-01-01 00:00:00 +0000");
    EXPECT_EQ(ml::formatDate(-1), "1969-12-31 23:59:59 +0000");
    EXPECT_EQ(ml::formatDate(-0.5), "1969-12-31 23:59:59 +0000");  // toward the past
    EXPECT_EQ(ml::formatDate(1582979696.9), "2020-02-29 12:34:56 +0000");
    EXPECT_EQ(ml::formatDate(-62135596800.0), "0001-01-01 00:00:00 +0000");
    // The binary format's dates pass through this form: it reads back to the same second, and
    // to the microsecond with a fraction.
    EXPECT_EQ(ml::formatIsoDate(0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(ml::formatIsoDate(-0.25), "1969-12-31T23:59:59.750000Z");
    EXPECT_EQ(ml::parseDate(ml::formatIsoDate(1582979696.5)), 1582979696.5);
    EXPECT_EQ(ml::parseDate(ml::formatIsoDate(-62135596800.0)), -62135596800.0);
    EXPECT_FALSE(ml::parseDate(ml::formatIsoDate(1e300)).has_value());  // beyond year 9999: refused
    EXPECT_FALSE(ml::parseDate(ml::formatIsoDate(std::numeric_limits<double>::quiet_NaN())).has_value());
    EXPECT_EQ(ml::formatReal(1.5), "1.5");
    EXPECT_EQ(ml::formatReal(0.1), "0.10000000000000001");
    EXPECT_EQ(ml::formatData(std::string("\x00\x01\x02\xff\x10", 5)), "<000102ff 10>");
    EXPECT_EQ(ml::formatData(""), "<>");
}
