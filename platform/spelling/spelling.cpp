#include "spelling.h"

#include <enchant.h>
#include <unicode/ubrk.h>
#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <unordered_set>

#include "enchant_ptr.h"
#include "icu_ptr.h"
#include "log.h"
#include "no_destructor.h"
#include "utf.h"

namespace kestrane::spelling {

namespace {

bool isSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == 0x00A0 || c == 0x2028 || c == 0x2029; }

bool isAddress(std::u16string_view token) {
    const std::size_t at = token.find(u'@');
    return token.find(u"://") != std::u16string_view::npos || token.substr(0, 4) == u"www." ||
           (at != std::u16string_view::npos && at > 0 && token.find(u'.', at) != std::u16string_view::npos);
}

// Whether positions of a text lie in a URL or an e-mail address: a token (between white space)
// with a scheme's "://", a leading "www.", or an "@" with a dot after it. Positions are asked
// in increasing order and each token is looked at once, so a walk over the whole text stays
// linear however many addresses it holds.
class AddressTokens {
public:
    // Starts at the token that holds from, which may begin before it.
    AddressTokens(std::u16string_view text, std::size_t from) : text_(text), begin_(from), end_(from) {
        while (begin_ > 0 && !isSpace(text_[begin_ - 1])) --begin_;
        end_ = begin_;
    }

    bool contains(std::size_t position) {
        while (position >= end_ && end_ < text_.size()) next();
        return address_ && position >= begin_ && position < end_;
    }

private:
    void next() {
        std::size_t i = end_;
        while (i < text_.size() && isSpace(text_[i])) ++i;
        begin_ = i;
        while (i < text_.size() && !isSpace(text_[i])) ++i;
        end_ = i;
        address_ = isAddress(text_.substr(begin_, end_ - begin_));
    }

    std::u16string_view text_;
    std::size_t begin_, end_;  // the current token
    bool address_ = false;
};

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

// Calls visit(word) for each checkable word from start on, in order, until it returns false.
// The text is segmented once, beginning at start: a check near the end of a long text costs
// what the rest of the text costs, not the whole.
template <class Visit>
void visitCheckableWords(std::u16string_view text, std::size_t start, Visit visit) {
    if (start >= text.size() || text.size() > static_cast<std::size_t>(INT32_MAX)) return;
    UErrorCode status = U_ZERO_ERROR;
    const BreakIteratorPtr breaks(ubrk_open(UBRK_WORD, "", reinterpret_cast<const UChar*>(text.data()),
                                            static_cast<int32_t>(text.size()), &status));
    if (U_FAILURE(status)) return;
    // Only words that begin at or after start; a word that start cuts is passed over.
    int32_t from = start == 0 ? ubrk_first(breaks.get()) : ubrk_following(breaks.get(), static_cast<int32_t>(start - 1));
    if (from == UBRK_DONE) return;
    AddressTokens addresses(text, static_cast<std::size_t>(from));
    for (int32_t end = ubrk_next(breaks.get()); end != UBRK_DONE; from = end, end = ubrk_next(breaks.get())) {
        const int32_t rule = ubrk_getRuleStatus(breaks.get());
        if (rule < UBRK_WORD_LETTER || rule >= UBRK_WORD_LETTER_LIMIT) continue;
        const Range word{static_cast<std::size_t>(from), static_cast<std::size_t>(end - from)};
        bool digitOrDot = false;
        if (!hasLetter(text.substr(word.location, word.length), digitOrDot) || digitOrDot) continue;
        if (addresses.contains(word.location)) continue;
        if (!visit(word)) return;
    }
}

}  // namespace

std::vector<Range> checkableWords(std::u16string_view text, std::size_t start) {
    std::vector<Range> words;
    visitCheckableWords(text, start, [&words](const Range& word) {
        words.push_back(word);
        return true;
    });
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

namespace {

// Language names come from the caller and are kept (the names asked for, the current one, the
// ones logged as missing), so each is held to a length that any real tag fits in many times over,
// and the names remembered to a count; what is past either bound is looked up again or dropped.
constexpr std::size_t kLongestLanguageName = 64;  // bytes of UTF-8
constexpr std::size_t kLanguagesRemembered = 64;
constexpr std::size_t kMissingLanguagesLogged = 16;

// name cut to at most length bytes, at the start of a character.
std::string cutName(const std::string& name, std::size_t length) {
    if (name.size() <= length) return name;
    while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80) --length;
    return name.substr(0, length);
}

// The name as the checker keeps it: a name too long for a language stays too long (and so
// without a dictionary) when cut, but no longer than a few bytes past the bound.
std::string keptName(const std::string& name) { return cutName(name, kLongestLanguageName + 4); }

// Enchant refuses text with a NUL or invalid UTF-8 with a GLib critical on standard error. The
// UTF-8 made from UTF-16 here is always valid apart from U+0000, which it keeps.
bool enchantCanTake(std::string_view utf8) { return !utf8.empty() && utf8.find('\0') == std::string_view::npos; }

// A lock granted in the order it was asked for. A long check takes the checker's lock once per
// word; with an ordinary mutex its next word can win the lock again and again while a short
// check's thread is still waking up, so the short one could wait out most of the long one.
class TurnLock {
public:
    void lock() {
        const std::uint32_t ticket = next_.fetch_add(1, std::memory_order_relaxed);
        for (std::uint32_t serving = serving_.load(std::memory_order_acquire); serving != ticket;
             serving = serving_.load(std::memory_order_acquire)) {
            serving_.wait(serving, std::memory_order_acquire);
        }
    }
    void unlock() {
        serving_.fetch_add(1, std::memory_order_release);
        serving_.notify_all();
    }

private:
    std::atomic<std::uint32_t> next_{0};
    std::atomic<std::uint32_t> serving_{0};
};

}  // namespace

