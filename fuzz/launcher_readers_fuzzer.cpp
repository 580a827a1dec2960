// libFuzzer target: the launcher's readers of a bundle's Info.plist, its Localizable.strings
// tables and the user's preference files, on any bytes: settings or nothing, never a crash.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "arguments.h"
#include "info_plist.h"
#include "strings_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const kestrane::bundle::Settings settings = kestrane::bundle::parseInfoPlist(bytes);
    for (const char* key : {"JVMMainClassName", "JVMOptions", "JVMDefaultOptions", "IgnorePSN"}) {
        (void)settings.string(key);
        (void)settings.stringArray(key);
        (void)settings.stringDictionary(key);
        (void)settings.truth(key);
    }
    (void)kestrane::launcher::parseStringsTable(bytes);
    (void)kestrane::launcher::parsePrefsXml(bytes);
    return 0;
}
