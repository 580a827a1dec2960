// The spelling component with the system's real en_US and de_DE Hunspell dictionaries.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

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
