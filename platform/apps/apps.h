// Applications for a file or URL, from the desktop's application registry through GIO:
// .desktop files in the XDG data folders and the defaults of mimeapps.list.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kestrane::apps {

// The file:// URLs of the .desktop files of every application registered for the URL's
// content type, ordered by orderWithDefaultFirst. A file:// URL's type comes from the file
// (or is guessed from its name when it does not exist); any other URL's type is
// x-scheme-handler/<scheme>. Text that is not a URL, and a file URL that names no file of
// this machine (url.h), give no applications.
std::vector<std::string> applicationUrlsFor(const std::string& url);

// The ordering rule: with at least two candidates and a default, the default stands first and
// once (also when it was not among the candidates); otherwise the candidates as given.
std::vector<std::string> orderWithDefaultFirst(std::vector<std::string> candidates,
                                               const std::optional<std::string>& defaultApplication);

// Opens the file at path with the application named by a desktop-file ID
// ("org.example.Player.desktop"), the path of a .desktop file, an application's displayed
// name, or an executable's name or path. False without launching anything when the file does
// not exist or no such application is registered; otherwise whether the launch succeeded.
bool openFileWithApplication(const std::string& path, const std::string& application);

}  // namespace kestrane::apps
