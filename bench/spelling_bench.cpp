// The spell checker on long and hostile input, each figure against a reference measured in the
// same run:
//   urls [units]       text of URLs and words ("a://b " before each word) against plain text
//                      of the same length (words only); the bar is 3x
//   wait [units]       4-character checks started every 50 ms while a check of a long text
//                      (words only) runs: their waits against the same check alone
//   tail [units]       a check that starts 100 units before the end of a long text against the
//                      same check of those 100 units alone
//   languages [count]  count distinct language names of 100,000 characters (each with a CR,
//                      an ESC and a newline) through check and guesses: memory kept (after
//                      malloc_trim) and the log written
// With no arguments it runs them all at their default sizes (1.6M, 10M, 10M units and 2,000
// names). Every text is spelled right, so each check walks its text to the end; the words are
// distinct words of the installed English dictionary, taken in turn.
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench_row.h"
#include "holders.h"
#include "spelling.h"

using kestrane::spelling::SharedChecker;
using Clock = std::chrono::steady_clock;

namespace bench = kestrane::bench;

namespace {

double secondsOf(const std::function<void()>& body) {
    const auto begin = Clock::now();
    body();
    return std::chrono::duration<double>(Clock::now() - begin).count();
}

std::u16string repeated(std::u16string_view piece, std::size_t units) {
    std::u16string text;
    text.reserve(units + piece.size());
    while (text.size() < units) text += piece;
    text.resize(units);
    return text;
}

// Distinct words the dictionary knows, so that a long text is not one word asked again and
// again (the checker remembers the words of a text it has already asked about).
const std::vector<std::u16string>& vocabulary() {
    static const std::vector<std::u16string> words = [] {
        std::vector<std::u16string> found;
        std::ifstream dic("/usr/share/hunspell/en_US.dic");
        for (std::string line; std::getline(dic, line) && found.size() < 20000;) {
            const std::string word = line.substr(0, line.find('/'));
            if (word.size() < 3 || word.size() > 10 || !std::all_of(word.begin(), word.end(), [](char c) { return c >= 'a' && c <= 'z'; })) continue;
            const std::u16string unit(word.begin(), word.end());
            auto misspelled = SharedChecker::instance().check(unit, 0, "en_US");
            if (misspelled && !*misspelled) found.push_back(unit);
        }
        if (found.empty()) found = {u"the", u"cat", u"is"};
        return found;
    }();
    return words;
}

// Words of the vocabulary in turn, each after prefix, up to units (padded with spaces, never a
// word cut short).
std::u16string prose(std::u16string_view prefix, std::size_t units) {
    std::u16string text;
    text.reserve(units);
    for (std::size_t i = 0;; ++i) {
        const std::u16string& word = vocabulary()[i % vocabulary().size()];
        if (text.size() + prefix.size() + word.size() + 1 > units) break;
        text.append(prefix).append(word).push_back(u' ');
    }
    text.resize(units, u' ');
    return text;
}

void checkAll(std::u16string_view text, std::size_t start = 0) {
    auto result = SharedChecker::instance().check(text, start, "en_US");
    if (!result || *result) {
        std::fprintf(stderr, "unexpected result: the texts are spelled right\n");
        std::exit(1);
    }
}

int urls(std::size_t units) {
    const std::u16string dense = prose(u"a://b ", units), plain = prose(u"", units);
    checkAll(u"warm up");
    const double plainSeconds = secondsOf([&] { checkAll(plain); });
    const double denseSeconds = secondsOf([&] { checkAll(dense); });
    const double ratio = denseSeconds / plainSeconds;
    std::printf("urls: %zu units: URLs and words %.3f s, plain words %.3f s, ratio %.2f (bar 3.00): %s\n", units, denseSeconds,
                plainSeconds, ratio, ratio <= 3.0 ? "ok" : "TOO SLOW");
    bench::row(bench::format("spelling, %zu units of URLs and words", units), bench::format("%.3f s", denseSeconds),
               bench::format("plain words %.3f s", plainSeconds), bench::format("%.2f", ratio), "<= 3", ratio <= 3.0);
    return ratio <= 3.0 ? 0 : 1;
}

int wait(std::size_t units) {
    const std::u16string longText = prose(u"", units);
    const std::u16string shortText = u"word";
    checkAll(shortText);
    const double alone = secondsOf([&] { checkAll(shortText); });
    std::atomic<bool> longDone{false};
    double longSeconds = 0;
    std::thread longCheck([&] {
        longSeconds = secondsOf([&] { checkAll(longText); });
        longDone = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the long check is under way
    std::vector<double> waits;
    while (!longDone) {
        waits.push_back(secondsOf([&] { checkAll(shortText); }));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    longCheck.join();
    if (waits.empty()) {
        std::printf("wait: the %zu-unit check (%.3f s) ended before a short check started; give a longer text\n", units, longSeconds);
        return 1;
    }
    std::sort(waits.begin(), waits.end());
    std::printf("wait: a 4-unit check every 50 ms during a %zu-unit check (%.3f s): %zu checks, median %.6f s, longest %.6f s; "
                "alone %.6f s\n", units, longSeconds, waits.size(), waits[waits.size() / 2], waits.back(), alone);
    // Held behind the long check, a short one would wait for most of it.
    const double held = waits.back() / longSeconds;
    bench::row("spelling, longest wait of a short check during a long one", bench::format("%.4f s", waits.back()),
               bench::format("the long check %.3f s", longSeconds), bench::format("%.4f", held), "<= 0.05", held <= 0.05);
    return 0;
}

int tail(std::size_t units) {
    const std::u16string text = repeated(u"a://b cat ", units);
    const std::u16string end = text.substr(text.size() - 100);
    constexpr int kCalls = 20;
    checkAll(end);
    const double whole = secondsOf([&] {
        for (int i = 0; i < kCalls; ++i) checkAll(text, text.size() - 100);
    }) / kCalls;
    const double alone = secondsOf([&] {
        for (int i = 0; i < kCalls; ++i) checkAll(end);
    }) / kCalls;
    std::printf("tail: a check of the last 100 of %zu units %.6f s per call, of those 100 units alone %.6f s, ratio %.1f\n", units,
                whole, alone, whole / alone);
    bench::row("spelling, a check of the last 100 units", bench::format("%.6f s", whole), bench::format("100 units alone %.6f s", alone),
               bench::format("%.1f", whole / alone), "<= 10", whole / alone <= 10);
    return 0;
}

std::size_t residentBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stoul(line.substr(6)) * 1024;
    }
    return 0;
}

int languages(int count) {
    char logPath[] = "/tmp/spelling-bench-logXXXXXX";
    const kestrane::UniqueFd log(mkstemp(logPath));
    const kestrane::UniqueFd savedStderr(dup(STDERR_FILENO));
    checkAll(u"warm up");
    malloc_trim(0);
    const std::size_t before = residentBytes();
    dup2(log.get(), STDERR_FILENO);
    const double seconds = secondsOf([&] {
        for (int i = 0; i < count; ++i) {
            const std::string name = std::to_string(i) + "\r\x1b[2J\n" + std::string(100000, 'x');
            (void)SharedChecker::instance().check(u"Thiss", 0, name);
            if (i % 2 == 1) (void)SharedChecker::instance().guesses(u"Thiss", {0, 5}, name);
        }
    });
    dup2(savedStderr.get(), STDERR_FILENO);
    malloc_trim(0);
    const std::size_t after = residentBytes();
    std::ifstream written(logPath, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(written)), std::istreambuf_iterator<char>());
    unlink(logPath);
    std::printf("languages: %d names of 100,000 characters in %.2f s: %+.1f MiB kept, %zu log lines, %zu bytes of log, %zu CR, %zu ESC\n",
                count, seconds, (static_cast<double>(after) - static_cast<double>(before)) / (1 << 20),
                static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')), text.size(),
                static_cast<std::size_t>(std::count(text.begin(), text.end(), '\r')),
                static_cast<std::size_t>(std::count(text.begin(), text.end(), '\x1b')));
    const double keptMiB = (static_cast<double>(after) - static_cast<double>(before)) / (1 << 20);
    bench::row(bench::format("spelling, memory kept after %d long language names", count), bench::format("%+.1f MiB", keptMiB), "-", "-",
               "<= 1 MiB", keptMiB <= 1);
    const bool raw = text.find_first_of("\r\x1b") != std::string::npos;
    bench::row("spelling, raw CR or ESC written to the log", raw ? "yes" : "none", "-", "-", "none", !raw);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "all";
    auto size = [&](std::size_t fallback) { return argc > 2 ? static_cast<std::size_t>(std::atoll(argv[2])) : fallback; };
    int status = 0;
    if (what == "urls" || what == "all") status |= urls(size(1600000));
    if (what == "wait" || what == "all") status |= wait(size(10000000));
    if (what == "tail" || what == "all") status |= tail(size(10000000));
    if (what == "languages" || what == "all") status |= languages(static_cast<int>(size(2000)));
    return status;
}
