// Spell checking with the process's one shared checker: Enchant (with the system's Hunspell
// dictionaries) for the words, ICU's word breaks over UTF-16 text to find them, so that every
// offset is a UTF-16 unit of the text.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "expected.h"

namespace kestrane::spelling {

enum class SpellingError {
    outOfRange = 1,  // a start or range outside the text
};

struct Range {
    std::size_t location = 0;
    std::size_t length = 0;
};

// The words of text from start on that a spell checker should look at, in order: segments
// with letters, leaving out words with digits or dots and every word inside a URL or an
// e-mail address; apostrophes inside words stay inside.
std::vector<Range> checkableWords(std::u16string_view text, std::size_t start);

// The Enchant tag for a language name of the platform ("en", "en_US", "de-DE", "pt_BR"): a
// full tag as given (a hyphen becomes an underscore); a bare language, its best installed
// dictionary (the locale's region first, then the first of the others); none when no
// dictionary is installed for it.
std::optional<std::string> dictionaryTag(const std::string& language, const std::vector<std::string>& installed,
                                         const std::string& localeRegion);

// The Debian package that would add a dictionary for a language ("pt_BR" -> hunspell-pt-br).
std::string dictionaryPackage(const std::string& language);

// The language of the user's locale (LC_ALL, LC_MESSAGES, LANG), else "en_US".
std::string localeLanguage();

// The process's checker. Thread-safe: Enchant's dictionaries are not, so one lock guards every
// call into Enchant, held for one word at a time.
// A language of none means the current language.
class SharedChecker {
public:
    static SharedChecker& instance();

    // The first misspelled word at or after start, without wrapping to the beginning; none
    // when every word is spelled right or the language has no dictionary.
    Expected<std::optional<Range>> check(std::u16string_view text, std::size_t start,
                                         const std::optional<std::string>& language);

    // Makes language (when not none) the current language for good, then the dictionary's
    // suggestions for the word at range, in its order.
    Expected<std::vector<std::u16string>> guesses(std::u16string_view text, Range range,
                                                  const std::optional<std::string>& language);

    std::string currentLanguage();

    SharedChecker();
    ~SharedChecker();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace kestrane::spelling