struct SharedChecker::State {
    // Guards everything below and every call into Enchant, whose dictionaries are not
    // thread-safe. A check takes it for each word rather than for the whole text, so a short
    // check never waits behind a long one for more than a word.
    TurnLock mutex;
    EnchantBroker* broker = enchant_broker_init();
    // Dictionaries by tag, requested once and kept for the process (at most one per installed
    // dictionary), so that a check may go on using one without the lock.
    std::map<std::string, EnchantDict*> byTag;
    std::map<std::string, EnchantDict*> byName;  // by the language name asked for; null: none
    std::set<std::string> reported;              // languages already logged as missing
    bool reportedMore = false;                   // and the line that no more are logged
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

    EnchantDict* dictionaryForTag(const std::string& tag) {
        if (auto found = byTag.find(tag); found != byTag.end()) return found->second;
        // Hunspell's dictionary first, whatever the system's ordering says for the tag
        // (Debian's puts Aspell first for English): Aspell's suggestions keep memory on
        // every call, which a long-running application cannot afford.
        enchant_broker_set_ordering(broker, tag.c_str(), "hunspell,nuspell,aspell,hspell,voikko,zemberek");
        EnchantDict* dict = enchant_broker_request_dict(broker, tag.c_str());
        byTag[tag] = dict;
        return dict;
    }

    void reportMissing(const std::string& language) {
        const std::string shown = cutName(language, kLongestLanguageName);
        if (reported.count(shown) != 0 || reportedMore) return;
        if (reported.size() == kMissingLanguagesLogged) {
            reportedMore = true;
            logLine("More languages without a spelling dictionary: they are not logged");
            return;
        }
        reported.insert(shown);
        if (language.size() > kLongestLanguageName) {
            logLine("No spelling dictionary for a language name longer than " + std::to_string(kLongestLanguageName) + " bytes (\"" +
                    shown + "...\"): words are not checked");
            return;
        }
        logLine("No spelling dictionary for \"" + language + "\": words are not checked (install the package " +
                dictionaryPackage(language) + ")");
    }

    // The dictionary for a language name; null when there is none.
    EnchantDict* dictionary(const std::string& language) {
        if (auto found = byName.find(language); found != byName.end()) return found->second;
        EnchantDict* dict = nullptr;
        if (broker != nullptr && language.size() <= kLongestLanguageName) {
            const std::string region = [] {
                const std::string locale = localeLanguage();
                const std::size_t sep = locale.find('_');
                return sep == std::string::npos ? std::string() : locale.substr(sep + 1);
            }();
            if (std::optional<std::string> tag = dictionaryTag(language, installed(), region)) dict = dictionaryForTag(*tag);
        }
        if (dict == nullptr) reportMissing(language);
        if (language.size() > kLongestLanguageName) return dict;
        if (byName.size() >= kLanguagesRemembered) byName.clear();  // names in use come back at their next call
        byName[language] = dict;
        return dict;
    }

    bool misspelled(EnchantDict* dict, std::u16string_view word) {
        const std::string utf8 = text::utf8FromUtf16(word);
        if (!enchantCanTake(utf8)) return false;
        const std::lock_guard<TurnLock> lock(mutex);
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
    EnchantDict* dict = nullptr;
    {
        const std::lock_guard<TurnLock> lock(state_->mutex);
        dict = state_->dictionary(language ? *language : state_->current);
    }
    std::optional<Range> found;
    if (dict == nullptr) return found;
    // Words met again in the same text are not asked again: each question costs Enchant a look
    // at its personal word lists on disk. Bounded, so a text of distinct words costs no memory.
    constexpr std::size_t kWordsRemembered = 4096;
    std::unordered_set<std::u16string_view> correct;
    visitCheckableWords(text, start, [&](const Range& word) {
        const std::u16string_view spelled = text.substr(word.location, word.length);
        if (correct.count(spelled) != 0) return true;
        if (!state_->misspelled(dict, spelled)) {
            if (correct.size() < kWordsRemembered) correct.insert(spelled);
            return true;
        }
        found = word;
        return false;
    });
    return found;
}

Expected<std::vector<std::u16string>> SharedChecker::guesses(std::u16string_view text, Range range,
                                                             const std::optional<std::string>& language) {
    if (range.location > text.size() || range.length > text.size() - range.location) {
        return Error(SpellingError::outOfRange, "range {" + std::to_string(range.location) + ", " + std::to_string(range.length) +
                                      "} is outside the text's length " + std::to_string(text.size()));
    }
    const std::string word = text::utf8FromUtf16(text.substr(range.location, range.length));
    const std::lock_guard<TurnLock> lock(state_->mutex);
    if (language) state_->current = keptName(*language);
    EnchantDict* dict = state_->dictionary(state_->current);
    std::vector<std::u16string> out;
    if (dict == nullptr || !enchantCanTake(word)) return out;
    const Suggestions suggestions(dict, word.data(), static_cast<ssize_t>(word.size()));
    for (std::size_t i = 0; i < suggestions.size(); ++i) out.push_back(text::utf16FromUtf8(suggestions[i]));
    return out;
}

std::string SharedChecker::currentLanguage() {
    const std::lock_guard<TurnLock> lock(state_->mutex);
    return state_->current;
}

}  // namespace kestrane::spelling
