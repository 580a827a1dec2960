// Resource values on real extended attributes of files in a temporary folder.
#include <gtest/gtest.h>

#include <sys/xattr.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "filetags.h"
#include "test_files.h"
#include "test_plists.h"

namespace fs = std::filesystem;
namespace ft = kestrane::filetags;

namespace {

class FileTags : public ::testing::Test {
protected:
    kestrane::test::TempFolder folder{"filetags"};
    fs::path dir = folder.path();
    fs::path file;
    void SetUp() override {
        file = dir / "song.flac";
        std::ofstream(file) << "12345";
        if (setxattr(file.c_str(), "user.probe", "x", 1, 0) != 0) {
            FAIL() << "the temporary folder " << dir << " has no user extended attributes; point TMPDIR at one that has";
        }
    }
};

}  // namespace

TEST_F(FileTags, TagsRoundTripInOrderWithCommasAndUnicode) {
    const ft::StringList tags = {"Röck", "with, comma", "back\\slash", "🎵", ""};
    ASSERT_TRUE(ft::setResourceValue(file, "NSURLTagNamesKey", tags));
    auto value = ft::getResourceValue(file, "NSURLTagNamesKey");
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(std::get<ft::StringList>(*value), tags);
    // Stored where desktop search and file managers read them.
    char raw[256] = {};
    const ssize_t n = getxattr(file.c_str(), "user.xdg.tags", raw, sizeof raw);
    EXPECT_EQ(std::string(raw, static_cast<std::size_t>(n)), "Röck,with\\, comma,back\\\\slash,🎵,");

    ASSERT_TRUE(ft::setResourceValue(file, "NSURLTagNamesKey", ft::StringList{}));
    EXPECT_EQ(std::get<ft::StringList>(*ft::getResourceValue(file, "NSURLTagNamesKey")), ft::StringList{});
    EXPECT_FALSE(ft::setResourceValue(file, "NSURLTagNamesKey", ft::Integer{3}));  // tags are a list
}

TEST_F(FileTags, TypedValuesKeepTheirKind) {
    ASSERT_TRUE(ft::setResourceValue(file, "rating", ft::Integer{-42}));
    EXPECT_EQ(std::get<ft::Integer>(*ft::getResourceValue(file, "rating")).value, -42);
    ASSERT_TRUE(ft::setResourceValue(file, "ratio", ft::Real{1.9}));
    EXPECT_EQ(std::get<ft::Real>(*ft::getResourceValue(file, "ratio")).value, 1.9);
    ASSERT_TRUE(ft::setResourceValue(file, "flag", ft::Boolean{true}));
    EXPECT_TRUE(std::get<ft::Boolean>(*ft::getResourceValue(file, "flag")).value);
    ASSERT_TRUE(ft::setResourceValue(file, "label", ft::Text{"x"}));
    EXPECT_EQ(std::get<ft::Text>(*ft::getResourceValue(file, "label")).value, "x");
    ASSERT_TRUE(ft::setResourceValue(file, "list", ft::StringList{"b", "a"}));
    EXPECT_EQ(std::get<ft::StringList>(*ft::getResourceValue(file, "list")), (ft::StringList{"b", "a"}));
    EXPECT_FALSE(ft::getResourceValue(file, "never-set").has_value());
    // Garbage in an attribute reads as no value, not as a crash.
    ASSERT_EQ(setxattr(file.c_str(), "user.kestrane.broken", "bplist00\xff\xff", 10, 0), 0);
    EXPECT_FALSE(ft::getResourceValue(file, "broken").has_value());
}

TEST_F(FileTags, ValuesOfTheFileItselfAreReadOnly) {
    fs::create_directory(dir / ".hidden");
    fs::create_symlink(file, dir / "link");
    EXPECT_EQ(std::get<ft::Integer>(*ft::getResourceValue(file, "NSURLFileSizeKey")).value, 5);
    EXPECT_FALSE(std::get<ft::Boolean>(*ft::getResourceValue(file, "NSURLIsDirectoryKey")).value);
    EXPECT_TRUE(std::get<ft::Boolean>(*ft::getResourceValue(file, "NSURLIsRegularFileKey")).value);
    EXPECT_TRUE(std::get<ft::Boolean>(*ft::getResourceValue(dir / ".hidden", "NSURLIsHiddenKey")).value);
    EXPECT_TRUE(std::get<ft::Boolean>(*ft::getResourceValue(dir / ".hidden", "NSURLIsDirectoryKey")).value);
    EXPECT_TRUE(std::get<ft::Boolean>(*ft::getResourceValue(dir / "link", "NSURLIsSymbolicLinkKey")).value);
    EXPECT_EQ(std::get<ft::Text>(*ft::getResourceValue(file, "NSURLNameKey")).value, "song.flac");
    EXPECT_FALSE(ft::setResourceValue(file, "NSURLFileSizeKey", ft::Integer{1}));
    EXPECT_FALSE(ft::setResourceValue(file, "NSURLNameKey", ft::Text{"other"}));
}

