// The file-URL rule and percent-encoding, as tables of texts and what they give.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cctype>
#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "url.h"
#include "url_invariants.h"

namespace url = kestrane::url;
using url::FileUrlError;

namespace {

// The path, or the error's name: one text per row keeps the tables short.
std::string outcome(std::string_view text) {
    const kestrane::Expected<std::string> path = url::parseFileUrl(text);
    if (path) return *path;
    switch (path.error().as<FileUrlError>().value_or(FileUrlError{})) {
        case FileUrlError::notFileUrl: return "!notFileUrl";
        case FileUrlError::otherHost: return "!otherHost";
        case FileUrlError::malformed: return "!malformed";
        case FileUrlError::nulCharacter: return "!nulCharacter";
    }
    return "!?";
}

std::string hostName() {
    char name[HOST_NAME_MAX + 1] = {};
    gethostname(name, sizeof name - 1);
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

}  // namespace

TEST(FileUrls, OnlyThisMachinesAbsolutePathsParse) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"file:///music/a%20b.flac", "/music/a b.flac"},
        {"file:///caf%C3%A9", "/caf\xC3\xA9"},
        {"file://localhost/music/a.flac", "/music/a.flac"},
        {"FILE://LocalHost/x", "/x"},
        {"file://" + hostName() + "/x", "/x"},  // this machine's name, in another case
        {"file:/tmp/x", "/tmp/x"},              // no authority, as java.io.File.toURI writes
        {"file:///", "/"},
        {"file:///a/../b/./c", "/a/../b/./c"},  // left to the file system
        {"file:///a%2Fb", "/a/b"},
        {"file:///a b/\xC3\xA9", "/a b/\xC3\xA9"},  // unescaped bytes taken as written
        {"file://localhost/C:/Users/ann/x.mp3", "/C:/Users/ann/x.mp3"},
        {"file://otherhost.example/tmp/x", "!otherHost"},
        {"file://localhost:80/x", "!otherHost"},
        {"file://localhost", "!malformed"},
        {"file://", "!malformed"},
        {"file:", "!malformed"},
        {"file:relative/x", "!malformed"},
        {"file:///a?b", "!malformed"},
        {"file:///a#b", "!malformed"},
        {"file://localhost?x", "!malformed"},
        {"file:///a%2", "!malformed"},
        {"file:///a%zz", "!malformed"},
        {"file:///a%", "!malformed"},
        {"file:///a%00b", "!nulCharacter"},
        {std::string("file:///a\0b", 11), "!nulCharacter"},
        {"/music/a.flac", "!notFileUrl"},
        {"http://example.com/a.flac", "!notFileUrl"},
        {"files:///x", "!notFileUrl"},
        {"not a url", "!notFileUrl"},
        {"", "!notFileUrl"},
    };
    for (const auto& [text, expected] : rows) EXPECT_EQ(outcome(text), expected) << text;
    EXPECT_EQ(url::localPathOfFileUrl("file:///x%20y"), "/x y");
    EXPECT_EQ(url::localPathOfFileUrl("file://elsewhere/x"), std::nullopt);
}

TEST(FileUrls, MadeUrlsEscapeAllButUnreservedBytesAndSlashes) {
    EXPECT_EQ(url::fileUrlOf("/a b/\xC3\xA9?#%;.flac"), "file:///a%20b/%C3%A9%3F%23%25%3B.flac");
    EXPECT_EQ(url::fileUrlOf("/Az09-._~"), "file:///Az09-._~");
    // Share texts keep no slash: a URL inside them is one value.
    const std::string text = "Tom & Jerry\nsing \"\xC3\xA9t\xC3\xA9\" 100% at https://example.org/a?b=1.";
    EXPECT_EQ(url::percentEncode(text), "Tom%20%26%20Jerry%0Asing%20%22%C3%A9t%C3%A9%22%20100%25%20at%20https%3A%2F%2Fexample.org%2Fa%3Fb%3D1.");
    EXPECT_EQ(url::percentDecode("iTunes%20Media"), "iTunes Media");
    for (const char* bad : {"%", "%4", "%g0", "a%00"}) EXPECT_EQ(url::percentDecode(bad), std::nullopt) << bad;
}

TEST(FileUrls, FuzzRegressionInputsKeepTheInvariants) {
    std::size_t inputs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(KESTRANE_URL_FUZZ_REGRESSIONS)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(kestrane::url::test::brokenInvariant(bytes), nullptr) << entry.path();
        ++inputs;
    }
    EXPECT_GT(inputs, 0u);
}
