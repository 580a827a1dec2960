// The error rule against a real JVM, and the shape of the diagnostic log.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "errors.h"
#include "jvm.h"
#include "log.h"

using kestrane::test::jniEnv;
using kestrane::test::takePendingException;

TEST(ErrorRule, ThrowsAnExistingClassWithItsMessage) {
    JNIEnv* env = jniEnv();
    EXPECT_TRUE(kestrane::jni::throwJava(env, "java/io/FileNotFoundException", "R\xC3\xA9sum\xC3\xA9 missing"));
    EXPECT_EQ(takePendingException(env), "java.io.FileNotFoundException: Résumé missing");
}

TEST(ErrorRule, MissingClassLeavesTheLookupErrorAndThrowsNothingElse) {
    JNIEnv* env = jniEnv();
    EXPECT_FALSE(kestrane::jni::throwJava(env, "com/kestrane/NoSuchException", "never seen"));
    const std::string pending = takePendingException(env);
    EXPECT_EQ(pending.rfind("java.lang.NoClassDefFoundError: com/kestrane/NoSuchException", 0), 0u) << pending;
}

namespace {

// Runs body with standard error redirected to a temporary file and returns what was written.
template <class Body>
std::string captureStderr(Body body) {
    std::fflush(stderr);
    char path[] = "/tmp/logtestXXXXXX";
    const int fd = mkstemp(path);
    const int saved = dup(STDERR_FILENO);
    dup2(fd, STDERR_FILENO);
    body();
    dup2(saved, STDERR_FILENO);
    close(saved);
    close(fd);
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    unlink(path);
    return text.str();
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
    const std::regex shape(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \S+\[(\d+):(\d+)\] thread \d+ line \d+ (x{200}|y{200})$)");
    std::istringstream lines(text);
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, shape)) << line;
        EXPECT_EQ(std::stol(m[1]), static_cast<long>(getpid()));
        ++count;
    }
    EXPECT_EQ(count, kThreads * kLines);
}

TEST(Log, LongMessagesAreNotTruncated) {
    const std::string big(5000, 'z');
    const std::string text = captureStderr([&] { kestrane::logFormat("%s|end", big.c_str()); });
    EXPECT_NE(text.find(big + "|end\n"), std::string::npos);
}
