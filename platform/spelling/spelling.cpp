#include "spelling.h"

#include <enchant.h>
#include <unicode/ubrk.h>
#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>

#include "enchant_ptr.h"
#include "icu_ptr.h"
#include "log.h"
#include "no_destructor.h"
#include "utf.h"

namespace kestrane::spelling {

namespace {

bool isSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == 0x00A0 || c == 0x2028 || c == 0x2029; }

// The spans of text (between white space) that are URLs or e-mail addresses: a scheme's
// "://", a leading "www.", or an "@" with a dot after it.
std::vector<Range> addressSpans(std::u16string_view text) {
    std::vector<Range> spans;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isSpace(text[i])) ++i;
        const std::size_t begin = i;
        while (i < text.size() && !isSpace(text[i])) ++i;
        const std::u16string_view token = text.substr(begin, i - begin);
        const std::size_t at = token.find(u'@');
        const bool address = token.find(u"://") != std::u16string_view::npos || token.substr(0, 4) == u"www." ||
                             (at != std::u16string_view::npos && at > 0 && token.find(u'.', at) != std::u16string_view::npos);
        if (address) spans.push_back({begin, i - begin});
    }
    return spans;
}

bool hasLetter(std::u16string_view word, bool& hasDigitOrDot) {
    bool letter = false;
    hasDigitOrDot = false;
    for (std::size_t i = 0; i < word.size();) {
        UChar32 c;
        U16_NEXT(word.data(), i, word.size(), c);
        if (u_isalpha(c)) letter = true;
        if (u_isdigit(c) || c == '.') hasDigitOrDot = true;
    }
    return letter;
}

std::string normalizedTag(std::string tag) {
    std::replace(tag.begin(), tag.end(), '-', '_');
    return tag;
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

std::vector<Range> checkableWords(std::u16string_view text, std::size_t start) {
    std::vector<Range> words;
    if (start >= text.size()) return words;
    UErrorCode status = U_ZERO_ERROR;
    const BreakIteratorPtr breaks(ubrk_open(UBRK_WORD, "", reinterpret_cast<const UChar*>(text.data()),
                                            static_cast<int32_t>(text.size()), &status));
    if (U_FAILURE(status)) return words;
    const std::vector<Range> addresses = addressSpans(text);
    int32_t from = ubrk_first(breaks.get());
    for (int32_t end = ubrk_next(breaks.get()); end != UBRK_DONE; from = end, end = ubrk_next(breaks.get())) {
        // Only words that begin at or after start; a word that start cuts is passed over.
        if (static_cast<std::size_t>(from) < start) continue;
        const int32_t rule = ubrk_getRuleStatus(breaks.get());
        if (rule < UBRK_WORD_LETTER || rule >= UBRK_WORD_LETTER_LIMIT) continue;
        const Range word{static_cast<std::size_t>(from), static_cast<std::size_t>(end - from)};
        bool digitOrDot = false;
        if (!hasLetter(text.substr(word.location, word.length), digitOrDot) || digitOrDot) continue;
        const bool inAddress = std::any_of(addresses.begin(), addresses.end(), [&](const Range& a) {
            return word.location >= a.location && word.location < a.location + a.length;
        });
        if (!inAddress) words.push_back(word);
    }
    return words;
}

std::optional<std::string> dictionaryTag(const std::string& language, const std::vector<std::string>& installed,
                                         const std::string& localeRegion) {
    const std::string tag = normalizedTag(language);
    auto isInstalled = [&installed](const std::string& t) { return std::find(installed.begin(), installed.end(), t) != installed.end(); };
    if (tag.find('_') != std::string::npos) {
        if (isInstalled(tag)) return tag;
        return std::nullopt;
    }
    if (!localeRegion.empty() && isInstalled(tag + "_" + localeRegion)) return tag + "_" + localeRegion;
    if (isInstalled(tag)) return tag;
    std::vector<std::string> regional;
    for (const std::string& t : installed) {
        if (t.size() > tag.size() && t.compare(0, tag.size(), tag) == 0 && t[tag.size()] == '_') regional.push_back(t);
    }
    if (regional.empty()) return std::nullopt;
    std::sort(regional.begin(), regional.end());
    return regional.front();
}

std::string dictionaryPackage(const std::string& language) {
    std::string tag = lower(normalizedTag(language));
    std::replace(tag.begin(), tag.end(), '_', '-');
    return "hunspell-" + tag;
}

std::string localeLanguage() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value == nullptr || *value == '\0') continue;
        std::string locale = value;
        locale = locale.substr(0, locale.find_first_of(".@"));
        if (locale == "C" || locale == "POSIX" || locale.empty()) break;
        return locale;
    }
    return "en_US";
}

