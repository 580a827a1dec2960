// The launcher's pure rules: version numbers, truth values, the log format, paths, the
// strings-file parser, memory percentages and process serial numbers.
#include <gtest/gtest.h>

#include "arguments.h"
#include "bundle.h"
#include "launch_log.h"
#include "runtime.h"
#include "strings_table.h"

using namespace kestrane::launcher;

TEST(Versions, MajorVersionOfEveryForm) {
    EXPECT_EQ(extractMajorVersion(std::string("1.8")), 8);
    EXPECT_EQ(extractMajorVersion(std::string("1.8+")), 8);
    EXPECT_EQ(extractMajorVersion(std::string("1.8*")), 8);
    EXPECT_EQ(extractMajorVersion(std::string("11+")), 11);
    EXPECT_EQ(extractMajorVersion(std::string("17.0.2")), 17);
    EXPECT_EQ(extractMajorVersion(std::string("1.8.0_202")), 8);
    EXPECT_EQ(extractMajorVersion(std::string("9")), 9);
    EXPECT_EQ(extractMajorVersion(std::string("1.6")), 6);
    EXPECT_EQ(extractMajorVersion(std::string("")), 0);
    EXPECT_EQ(extractMajorVersion(std::nullopt), 0);
    EXPECT_EQ(extractMajorVersion(std::string("jdk-21.0.1+12")), 21);
    EXPECT_EQ(extractMajorVersion(std::string("abc")), 0);
}

TEST(Settings, StringsReadAsTruthValues) {
    for (const char* yes : {"YES", "yes", "true", "T", "1", "  +0009", "-1", "0y"}) EXPECT_TRUE(stringIsTrue(yes)) << yes;
    for (const char* no : {"", "NO", "false", "0", "000", " ", "-", "x1", "N"}) EXPECT_FALSE(stringIsTrue(no)) << no;
}

TEST(Log, FormatsValuesAndKeepsUnknownConversions) {
    EXPECT_EQ(formatMessage("Loading Application '%@'", {std::optional<std::string>()}), "Loading Application '(null)'");
    EXPECT_EQ(formatMessage("Arg %d: '%s' %lu%%", {3, "x", 7ul}), "Arg 3: 'x' 7%");
    // A translation with conversions of its own is filled safely: extras read "(null)",
    // unknown ones stay as written, nothing is read from the stack.
    EXPECT_EQ(formatMessage("Java %d needed %s %n %x %@", {11}), "Java 11 needed (null) %n %x (null)");
}

TEST(Log, StandardPathsForLogLines) {
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(convertRelativeFilePath("~/Music//a/./b/"), "/home/someone/Music/a/b");
    EXPECT_EQ(convertRelativeFilePath("/a/b/../c"), "/a/c");
    EXPECT_EQ(convertRelativeFilePath("rel/./x"), "rel/x");
}

TEST(StringsTable, ParsesTheClassicFormatInUtf8AndUtf16) {
    const std::string utf8 =
        "/* comment */\n\"JRELoadError\" = \"No \\\"Java\\\" here\\n\";\n// line\nplain = value;\n\"same\";\n"
        "\"uni\" = \"\\U00e9t\\u00e9\";";
    StringsTable t = parseStringsTable(utf8);
    EXPECT_EQ(t.error, "");
    EXPECT_EQ(t.entries["JRELoadError"], "No \"Java\" here\n");
    EXPECT_EQ(t.entries["plain"], "value");
    EXPECT_EQ(t.entries["same"], "same");
    EXPECT_EQ(t.entries["uni"], "\xC3\xA9t\xC3\xA9");

    std::string utf16 = "\xFF\xFE";  // little-endian with its mark
    for (char c : std::string("\"k\" = \"v\";")) {
        utf16.push_back(c);
        utf16.push_back('\0');
    }
    EXPECT_EQ(parseStringsTable(utf16).entries.at("k"), "v");
}

TEST(StringsTable, ErrorsCarryTheirPositionAndKeepEarlierEntries) {
    StringsTable t = parseStringsTable("\"a\" = \"1\";\n\"b\" = \"2\"\n\"c\" = \"3\";");
    EXPECT_EQ(t.entries.at("a"), "1");
    EXPECT_EQ(t.entries.count("b"), 0u);
    EXPECT_EQ(t.error, "line 3, column 1: expected ';' after the value");
    EXPECT_EQ(parseStringsTable("\"open = 1;").error, "line 1, column 11: expected a key");
    EXPECT_EQ(parseStringsTable("/* never closed").error.find("unterminated comment") != std::string::npos, true);
}

TEST(Memory, PercentagesOfSixteenGibibytes) {
    const std::int64_t ram = 17179869184;
    EXPECT_EQ(resolveMemoryPercentage("-Xmx1%", ram), "-Xmx172m");
    EXPECT_EQ(resolveMemoryPercentage("-Xmx200%", ram), "-Xmx34360m");
    EXPECT_EQ(resolveMemoryPercentage("-Xmx200.0001%", ram), "-Xmx34360m");
    EXPECT_EQ(resolveMemoryPercentage("-Xmx0.5%", ram), "-Xmx0.5%");
    EXPECT_EQ(resolveMemoryPercentage("-Xmx250%", ram), "-Xmx250%");
    EXPECT_EQ(resolveMemoryPercentage("-Xmx512m", ram), "-Xmx512m");
    EXPECT_EQ(resolveMemoryPercentage("-Xmx%", ram), "-Xmx%");
    EXPECT_EQ(resolveMemoryPercentage("-Xmx 50%", ram), "-Xmx8590m");
    EXPECT_EQ(resolveMemoryPercentage("-Xmx50%", 0), "-Xmx50%");
}

TEST(ProgramArguments, ProcessSerialNumbers) {
    EXPECT_TRUE(isProcessSerialNumber("-psn_0_123456"));
    EXPECT_FALSE(isProcessSerialNumber("-psn_10_5"));
    EXPECT_FALSE(isProcessSerialNumber("-psn_0_"));
    EXPECT_FALSE(isProcessSerialNumber("-psn_0_12x"));
    EXPECT_FALSE(isProcessSerialNumber("--verbose"));
}
