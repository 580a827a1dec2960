// The shape of the diagnostic log: whole lines from many threads, each with date, process and ids.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "log.h"
#include "log_burst.h"
#include "test_files.h"

using kestrane::test::captureStderr;

namespace {

// Checks "<yyyy-mm-dd hh:mm:ss.mmm> <process>[<pid>:<tid>] <message>" and returns the pid
// and the message, or pid -1 when the line has another shape.
std::pair<long, std::string> parseLogLine(const std::string& line) {
    const std::string shape = "dddd-dd-dd dd:dd:dd.ddd ";
    if (line.size() < shape.size()) return {-1, ""};
    for (std::size_t i = 0; i < shape.size(); ++i) {
        const bool digit = line[i] >= '0' && line[i] <= '9';
        if (shape[i] == 'd' ? !digit : line[i] != shape[i]) return {-1, ""};
    }
    const std::size_t open = line.find('[', shape.size()), colon = line.find(':', open),
                      close = line.find("] ", colon);
    if (open == std::string::npos || colon == std::string::npos || close == std::string::npos ||
        open == shape.size()) {
        return {-1, ""};
    }
    const std::string pid = line.substr(open + 1, colon - open - 1), tid = line.substr(colon + 1, close - colon - 1);
    if (pid.empty() || tid.empty() || pid.find_first_not_of("0123456789") != std::string::npos ||
        tid.find_first_not_of("0123456789") != std::string::npos) {
        return {-1, ""};
    }
    return {std::stol(pid), line.substr(close + 2)};
}

}  // namespace

TEST(Log, LinesFromManyThreadsStayWholeAndCarryDateProcessAndIds) {
    constexpr int kThreads = 8;
    constexpr int kLines = 300;
    const std::string text = captureStderr([] {
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([t] {
                for (int i = 0; i < kLines; ++i) {
                    if (i % 2 == 0) kestrane::logFormat("thread %d line %d %s", t, i, std::string(200, 'x').c_str());
                    else kestrane::logLine("thread " + std::to_string(t) + " line " + std::to_string(i) + " " + std::string(200, 'y'));
                }
            });
        }
        for (auto& th : threads) th.join();
    });
    std::istringstream lines(text);
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        const auto [pid, message] = parseLogLine(line);
        ASSERT_EQ(pid, static_cast<long>(getpid())) << line;
        ASSERT_EQ(message.rfind("thread ", 0), 0u) << line;
        const std::string tail = message.substr(message.size() - 201);
        ASSERT_TRUE(tail == " " + std::string(200, 'x') || tail == " " + std::string(200, 'y')) << line;
        ++count;
    }
    EXPECT_EQ(count, kThreads * kLines);
}

TEST(Log, LongMessagesAreNotTruncated) {
    const std::string big(5000, 'z');
    const std::string text = captureStderr([&] { kestrane::logFormat("%s|end", big.c_str()); });
    EXPECT_NE(text.find(big + "|end\n"), std::string::npos);
}

TEST(Log, ControlCharactersAreEscapedSoNoMessageMakesALineOfItsOwn) {
    const struct {
        std::string message, written;
    } cases[] = {
        {"forged\n2026-12-09 06:41:07.215 java[1:1] ok", "forged\\n2026-12-09 06:41:07.215 java[1:1] ok"},
        {"back\rover", "back\\rover"},
        {"\x1b[31mred\x1b[0m\t!", "\\x1b[31mred\\x1b[0m\\t!"},
        {std::string("nul\0del\x7f", 8), "nul\\x00del\\x7f"},
        {"C1 \xc2\x9b" "2J and NEL \xc2\x85, not \xc2\xa0 or \xc3\xa9 or \\n", "C1 \\u009b2J and NEL \\u0085, not \xc2\xa0 or \xc3\xa9 or \\n"},
        {"cut at the end \xc2", "cut at the end \xc2"},
    };
    for (const auto& c : cases) {
        const std::string text = captureStderr([&] { kestrane::logLine(c.message); });
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
        EXPECT_EQ(parseLogLine(text.substr(0, text.size() - 1)).second, c.written);
    }
}

// A burst logs each cause when it first comes and its repeats when it ends; the next burst
// starts afresh.
TEST(LogBurst, EachCauseOnceAndItsRepeatsAtTheEnd) {
    kestrane::LogBurst burst;
    auto messages = [](const std::string& text) {
        std::vector<std::string> out;
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) out.push_back(parseLogLine(line).second);
        return out;
    };
    const std::string during = captureStderr([&] {
        for (const char* cause : {"a", "a", "b", "a"}) burst.report(cause, std::string("failed: ") + cause);
    });
    EXPECT_EQ(messages(during), (std::vector<std::string>{"failed: a", "failed: b"}));
    EXPECT_EQ(messages(captureStderr([&] { burst.end(); })), (std::vector<std::string>{"failed: a (and 2 more times)"}));
    EXPECT_EQ(messages(captureStderr([&] {
                  burst.report("a", "again");
                  burst.end();
              })),
              (std::vector<std::string>{"again"}));
}
