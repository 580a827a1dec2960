// The folder table with HOME, XDG_* and user-dirs.dirs pointed at a temporary folder before
// GLib reads any of them.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "folders.h"

namespace fs = std::filesystem;

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

}  // namespace

using kestrane::folders::Domain;
using kestrane::folders::Folder;
using kestrane::folders::folderPath;

TEST(Folders, EveryFolderInBothDomains) {
    const std::string h = home.string();
    struct Row {
        Folder folder;
        std::string user, local;  // "" for none
    };
    const Row rows[] = {
        {Folder::applications, h + "/data/applications", "/usr/share/applications"},
        {Folder::library, h + "/data", "/usr/local/share"},
        {Folder::users, "", "/home"},
        {Folder::documents, h + "/Documents", ""},  // not in user-dirs.dirs: the fallback
        {Folder::autosavedInformation, h + "/.local/state", ""},
        {Folder::desktop, "/elsewhere/Desk", ""},
        {Folder::caches, h + "/.cache", "/var/cache"},
        {Folder::applicationSupport, h + "/data", "/usr/local/share"},
        {Folder::downloads, h + "/Downloads", ""},
        {Folder::movies, h + "/Videos", ""},
        {Folder::music, h + "/Musik", ""},  // $HOME written out
        {Folder::pictures, h + "/Pictures", ""},
        {Folder::sharedPublic, h + "/Public", ""},
        {Folder::trash, h + "/data/Trash", ""},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(folderPath(row.folder, Domain::user).value_or(""), row.user) << static_cast<int>(row.folder);
        EXPECT_EQ(folderPath(row.folder, Domain::local).value_or(""), row.local) << static_cast<int>(row.folder);
    }
}

TEST(Folders, ChangesToTheEnvironmentCountAtOnce) {
    setenv("XDG_CACHE_HOME", "/tmp/other-cache", 1);
    EXPECT_EQ(folderPath(Folder::caches, Domain::user), "/tmp/other-cache");
    setenv("XDG_CACHE_HOME", "relative/cache", 1);  // not absolute: the default
    EXPECT_EQ(folderPath(Folder::caches, Domain::user), home.string() + "/.cache");
    unsetenv("XDG_CACHE_HOME");
}
