// The spelling component with the system's real en_US and de_DE Hunspell dictionaries.
#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "limited_child.h"
#include "spelling.h"
#include "test_files.h"

using namespace kestrane::spelling;

namespace {

std::vector<std::u16string> wordsOf(std::u16string_view text, std::size_t start = 0) {
    std::vector<std::u16string> out;
    for (const Range& r : checkableWords(text, start)) out.emplace_back(text.substr(r.location, r.length));
    return out;
}

std::optional<Range> check(std::u16string_view text, std::size_t start, std::optional<std::string> language) {
    auto result = SharedChecker::instance().check(text, start, language);
    EXPECT_TRUE(result.hasValue());
    return result.hasValue() ? *result : std::nullopt;
}

}  // namespace

TEST(Words, LettersOnlyWithoutNumbersAddressesOrDots) {
    EXPECT_EQ(wordsOf(u"Don't mix 3 apples, abc123 or e.g with http://exampel.org/pathh and mail@exmple.com now"),
              (std::vector<std::u16string>{u"Don't", u"mix", u"apples", u"or", u"with", u"and", u"now"}));
    EXPECT_EQ(wordsOf(u"www.exampel.org is gone, isn\u2019t it"), (std::vector<std::u16string>{u"is", u"gone", u"isn\u2019t", u"it"}));
    // From start on, and a word that start cuts is passed over.
    EXPECT_EQ(wordsOf(u"alpha beta gamma", 2), (std::vector<std::u16string>{u"beta", u"gamma"}));
    EXPECT_EQ(wordsOf(u"alpha beta", 10), std::vector<std::u16string>{});
    EXPECT_EQ(wordsOf(u"", 0), std::vector<std::u16string>{});
}

TEST(Languages, PlatformNamesBecomeInstalledDictionaryTags) {
    const std::vector<std::string> installed = {"de_AT", "de_DE", "en_GB", "en_US", "fr"};
    EXPECT_EQ(dictionaryTag("en_US", installed, ""), "en_US");
    EXPECT_EQ(dictionaryTag("de-DE", installed, ""), "de_DE");
    EXPECT_EQ(dictionaryTag("pt_BR", installed, ""), std::nullopt);
    EXPECT_EQ(dictionaryTag("en", installed, "GB"), "en_GB");  // the locale's region first
    EXPECT_EQ(dictionaryTag("en", installed, "CH"), "en_GB");  // then the first of the others
    EXPECT_EQ(dictionaryTag("de", installed, "DE"), "de_DE");
    EXPECT_EQ(dictionaryTag("fr", installed, "FR"), "fr");
    EXPECT_EQ(dictionaryTag("it", installed, "IT"), std::nullopt);
    EXPECT_EQ(dictionaryPackage("pt_BR"), "hunspell-pt-br");
    EXPECT_EQ(dictionaryPackage("fr"), "hunspell-fr");
}

TEST(Checker, FirstMisspellingFromStartWithoutWrapping) {
    const std::u16string text = u"Thiss is a sentense with two mistakes.";
    EXPECT_EQ(check(text, 0, "en_US")->location, 0u);
    const std::optional<Range> second = check(text, 1, "en_US");
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(text.substr(second->location, second->length), u"sentense");
    EXPECT_FALSE(check(text, second->location + 1, "en_US").has_value());  // no wrap to "Thiss"
    EXPECT_FALSE(check(text, text.size(), "en_US").has_value());
    // Offsets are UTF-16 units: a character outside the BMP counts two.
    const std::u16string emoji = u"\U0001F600 fine wrongg";
    const std::optional<Range> r = check(emoji, 0, "en");
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->location, 8u);
    EXPECT_EQ(r->length, 6u);
    EXPECT_TRUE(SharedChecker::instance().check(text, text.size() + 1, "en_US").error().is(SpellingError::outOfRange));
}

