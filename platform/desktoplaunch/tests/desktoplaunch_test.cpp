// Sharing and help against stand-in handlers for https and mailto in a sealed XDG tree
// (registered with update-desktop-database); each records the URL it was started with.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "desktoplaunch.h"
#include "session_bus.h"
#include "test_files.h"

namespace fs = std::filesystem;
using namespace kestrane::desktoplaunch;

namespace {

fs::path root;
std::unique_ptr<kestrane::test::PrivateSessionBus> bus;

using kestrane::test::writeFile;

void sealXdg(const fs::path& home) {
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    setenv("XDG_DATA_DIRS", (home / "none").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    setenv("XDG_CONFIG_DIRS", (home / "none").c_str(), 1);
    unsetenv("XDG_CURRENT_DESKTOP");
}

class Environment : public ::testing::Environment {
public:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "desktoplaunchXXXXXX").string();
        root = mkdtemp(pattern.data());
        if (std::getenv("KESTRANE_DESKTOPLAUNCH_CHILD") != nullptr) return;  // an empty tree of its own
        sealXdg(root);
        bus = std::make_unique<kestrane::test::PrivateSessionBus>();
        for (const char* kind : {"browser", "mail"}) {
            writeFile(root / "bin" / kind, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> " + (root / kind).string() + ".record\n", true);
        }
        writeFile(root / "data/applications/test-browser.desktop",
                  "[Desktop Entry]\nType=Application\nName=Browser\nExec=" + (root / "bin/browser").string() +
                      " %u\nMimeType=x-scheme-handler/https;x-scheme-handler/http;text/html;\n");
        writeFile(root / "data/applications/test-mail.desktop", "[Desktop Entry]\nType=Application\nName=Mail\nExec=" +
                                                                    (root / "bin/mail").string() + " %u\nMimeType=x-scheme-handler/mailto;\n");
        writeFile(root / "config/mimeapps.list", "[Default Applications]\nx-scheme-handler/https=test-browser.desktop\n"
                                                 "x-scheme-handler/mailto=test-mail.desktop\n");
        ASSERT_EQ(std::system(("update-desktop-database " + (root / "data/applications").string()).c_str()), 0);
    }
    void TearDown() override {
        bus.reset();
        fs::remove_all(root);
    }
};

const auto* environment = ::testing::AddGlobalTestEnvironment(new Environment);

// The lines a handler recorded, once there are count of them (or after five seconds).
std::vector<std::string> recorded(const char* kind, std::size_t count) {
    std::vector<std::string> lines;
    for (int i = 0; i < 100; ++i) {
        lines.clear();
        std::ifstream in(root / (std::string(kind) + ".record"));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        if (lines.size() >= count) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return lines;
}

}  // namespace

TEST(Sharing, IndicesComparedUnsigned) {
    EXPECT_EQ(serviceAt(0), Service::kPostOnX);
    EXPECT_EQ(serviceAt(2), Service::kComposeEmail);
    EXPECT_EQ(serviceAt(3), std::nullopt);
    EXPECT_EQ(serviceAt(-1), std::nullopt);
    EXPECT_EQ(serviceAt(INT32_MIN), std::nullopt);
}

TEST(Sharing, UrlsAndTheirEncoding) {
    const std::string text = "Tom & Jerry\nsing \"\xC3\xA9t\xC3\xA9\" 100% at https://example.org/a?b=1.";
    EXPECT_EQ(shareUrl(Service::kPostOnX, "a b&c"), "https://twitter.com/intent/tweet?text=a%20b%26c");
    EXPECT_EQ(shareUrl(Service::kComposeEmail, "line\nnext"), "mailto:?body=line%0Anext");
    EXPECT_EQ(shareUrl(Service::kPostOnFacebook, text),
              "https://www.facebook.com/sharer/sharer.php?u=https%3A%2F%2Fexample.org%2Fa%3Fb%3D1");
    EXPECT_EQ(shareUrl(Service::kPostOnFacebook, "no link here, not even xhttps://x"), std::nullopt);
    EXPECT_EQ(firstLink("see (http://a.b/c), then"), "http://a.b/c");
}

TEST(Sharing, HandlersReceiveTheShareUrls) {
    EXPECT_TRUE(isConfigured(Service::kPostOnX));
    EXPECT_TRUE(isConfigured(Service::kComposeEmail));
    EXPECT_TRUE(canShare(Service::kPostOnX, "hello"));
    EXPECT_FALSE(canShare(Service::kPostOnFacebook, "hello"));  // no link in it
    EXPECT_TRUE(canShare(Service::kPostOnFacebook, "hello https://kestrane.example/x"));
    share(Service::kPostOnX, "caf\xC3\xA9 & more");
    share(Service::kComposeEmail, "two\nlines");
    EXPECT_EQ(recorded("browser", 1), std::vector<std::string>{"https://twitter.com/intent/tweet?text=caf%C3%A9%20%26%20more"});
    EXPECT_EQ(recorded("mail", 1), std::vector<std::string>{"mailto:?body=two%0Alines"});

    const std::string log = kestrane::test::captureStderr([] {
        EXPECT_FALSE(canShare(Service::kPostOnX, std::nullopt));
        share(Service::kComposeEmail, std::nullopt);
    });
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
    EXPECT_NE(log.find("Cannot share a null text"), std::string::npos);
}

// A share URL travels as one argument of the handler's command line: a text whose URL would
// not fit is refused by canShare and share alike, with one short log line (never the text).
TEST(Sharing, TextsTooLongToHandOnAreRefusedByBothCalls) {
    struct Case {
        Service service;
        std::string text;
        const char* handler;
        bool shared;
    };
    const std::string megabyte(1 << 20, 'a');
    const Case cases[] = {
        {Service::kPostOnX, std::string(20000, 'a'), "browser", true},
        {Service::kPostOnX, std::string(30000, ' '), "browser", false},  // each space takes three bytes
        {Service::kComposeEmail, std::string(kMaxShareUrlLength - 13, 'a'), "mail", true},  // "mailto:?body=" and the text
        {Service::kComposeEmail, std::string(kMaxShareUrlLength - 12, 'a'), "mail", false},
        {Service::kComposeEmail, megabyte, "mail", false},
        {Service::kPostOnFacebook, "see https://example.org/" + megabyte, "browser", false},
    };
    for (const Case& c : cases) {
        const std::string name = std::string(c.handler) + " " + std::to_string(c.text.size());
        EXPECT_EQ(canShare(c.service, c.text), c.shared) << name;
        const std::size_t before = recorded(c.handler, 0).size();
        const std::string log = kestrane::test::captureStderr([&] { share(c.service, c.text); });
        if (c.shared) {
            EXPECT_EQ(log, "") << name;
            // The handler may still be writing its long line: wait for all of it.
            const std::string expected = shareUrl(c.service, c.text).value_or("");
            std::vector<std::string> lines;
            for (int i = 0; i < 100; ++i) {
                lines = recorded(c.handler, before + 1);
                if (lines.size() > before && lines.back().size() >= expected.size()) break;
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            ASSERT_EQ(lines.size(), before + 1) << name;
            EXPECT_TRUE(lines.back() == expected) << name << ": the handler got " << lines.back().size() << " bytes";
        } else {
            EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << name;
            EXPECT_LT(log.size(), 300u) << name;
            EXPECT_NE(log.find("Cannot share a text of " + std::to_string(c.text.size()) + " bytes"), std::string::npos) << log;
        }
    }
}

TEST(Help, OpensTheBundlesPageInTheBrowserWithoutWaiting) {
    const fs::path app = root / "Kestrane Demo.app";  // a space, escaped in the page's URL
    std::string log = kestrane::test::captureStderr([&] {
        showHelp(std::nullopt);
        showHelp(app.string());  // no help file yet
    });
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
    EXPECT_NE(log.find("/Contents/Resources/help/index.html does not exist"), std::string::npos) << log;
    writeFile(app / "Contents/Resources/help/index.html", "<h1>Help</h1>");
    const std::size_t before = recorded("browser", 0).size();
    showHelp(app.string());
    const auto lines = recorded("browser", before + 1);
    ASSERT_EQ(lines.size(), before + 1);
    // GIO hands a local file to the browser as its path.
    EXPECT_EQ(lines.back(), (app / "Contents/Resources/help/index.html").string());
}

// A desktop without default handlers: nothing is set up. GIO reads the handlers once per
// process, so this runs in a child: this binary again, in an empty tree.
TEST(SharingChild, NothingIsSetUpWithoutHandlers) {
    if (std::getenv("KESTRANE_DESKTOPLAUNCH_CHILD") == nullptr) GTEST_SKIP() << "runs as a child of Sharing.NotSetUpWithoutHandlers";
    sealXdg(root);
    const bool any = isConfigured(Service::kPostOnX) || isConfigured(Service::kComposeEmail) || canShare(Service::kPostOnX, "x");
    _exit(any ? 1 : 0);
}

TEST(Sharing, NotSetUpWithoutHandlers) {
    const pid_t child = fork();
    if (child == 0) {
        setenv("KESTRANE_DESKTOPLAUNCH_CHILD", "1", 1);
        execl("/proc/self/exe", "desktoplaunch_tests", "--gtest_filter=SharingChild.*", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
