// Applications through GIO, against .desktop files, a MIME database and mimeapps.list in a
// temporary XDG tree, with a private session bus. Each application's Exec is a script that
// records its arguments.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

#include "apps.h"
#include "session_bus.h"
#include "test_files.h"

namespace fs = std::filesystem;
using kestrane::apps::applicationUrlsFor;
using kestrane::apps::openFileWithApplication;
using kestrane::apps::orderWithDefaultFirst;

namespace {

fs::path root;
std::unique_ptr<kestrane::test::PrivateSessionBus> bus;

using kestrane::test::writeFile;

std::string desktopUrl(const std::string& id) { return "file://" + (root / "data/applications" / id).string(); }

class Environment : public ::testing::Environment {
public:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "appsXXXXXX").string();
        root = mkdtemp(pattern.data());
        setenv("HOME", root.c_str(), 1);
        setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
        setenv("XDG_DATA_DIRS", (root / "none").c_str(), 1);  // no system applications
        setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
        setenv("XDG_CONFIG_DIRS", (root / "none").c_str(), 1);
        bus = std::make_unique<kestrane::test::PrivateSessionBus>();
        writeFile(root / "data/mime/packages/kestrane.xml",
                  "<?xml version=\"1.0\"?>\n<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
                  "<mime-type type=\"audio/x-kestrane-test\"><glob pattern=\"*.kestranetest\"/></mime-type>\n"
                  "</mime-info>\n");
        ASSERT_EQ(std::system(("update-mime-database " + (root / "data/mime").string() + " >/dev/null 2>&1").c_str()), 0);
        const std::string rec = (root / "record").string();
        writeFile(root / "bin/recordA", "#!/bin/sh\necho \"A $*\" >> " + rec + "\n", true);
        writeFile(root / "bin/recordB", "#!/bin/sh\necho \"B $*\" >> " + rec + "\n", true);
        auto app = [](const std::string& id, const std::string& name, const std::string& exec, const std::string& types) {
            writeFile(root / "data/applications" / id, "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec +
                                                           " %f\nMimeType=" + types + "\n");
        };
        app("org.example.PlayerA.desktop", "Player A", (root / "bin/recordA").string(), "audio/x-kestrane-test;");
        app("org.example.PlayerB.desktop", "Player B", (root / "bin/recordB").string(), "audio/x-kestrane-test;");
        app("org.example.PlayerC.desktop", "Player C", (root / "bin/recordA").string(),
            "audio/x-kestrane-test;x-scheme-handler/kestrane;");
        // As a package install does: the MIME-to-application cache that GIO reads.
        ASSERT_EQ(std::system(("update-desktop-database " + (root / "data/applications").string()).c_str()), 0);
        writeFile(root / "config/mimeapps.list", "[Default Applications]\naudio/x-kestrane-test=org.example.PlayerB.desktop\n");
        writeFile(root / "music/song.kestranetest", "not really audio");
    }
    void TearDown() override {
        bus.reset();
        fs::remove_all(root);
    }
};

const auto* registered = ::testing::AddGlobalTestEnvironment(new Environment);

// Waits until the record file holds a line, then returns the file and removes it.
std::string takeRecord() {
    const fs::path rec = root / "record";
    for (int i = 0; i < 200 && !fs::exists(rec); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::ifstream in(rec);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    fs::remove(rec);
    return text;
}

}  // namespace

TEST(OrderingRule, EveryCase) {
    using V = std::vector<std::string>;
    EXPECT_EQ(orderWithDefaultFirst({"a", "d", "b"}, std::string("d")), (V{"d", "a", "b"}));  // others keep their order
    EXPECT_EQ(orderWithDefaultFirst({"a", "b"}, std::string("d")), (V{"d", "a", "b"}));       // default not a candidate
    EXPECT_EQ(orderWithDefaultFirst({"a"}, std::string("d")), (V{"a"}));                      // one candidate stays
    EXPECT_EQ(orderWithDefaultFirst({}, std::string("d")), (V{}));
    EXPECT_EQ(orderWithDefaultFirst({"d", "a", "d"}, std::string("d")), (V{"d", "a"}));      // once, first
    EXPECT_EQ(orderWithDefaultFirst({"b", "a"}, std::nullopt), (V{"b", "a"}));
}

TEST(Applications, ForAFileATypeAndAScheme) {
    const auto urls = applicationUrlsFor("file://" + (root / "music/song.kestranetest").string());
    ASSERT_EQ(urls.size(), 3u);
    EXPECT_EQ(urls[0], desktopUrl("org.example.PlayerB.desktop"));  // the default first
    EXPECT_NE(std::find(urls.begin(), urls.end(), desktopUrl("org.example.PlayerA.desktop")), urls.end());
    EXPECT_NE(std::find(urls.begin(), urls.end(), desktopUrl("org.example.PlayerC.desktop")), urls.end());
    // A file that does not exist: its type is guessed from the name.
    EXPECT_EQ(applicationUrlsFor("file://" + (root / "music/missing.kestranetest").string()).size(), 3u);
    // The same file on another machine: nothing here opens it.
    EXPECT_TRUE(applicationUrlsFor("file://otherhost.example" + (root / "music/song.kestranetest").string()).empty());
    EXPECT_EQ(applicationUrlsFor("kestrane://open/thing"), (std::vector<std::string>{desktopUrl("org.example.PlayerC.desktop")}));
    EXPECT_TRUE(applicationUrlsFor("nohandler://x").empty());
    EXPECT_TRUE(applicationUrlsFor("not a url").empty());
}

TEST(Applications, OpenAFileByIdPathNameAndExecutable) {
    const std::string song = (root / "music/song.kestranetest").string();
    ASSERT_TRUE(openFileWithApplication(song, "org.example.PlayerA.desktop"));
    EXPECT_EQ(takeRecord(), "A " + song + "\n");
    ASSERT_TRUE(openFileWithApplication(song, (root / "data/applications/org.example.PlayerB.desktop").string()));
    EXPECT_EQ(takeRecord(), "B " + song + "\n");
    ASSERT_TRUE(openFileWithApplication(song, "Player B"));
    EXPECT_EQ(takeRecord(), "B " + song + "\n");
    ASSERT_TRUE(openFileWithApplication(song, "recordB"));
    EXPECT_EQ(takeRecord(), "B " + song + "\n");

    EXPECT_FALSE(openFileWithApplication((root / "music/missing.kestranetest").string(), "Player A"));
    EXPECT_FALSE(openFileWithApplication(song, "No Such Player"));
    EXPECT_FALSE(openFileWithApplication(song, "org.example.Missing.desktop"));
    EXPECT_FALSE(openFileWithApplication(song, ""));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(fs::exists(root / "record"));  // nothing was launched
}