TEST(Checker, GuessesAndTheLastingLanguageOfGuesses) {
    auto& checker = SharedChecker::instance();
    const std::u16string text = u"speling";
    auto guesses = checker.guesses(text, {0, 7}, "en_US");
    ASSERT_TRUE(guesses.hasValue());
    EXPECT_NE(std::find(guesses->begin(), guesses->end(), u"spelling"), guesses->end());
    EXPECT_EQ(checker.currentLanguage(), "en_US");

    const std::u16string german = u"Das Haus ist sch\u00f6n";
    EXPECT_TRUE(check(german, 0, std::nullopt).has_value());  // not English
    ASSERT_TRUE(checker.guesses(u"Hauss", {0, 5}, "de_DE").hasValue());
    EXPECT_EQ(checker.currentLanguage(), "de_DE");
    EXPECT_FALSE(check(german, 0, std::nullopt).has_value());  // German from now on
    ASSERT_TRUE(checker.guesses(u"Hauss", {0, 5}, std::nullopt).hasValue());  // none leaves it
    EXPECT_EQ(checker.currentLanguage(), "de_DE");
    EXPECT_TRUE(check(german, 0, "en_US").has_value());  // check's language is for that call only
    EXPECT_EQ(checker.currentLanguage(), "de_DE");

    EXPECT_TRUE(checker.guesses(text, {3, 5}, "en_US").error().is(SpellingError::outOfRange));
    EXPECT_TRUE(checker.guesses(text, {8, 0}, "en_US").error().is(SpellingError::outOfRange));
    EXPECT_TRUE(checker.guesses(text, {7, 0}, "en_US")->empty());
}

TEST(Checker, ALanguageWithoutDictionaryChecksNothingAndSaysSoOnce) {
    const std::string log = kestrane::test::captureStderr([] {
        EXPECT_FALSE(check(u"Qualquer cois errada", 0, "pt_BR").has_value());
        EXPECT_FALSE(check(u"Qualquer cois errada", 0, "pt_BR").has_value());
        EXPECT_TRUE(SharedChecker::instance().guesses(u"cois", {0, 4}, "pt_BR")->empty());
    });
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    EXPECT_NE(log.find("\"pt_BR\""), std::string::npos);
    EXPECT_NE(log.find("hunspell-pt-br"), std::string::npos);
}

TEST(Checker, EightThreadsAtOnce) {
    std::vector<std::thread> threads;
    std::vector<int> wrong(8, 0);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t, &wrong] {
            const std::u16string text = u"A correct line, then a mistaek.";
            for (int i = 0; i < 200; ++i) {
                auto r = SharedChecker::instance().check(text, 0, t % 2 ? "en_US" : "en");
                if (!r.hasValue() || !*r || text.substr((*r)->location, (*r)->length) != u"mistaek") ++wrong[t];
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong, std::vector<int>(8, 0));
}

TEST(Checker, MisspellingsAmongManyAddresses) {
    std::u16string dense;
    for (int i = 0; i < 5000; ++i) dense += u"a://b cat ";
    const std::u16string inUrls = u"see http://exampel.org/pathh?q=wrongg and mail@exmple.com, www.exampel.org then misteak";
    const struct {
        std::u16string text;
        std::size_t start;
        std::u16string word;  // empty: none
        std::size_t location;
    } cases[] = {
        {dense, 0, u"", 0},
        {dense + u"dogg a://b", 0, u"dogg", 50000},
        {dense + u"dogg a://b", 49990, u"dogg", 50000},
        {u"a://b caat a://b cat", 0, u"caat", 6},
        {inUrls, 0, u"misteak", inUrls.size() - 7},
        // A start inside an address still knows the whole token for one.
        {u"xx http://exampel.org/pathh wrongg", 12, u"wrongg", 28},
        {u"xx mail@exmple.com wrongg", 9, u"wrongg", 19},
        {u"wrongg right", 1, u"", 0},  // a word that start cuts is passed over
        {u"right  wrongg", 6, u"wrongg", 7},
        {u"\U0001F600 a://b\u00a0wrongg http://x.org/\U0001F600baad", 0, u"wrongg", 9},
    };
    for (const auto& c : cases) {
        const std::optional<Range> r = check(c.text, c.start, "en_US");
        if (c.word.empty()) {
            EXPECT_FALSE(r.has_value()) << c.start;
            continue;
        }
        ASSERT_TRUE(r.has_value()) << c.start;
        EXPECT_EQ(r->location, c.location);
        EXPECT_EQ(c.text.substr(r->location, r->length), c.word);
    }
}

