// kestrane-bundle create: an application bundle made from a folder of jars.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tool_support.h"

namespace kestrane::bundletool {

struct CreateOptions {
    std::string name;        // N: the bundle is N.app
    std::string identifier;  // reverse domain name, also the desktop entry's and icon's name
    std::string version;
    std::string mainClass;   // one of mainClass and mainJar
    std::string mainJar;     // a jar's file name inside input
    std::filesystem::path input;
    std::optional<std::filesystem::path> icon;
    std::optional<std::filesystem::path> runtime;  // a JDK that jlink makes the bundle's runtime from
    std::vector<std::string> addModules;
    std::vector<FileType> fileTypes;
    std::vector<std::string> jvmOptions;
    std::vector<std::string> arguments;
    std::string categories = "Utility;";
    std::filesystem::path dest;
};

// Where the launcher and the three libraries that go into every bundle are found.
struct Payload {
    std::filesystem::path launcher;
    std::vector<std::filesystem::path> libraries;
};
// Beside the running tool (the build tree) or in ../lib/kestrane (an installation).
Payload findPayload();

// Makes dest/N.app, replacing a bundle of that name; returns its path. Nothing is left in dest
// when it fails.
std::filesystem::path createBundle(const CreateOptions& options, const Payload& payload);

// The name that Java's X11 toolkit gives the windows of an application whose main class is
// mainClass ("module/class" allowed): the class's binary name with dots made dashes.
std::string windowClassOf(const std::string& mainClass);

}  // namespace kestrane::bundletool
