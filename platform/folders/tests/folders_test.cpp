// The folder table with HOME, XDG_* and user-dirs.dirs pointed at a temporary folder before
// GLib reads any of them.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "folders.h"

namespace fs = std::filesystem;
using kestrane::folders::searchPathForDirectoriesInDomains;

namespace {

fs::path home;

class Environment : public ::testing::Environment {
public:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "foldersXXXXXX").string();
        home = mkdtemp(pattern.data());
        setenv("HOME", home.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
        unsetenv("XDG_CACHE_HOME");
        unsetenv("XDG_STATE_HOME");
        fs::create_directories(home / "config");
        std::ofstream(home / "config/user-dirs.dirs") << "XDG_MUSIC_DIR=\"$HOME/Musik\"\n"
                                                          "XDG_DESKTOP_DIR=\"/elsewhere/Desk\"\n";
    }
    void TearDown() override { fs::remove_all(home); }
};

const auto* registered = ::testing::AddGlobalTestEnvironment(new Environment);

std::string first(long directory, long mask) {
    auto list = searchPathForDirectoriesInDomains(directory, mask);
    return list.empty() ? "" : list.front();
}

}  // namespace

TEST(Folders, UserDomain) {
    const std::string h = home.string();
    EXPECT_EQ(first(1, 1), h + "/data/applications");
    EXPECT_EQ(first(5, 1), h + "/data");
    EXPECT_EQ(first(9, 1), h + "/Documents");  // not in user-dirs.dirs: the fallback
    EXPECT_EQ(first(11, 1), h + "/.local/state");
    EXPECT_EQ(first(12, 1), "/elsewhere/Desk");
    EXPECT_EQ(first(13, 1), h + "/.cache");
    EXPECT_EQ(first(14, 1), h + "/data");
    EXPECT_EQ(first(15, 1), h + "/Downloads");
    EXPECT_EQ(first(17, 1), h + "/Videos");
    EXPECT_EQ(first(18, 1), h + "/Musik");  // $HOME written out
    EXPECT_EQ(first(19, 1), h + "/Pictures");
    EXPECT_EQ(first(21, 1), h + "/Public");
    EXPECT_EQ(first(102, 1), h + "/data/Trash");
    EXPECT_EQ(first(7, 1), "");
}

TEST(Folders, LocalDomainAndCombinedMasks) {
    EXPECT_EQ(first(1, 2), "/usr/share/applications");
    EXPECT_EQ(first(5, 2), "/usr/local/share");
    EXPECT_EQ(first(14, 2), "/usr/local/share");
    EXPECT_EQ(first(13, 2), "/var/cache");
    EXPECT_EQ(first(7, 2), "/home");
    EXPECT_EQ(first(18, 2), "");
    EXPECT_EQ(searchPathForDirectoriesInDomains(13, 3),
              (std::vector<std::string>{home.string() + "/.cache", "/var/cache"}));
    EXPECT_EQ(searchPathForDirectoriesInDomains(7, 0xFFFF), (std::vector<std::string>{"/home"}));
    EXPECT_TRUE(searchPathForDirectoriesInDomains(13, 4).empty());   // network domain: nothing
    EXPECT_TRUE(searchPathForDirectoriesInDomains(999, 0xFFFF).empty());
    EXPECT_TRUE(searchPathForDirectoriesInDomains(-1, 1).empty());
}
