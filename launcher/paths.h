// Path and text helpers shared by the launcher's steps.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kestrane::launcher {

// "/a/b/c" -> "/a/b", "/a" -> "/", "a" -> ".".
std::string parentOf(const std::string& path);
// "/a/b/c" -> "c".
std::string nameOf(const std::string& path);
// text with every occurrence of from (not empty) replaced by to, left to right.
std::string replaceAll(std::string text, const std::string& from, const std::string& to);
bool endsWith(const std::string& text, const std::string& suffix);

// The path in standard form: a leading "~" expanded, repeated separators and "." components
// removed, ".." resolved in absolute paths, no trailing separator.
std::string normalizePath(const std::string& path);

bool isRegularFile(const std::string& path);
bool isDirectory(const std::string& path);
bool exists(const std::string& path);
// The names in a folder ("." and ".." left out) in the order the file system lists them;
// none when the folder cannot be read.
std::optional<std::vector<std::string>> listFolder(const std::string& path);
std::optional<std::string> readFile(const std::string& path);

}  // namespace kestrane::launcher