struct SharedChecker::State {
    std::mutex mutex;
    EnchantBroker* broker = enchant_broker_init();
    std::map<std::string, EnchantDict*> dictionaries;  // by the language name asked for; null: none
    std::set<std::string> reported;                      // languages already logged as missing
    std::string current = localeLanguage();

    std::vector<std::string> installed() {
        std::vector<std::string> tags;
        if (broker == nullptr) return tags;
        enchant_broker_list_dicts(
            broker,
            [](const char* tag, const char*, const char*, const char*, void* data) {
                static_cast<std::vector<std::string>*>(data)->push_back(tag);
            },
            &tags);
        return tags;
    }

    // The dictionary for a language name, requested once and kept for the process.
    EnchantDict* dictionary(const std::string& language) {
        if (auto found = dictionaries.find(language); found != dictionaries.end()) return found->second;
        EnchantDict* dict = nullptr;
        const std::string region = [] {
            const std::string locale = localeLanguage();
            const std::size_t sep = locale.find('_');
            return sep == std::string::npos ? std::string() : locale.substr(sep + 1);
        }();
        if (std::optional<std::string> tag = dictionaryTag(language, installed(), region)) {
            // Hunspell's dictionary first, whatever the system's ordering says for the tag
            // (Debian's puts Aspell first for English): Aspell's suggestions keep memory on
            // every call, which a long-running application cannot afford.
            enchant_broker_set_ordering(broker, tag->c_str(), "hunspell,nuspell,aspell,hspell,voikko,zemberek");
            dict = enchant_broker_request_dict(broker, tag->c_str());
        }
        if (dict == nullptr && reported.insert(language).second) {
            logLine("No spelling dictionary for \"" + language + "\": words are not checked (install the package " +
                    dictionaryPackage(language) + ")");
        }
        dictionaries[language] = dict;
        return dict;
    }

    bool misspelled(EnchantDict* dict, std::u16string_view word) {
        const std::string utf8 = text::utf8FromUtf16(word);
        return enchant_dict_check(dict, utf8.data(), static_cast<ssize_t>(utf8.size())) > 0;
    }
};

SharedChecker::SharedChecker() : state_(std::make_unique<State>()) {}
SharedChecker::~SharedChecker() = default;

SharedChecker& SharedChecker::instance() {
    // The broker lives until the process ends: Enchant's providers are not safe to unload
    // while other threads may still be checking.
    static NoDestructor<SharedChecker> checker;
    return checker.get();
}

Expected<std::optional<Range>> SharedChecker::check(std::u16string_view text, std::size_t start,
                                                    const std::optional<std::string>& language) {
    if (start > text.size()) return Error(SpellingError::outOfRange, "start " + std::to_string(start) + " is beyond the text's length " + std::to_string(text.size()));
    const std::vector<Range> words = checkableWords(text, start);
    std::lock_guard<std::mutex> lock(state_->mutex);
    EnchantDict* dict = state_->dictionary(language.value_or(state_->current));
    if (dict == nullptr) return std::optional<Range>();
    for (const Range& word : words) {
        if (state_->misspelled(dict, text.substr(word.location, word.length))) return std::optional<Range>(word);
    }
    return std::optional<Range>();
}

Expected<std::vector<std::u16string>> SharedChecker::guesses(std::u16string_view text, Range range,
                                                             const std::optional<std::string>& language) {
    if (range.location > text.size() || range.length > text.size() - range.location) {
        return Error(SpellingError::outOfRange, "range {" + std::to_string(range.location) + ", " + std::to_string(range.length) +
                                      "} is outside the text's length " + std::to_string(text.size()));
    }
    const std::string word = text::utf8FromUtf16(text.substr(range.location, range.length));
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (language) state_->current = *language;
    EnchantDict* dict = state_->dictionary(state_->current);
    std::vector<std::u16string> out;
    if (dict == nullptr || word.empty()) return out;
    const Suggestions suggestions(dict, word.data(), static_cast<ssize_t>(word.size()));
    for (std::size_t i = 0; i < suggestions.size(); ++i) out.push_back(text::utf16FromUtf8(suggestions[i]));
    return out;
}

std::string SharedChecker::currentLanguage() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->current;
}

}  // namespace kestrane::spelling