TEST_F(FileTags, MissingFilesAndOversizedValuesFail) {
    const fs::path missing = dir / "missing.mp3";
    EXPECT_FALSE(ft::setResourceValue(missing, "NSURLTagNamesKey", ft::StringList{"a"}));
    EXPECT_FALSE(ft::setResourceValue(missing, "NSURLTagNamesKey", ft::StringList{}));
    EXPECT_FALSE(ft::setResourceValue(missing, "rating", ft::Integer{1}));
    EXPECT_FALSE(ft::getResourceValue(missing, "NSURLTagNamesKey").has_value());
    EXPECT_FALSE(ft::getResourceValue(missing, "NSURLFileSizeKey").has_value());
    EXPECT_FALSE(ft::setResourceValue(file, "NSURLTagNamesKey", ft::StringList{std::string(200000, 'x')}));
}

TEST_F(FileTags, KeysAndPathsWithUPlus0000OrNoNameAreRefused) {
    for (const std::string& key : {std::string(""), std::string("k\0x", 3)}) {
        EXPECT_FALSE(ft::setResourceValue(file.string(), key, ft::Integer{1}));
        EXPECT_FALSE(ft::getResourceValue(file.string(), key).has_value());
    }
    EXPECT_FALSE(ft::setResourceValue(file.string() + std::string("\0x", 2), "k", ft::Integer{1}));
    EXPECT_FALSE(ft::setResourceValue(file.string(), "NSURLTagNamesKey", ft::StringList{"ok", std::string("a\0b", 3)}));
    char buffer[256];
    for (const char* name : {"user.kestrane.", "user.kestrane.k", "user.xdg.tags"}) {
        EXPECT_LT(getxattr(file.c_str(), name, buffer, sizeof buffer), 0) << name;  // nothing written
    }
}

// A binary property list in which every array refers to the next one twice: decoding it
// naively would visit 2^60 objects. (The bound itself is platform/plist's, tested there.)
TEST_F(FileTags, ATypedValueWhoseDecodingWouldNotEndIsRefusedAtOnce) {
    const std::string plist = kestrane::test::binaryPlistChain(60, 2);
    ASSERT_EQ(setxattr(file.c_str(), "user.kestrane.dag", plist.data(), plist.size(), 0), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(ft::getResourceValue(file.string(), "dag").has_value());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    // The same shape as a tree (each level referring to the next once) is a value.
    EXPECT_TRUE(ft::decodeValue(kestrane::test::binaryPlistChain(60, 1)).has_value());
}

// Lists near the decoder's bound take tens of kilobytes: more than ext4 holds beside a file,
// so these run where large attributes fit (tmpfs, as /dev/shm is).
TEST(LargeValues, TheSetterStoresOnlyWhatTheGetterReads) {
    std::optional<kestrane::test::TempFolder> folder;
    fs::path file;
    for (const fs::path& parent : {fs::temp_directory_path(), fs::path("/dev/shm")}) {
        if (!fs::is_directory(parent)) continue;
        folder.emplace("filetags", parent);
        file = folder->path() / "song.flac";
        std::ofstream(file) << "x";
        const std::string probe(60000, 'p');
        if (setxattr(file.c_str(), "user.probe", probe.data(), probe.size(), 0) == 0) break;
        folder.reset();
    }
    if (!folder) GTEST_SKIP() << "no file system here holds 60 kB extended attributes (neither TMPDIR nor /dev/shm)";

    auto strings = [](std::size_t n) {
        ft::StringList list;
        for (std::size_t i = 0; i < n; ++i) list.push_back("t" + std::to_string(i));
        return list;
    };
    struct Case {
        std::string key;
        ft::StringList list;
        bool stored;
    };
    const Case cases[] = {
        {"list", strings(ft::kMaxValueObjects - 1), true},  // with the array, exactly the bound
        {"list", strings(ft::kMaxValueObjects), false},
        {"list", strings(ft::kMaxValueObjects + 1), false},
        {"list", {"same", "same", ""}, true},
        {"list", {""}, true},
        {"NSURLTagNamesKey", strings(ft::kMaxValueObjects + 1), true},  // plain text: no object bound
        {"NSURLTagNamesKey", {""}, false},
    };
    for (const Case& c : cases) {
        const ft::StringList before = {"before"};
        ASSERT_TRUE(ft::setResourceValue(file, c.key, before));
        EXPECT_EQ(ft::setResourceValue(file, c.key, c.list), c.stored) << c.key << " " << c.list.size();
        const auto value = ft::getResourceValue(file, c.key);
        ASSERT_TRUE(value.has_value()) << c.key << " " << c.list.size();
        EXPECT_EQ(std::get<ft::StringList>(*value), c.stored ? c.list : before) << c.key << " " << c.list.size();
    }
}

TEST(TagText, SplitUndoesJoin) {
    for (const ft::StringList& tags : {ft::StringList{}, ft::StringList{"a"}, ft::StringList{",", "\\", "a,b\\c"}}) {
        EXPECT_EQ(ft::splitTags(ft::joinTags(tags)), tags);
    }
    EXPECT_EQ(ft::splitTags("Blue,Red"), (ft::StringList{"Blue", "Red"}));  // as other tools write them
}

// Inputs the fuzzer has found or started from decode to a value or to none.
TEST(TypedValues, FuzzRegressionInputsDecodeOrFailCleanly) {
    int values = 0;
    for (const auto& entry : fs::directory_iterator(KESTRANE_FILETAGS_FUZZ_REGRESSIONS)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        values += ft::decodeValue(bytes).has_value();
    }
    EXPECT_GE(values, 5);  // the seeds are values
}