TEST(Checker, WordsEnchantCannotTakeGiveNoGuessesAndNoCriticals) {
    using namespace std::string_literals;
    const std::u16string words[] = {u"spe\0ling"s, u"\0"s, u"spel\xD800ing"s};
    const std::string log = kestrane::test::captureStderr([&] {
        for (const std::u16string& word : words) {
            auto guesses = SharedChecker::instance().guesses(word, {0, word.size()}, "en_US");
            ASSERT_TRUE(guesses.hasValue());
            if (word.find(u'\0') != std::u16string::npos) {
                EXPECT_TRUE(guesses->empty());
            }
            EXPECT_TRUE(SharedChecker::instance().check(word + u" wrongg", 0, "en_US").hasValue());
        }
    });
    EXPECT_EQ(log, "");
}

TEST(Checker, LanguageNamesWithControlCharactersLogOneEscapedLineEach) {
    SharedChecker checker;
    const std::string log = kestrane::test::captureStderr([&] {
        for (const char* language : {"xx\n2026-12-09 06:41:07.215 java[1:1] forged", "xx\rzz", "\x1b[2Jxx"}) {
            EXPECT_TRUE(checker.check(u"Thiss", 0, language).hasValue());
        }
    });
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 3) << log;
    EXPECT_EQ(log.find_first_of("\r\x1b"), std::string::npos) << log;
    EXPECT_NE(log.find("xx\\n2026"), std::string::npos) << log;
}

// Thousands of distinct language names, long and short, through both calls: the memory kept
// and the lines logged stay bounded. In a child process whose address space ends a few hundred
// megabytes past its start, and with a deadline.
TEST(CheckerDeathTest, ThousandsOfLanguageNamesKeepMemoryAndTheLogBounded) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto flood = [] {
        alarm(120);
        kestrane::test::limitAddressSpaceAbove(256);
        SharedChecker checker;
        std::size_t heldBefore = 0;
        const std::string log = kestrane::test::captureStderr([&] {
            (void)checker.check(u"warm", 0, "zz_ZZ");
            heldBefore = mallinfo2().uordblks + mallinfo2().hblkhd;
            for (int i = 0; i < 2000; ++i) {
                const std::string name = std::to_string(i) + (i % 4 == 0 ? "_XX" : std::string(100000, 'x'));
                (void)checker.check(u"Thiss", 0, name);
                if (i % 2 == 1) (void)checker.guesses(u"Thiss", {0, 5}, name);
            }
        });
        const std::size_t held = mallinfo2().uordblks + mallinfo2().hblkhd;
        const auto lines = std::count(log.begin(), log.end(), '\n');
        std::fprintf(stderr, "%zd log lines, %zu bytes of log, %zd bytes more held\n", static_cast<ssize_t>(lines), log.size(),
                     static_cast<ssize_t>(held - heldBefore));
#if defined(__SANITIZE_ADDRESS__)
        const bool memoryBounded = true;  // the sanitizer's allocator keeps freed memory aside
#else
        const bool memoryBounded = held < heldBefore + (std::size_t{8} << 20);
#endif
        std::_Exit(lines <= 20 && log.size() < 4096 && memoryBounded ? 0 : 1);
    };
    EXPECT_EXIT(flood(), ::testing::ExitedWithCode(0), "");
}
