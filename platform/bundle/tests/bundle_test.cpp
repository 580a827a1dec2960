// Bundles made in a temporary folder: their Info.plist in every form a reader meets, and a
// shared object copied inside one to find it from its code.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cerrno>
#include <chrono>
#include <filesystem>

#include "bundle_info.h"
#include "info_plist.h"
#include "test_files.h"
#include "test_plists.h"

namespace fs = std::filesystem;
namespace bd = kestrane::bundle;
using kestrane::test::writeFile;

namespace {

std::string xmlInfo(const std::string& entries) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" + entries + "</dict></plist>\n";
}

std::string binaryInfo(const std::string& name) {
    const kestrane::plist::PlistPtr dict(plist_new_dict());
    plist_dict_set_item(dict.get(), "CFBundleName", plist_new_string(name.c_str()));
    char* raw = nullptr;
    uint32_t length = 0;
    plist_to_bin(dict.get(), &raw, &length);
    const kestrane::plist::PlistBytesPtr bytes(raw);
    return std::string(bytes.get(), length);
}

}  // namespace

TEST(InfoPlist, ReadWhenWellFormedAndWithinBounds) {
    const kestrane::test::TempFolder folder("bundleinfo");
    const std::string name = "<key>CFBundleName</key><string>Kestrane Demo</string>";
    const std::string padding = "<key>Padding</key><string>" + std::string(bd::kMaxInfoPlistBytes, 'x') + "</string>";
    const struct {
        const char* what;
        std::optional<std::string> file;  // none: no Info.plist at all
        std::optional<std::string> name;
    } rows[] = {
        {"XML", xmlInfo(name + "<key>CFBundleIconName</key><string>kestrane-demo</string>"
                               "<key>CFBundleIdentifier</key><string>com.kestrane.demo</string>"),
         "Kestrane Demo"},
        {"binary", binaryInfo("Bin\xC3\xA4r"), "Bin\xC3\xA4r"},
        {"oversized", xmlInfo(name + padding), std::nullopt},
        {"missing", std::nullopt, std::nullopt},
        {"malformed", "<plist><dict><key>CFBundleName</key><string>Kestrane", std::nullopt},
        {"not a dictionary", "<plist><array><string>Kestrane</string></array></plist>", std::nullopt},
        {"name of another kind", xmlInfo("<key>CFBundleName</key><integer>7</integer>"), std::nullopt},
        {"exponential binary", kestrane::test::binaryPlistChain(40, 2), std::nullopt},
    };
    for (const auto& row : rows) {
        const fs::path bundle = folder.path() / (std::string(row.what) + ".app");
        fs::create_directories(bundle / "Contents");
        if (row.file) writeFile(bundle / "Contents/Info.plist", *row.file);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(bd::readBundleInfo(bundle.string()).name, row.name) << row.what;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << row.what;
    }
    EXPECT_EQ(bd::readBundleInfo((folder.path() / "XML.app").string()).iconName, "kestrane-demo");
    EXPECT_EQ(bd::readBundleInfo((folder.path() / "XML.app").string()).identifier, "com.kestrane.demo");
}

TEST(Bundle, FoundFromTheCodeInsideIt) {
    const kestrane::test::TempFolder folder("bundlecode");
    const fs::path bundle = folder.path() / "Probe.app";
    fs::create_directories(bundle / "Contents/MacOS");
    fs::copy_file(KESTRANE_BUNDLE_PROBE, bundle / "Contents/MacOS/libprobe.so");
    writeFile(bundle / "Contents/Info.plist", xmlInfo("<key>CFBundleName</key><string>Probe</string>"));
    void* library = dlopen((bundle / "Contents/MacOS/libprobe.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    const void* code = dlsym(library, "kestraneBundleProbe");
    ASSERT_NE(code, nullptr);

    EXPECT_EQ(bd::bundleOfCode(code), fs::canonical(bundle).string());
    EXPECT_EQ(bd::applicationName(code), "Probe");
    // Read anew each time: without a name the process's own name stands in.
    writeFile(bundle / "Contents/Info.plist", xmlInfo(""));
    EXPECT_EQ(bd::applicationName(code), program_invocation_short_name);
    // This test's own code is in no bundle.
    const auto self = reinterpret_cast<const void*>(&bd::readBundleInfo);
    EXPECT_EQ(bd::bundleOfCode(self), std::nullopt);
    EXPECT_EQ(bd::applicationName(self), program_invocation_short_name);
    dlclose(library);
}
