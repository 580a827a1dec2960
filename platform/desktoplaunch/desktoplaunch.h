// Handing things to the desktop's default applications: text to a sharing service (a web
// share page in the default browser, or an e-mail in the default mail program), and the
// application's help to the browser. The desktop's defaults come from GIO (mimeapps.list).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "expected.h"

namespace kestrane::desktoplaunch {

// The three services behind the sharing indices: the share pages of X (formerly Twitter) and
// Facebook, and an e-mail.
enum class Service { kPostOnX = 0, kPostOnFacebook = 1, kComposeEmail = 2 };

// The service at index, compared as an unsigned number; none for any other.
std::optional<Service> serviceAt(std::int32_t index);

// The first http(s) URL in text, without trailing punctuation; none when there is none.
std::optional<std::string> firstLink(std::string_view text);

// The longest share URL handed on. The URL reaches the handler as one argument of its command
// line, which Linux caps at 128 KiB, and handlers often wrap it in a longer command (a shell,
// a sandbox launcher); no share page or mail program takes more anyway.
constexpr std::size_t kMaxShareUrlLength = 64 * 1024;

// The URL that shares text with the service, the text percent-encoded as one URL component
// (url.h); none when the service cannot take it (the Facebook page takes only a link) or the
// URL would be longer than kMaxShareUrlLength.
std::optional<std::string> shareUrl(Service service, std::string_view text);

// Whether the desktop has a default handler for the service's URLs (https, mailto).
bool isConfigured(Service service);
// Set up, and the text is something the service can take. A null text (none) cannot be
// shared: one log line says so, and the answer is false.
bool canShare(Service service, const std::optional<std::string>& text);
// Starts the handler with the share URL and returns at once. A null text, or one too long to
// share: one log line and nothing else.
void share(Service service, const std::optional<std::string>& text);

// Opens <bundle>/Contents/Resources/help/index.html in the default browser on a worker
// thread and returns at once; no bundle or no help file: one log line.
void showHelp(const std::optional<std::string>& bundleFolder);

}  // namespace kestrane::desktoplaunch
