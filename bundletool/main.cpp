// kestrane-bundle: makes an application bundle around the launcher and the three libraries,
// installs it as a desktop application, and packages it for Debian.
#include <glib.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "create.h"
#include "deb.h"
#include "desktop.h"
#include "tool_support.h"

namespace {

using namespace kestrane::bundletool;
namespace fs = std::filesystem;

constexpr const char* kUsage =
    "usage:\n"
    "  kestrane-bundle create --name N --identifier ID --version V (--main-class C | --main-jar J)\n"
    "      --input DIR [--icon PNG-or-SVG] [--runtime JDK [--add-modules M,...]] [--file-type MIME[:GLOB,...]]...\n"
    "      [--categories 'C;...'] [--jvm-option=O]... [--argument=A]... --dest DIR\n"
    "  kestrane-bundle install [--user | --system] N.app\n"
    "  kestrane-bundle uninstall [--user | --system] N.app-or-ID\n"
    "  kestrane-bundle deb N.app [--dest DIR]\n";

// The options of one command: "--key value" or "--key=value" (the form for values that start
// with a dash), and the words without a dash.
class Arguments {
public:
    Arguments(int argc, char** argv, int first) {
        for (int i = first; i < argc; ++i) {
            std::string word = argv[i];
            if (word.rfind("--", 0) != 0) {
                words_.push_back(word);
                continue;
            }
            const std::size_t equals = word.find('=');
            if (equals != std::string::npos) {
                options_.emplace_back(word.substr(0, equals), word.substr(equals + 1));
            } else if (word == "--user" || word == "--system") {
                options_.emplace_back(word, "");
            } else {
                if (i + 1 >= argc) throw ToolError(word + " needs a value");
                const std::string value = argv[++i];
                if (value.rfind("-", 0) == 0) throw ToolError(word + " " + value + ": write a value that starts with - as " + word + "=" + value);
                options_.emplace_back(word, value);
            }
        }
    }
    // Every value given for key, in order.
    std::vector<std::string> all(const std::string& key) {
        std::vector<std::string> values;
        for (auto& [k, v] : options_) {
            if (k == key) values.push_back(v), k.clear();
        }
        return values;
    }
    std::string one(const std::string& key, bool required) {
        std::vector<std::string> values = all(key);
        if (values.size() > 1) throw ToolError(key + " is given more than once");
        if (values.empty() && required) throw ToolError(key + " is required");
        return values.empty() ? "" : values.front();
    }
    bool flag(const std::string& key) { return !all(key).empty(); }
    // Fails on an option that no command took.
    void checkAllUsed() const {
        for (const auto& [k, v] : options_) {
            if (!k.empty()) throw ToolError("unknown option " + k);
        }
    }
    const std::vector<std::string>& words() const { return words_; }

private:
    std::vector<std::pair<std::string, std::string>> options_;
    std::vector<std::string> words_;
};

std::vector<std::string> splitCommas(const std::string& text) {
    std::vector<std::string> parts;
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        if (comma > at) parts.push_back(text.substr(at, comma - at));
        at = comma + 1;
    }
    return parts;
}

int create(Arguments& args) {
    CreateOptions o;
    o.name = args.one("--name", true);
    o.identifier = args.one("--identifier", true);
    o.version = args.one("--version", true);
    o.mainClass = args.one("--main-class", false);
    o.mainJar = args.one("--main-jar", false);
    o.input = args.one("--input", true);
    o.dest = args.one("--dest", true);
    if (auto icon = args.one("--icon", false); !icon.empty()) o.icon = icon;
    if (auto runtime = args.one("--runtime", false); !runtime.empty()) o.runtime = runtime;
    for (const auto& list : args.all("--add-modules")) {
        for (auto& m : splitCommas(list)) o.addModules.push_back(std::move(m));
    }
    if (!o.addModules.empty() && !o.runtime) throw ToolError("--add-modules needs --runtime");
    for (const auto& type : args.all("--file-type")) o.fileTypes.push_back(parseFileType(type));
    if (auto categories = args.one("--categories", false); !categories.empty())
        o.categories = categories.back() == ';' ? categories : categories + ";";
    o.jvmOptions = args.all("--jvm-option");
    o.arguments = args.all("--argument");
    args.checkAllUsed();
    if (!args.words().empty()) throw ToolError("create takes no word " + args.words().front());
    std::printf("%s\n", createBundle(o, findPayload()).c_str());
    return 0;
}

int installOrUninstall(Arguments& args, bool installing) {
    const bool user = args.flag("--user"), system = args.flag("--system");
    args.checkAllUsed();
    if (user && system) throw ToolError("give --user or --system, not both");
    if (args.words().size() != 1) throw ToolError("name one bundle");
    if (installing) install(args.words().front(), system);
    else uninstall(args.words().front(), system);
    return 0;
}

int deb(Arguments& args) {
    std::string dest = args.one("--dest", false);
    args.checkAllUsed();
    if (args.words().size() != 1) throw ToolError("name one bundle");
    std::printf("%s\n", makeDeb(args.words().front(), dest.empty() ? fs::current_path() : fs::path(dest)).c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    const std::string_view command = argv[1];
    try {
        Arguments args(argc, argv, 2);
        if (command == "create") return create(args);
        if (command == "install") return installOrUninstall(args, true);
        if (command == "uninstall") return installOrUninstall(args, false);
        if (command == "deb") return deb(args);
        std::fprintf(stderr, "kestrane-bundle: unknown command %s\n%s", argv[1], kUsage);
        return 2;
    } catch (const ToolError& error) {
        std::fprintf(stderr, "kestrane-bundle %s: %s\n", argv[1], error.what());
    } catch (const fs::filesystem_error& error) {
        std::fprintf(stderr, "kestrane-bundle %s: %s\n", argv[1], error.what());
    }
    return 1;
}
