#include "desktoplaunch.h"

#include <gio/gio.h>
#include <sys/stat.h>

#include <thread>

#include "glib_ptr.h"
#include "log.h"
#include "url.h"

namespace kestrane::desktoplaunch {

namespace {

const char* schemeOf(Service service) { return service == Service::kComposeEmail ? "mailto" : "https"; }

glib::ObjectPtr<GAppInfo> defaultHandler(const char* scheme) {
    return glib::ObjectPtr<GAppInfo>(g_app_info_get_default_for_uri_scheme(scheme));
}

// A URL as the log shows it: its start, and its length where it is longer. A share URL holds
// the whole text shared, which does not belong in a log line.
std::string forLog(const std::string& uri) {
    constexpr std::size_t kShown = 120;
    if (uri.size() <= kShown) return uri;
    return uri.substr(0, kShown) + "... (" + std::to_string(uri.size()) + " bytes)";
}

bool launch(GAppInfo* handler, const std::string& uri) {
    GList uris{};
    uris.data = const_cast<char*>(uri.c_str());
    GError* raw = nullptr;
    const bool launched = g_app_info_launch_uris(handler, &uris, nullptr, &raw);
    glib::ErrorPtr error(raw);
    if (!launched) logLine("Cannot open " + forLog(uri) + ": " + (error ? error->message : "the handler did not start"));
    return launched;
}

// The description of the failure that a null item causes, in the log's "%@" form.
void logNullText() {
    logLine("*** Cannot share a null text: a list of items to share cannot hold a null item");
}

}  // namespace

std::optional<Service> serviceAt(std::int32_t index) {
    const auto unsignedIndex = static_cast<std::uint32_t>(index);
    if (unsignedIndex > 2) return std::nullopt;
    return static_cast<Service>(unsignedIndex);
}

std::optional<std::string> firstLink(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t http = text.find("http", at);
        if (http == std::string_view::npos) return std::nullopt;
        const bool startsWord = http == 0 || std::isspace(static_cast<unsigned char>(text[http - 1])) || text[http - 1] == '(';
        const std::string_view rest = text.substr(http);
        if (startsWord && (rest.rfind("http://", 0) == 0 || rest.rfind("https://", 0) == 0)) {
            std::size_t end = http;
            while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end]))) ++end;
            std::string link(text.substr(http, end - http));
            while (!link.empty() && std::string_view(".,;:!?)'\"").find(link.back()) != std::string_view::npos) link.pop_back();
            if (link.find("://") + 3 < link.size()) return link;
        }
        at = http + 4;
    }
    return std::nullopt;
}

namespace {

// The share URL whatever its length; none when the service cannot take the text at all.
std::optional<std::string> anyShareUrl(Service service, std::string_view text) {
    switch (service) {
        case Service::kPostOnX: return "https://twitter.com/intent/tweet?text=" + url::percentEncode(text);
        case Service::kPostOnFacebook:
            if (auto link = firstLink(text)) return "https://www.facebook.com/sharer/sharer.php?u=" + url::percentEncode(*link);
            return std::nullopt;
        case Service::kComposeEmail: return "mailto:?body=" + url::percentEncode(text);
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> shareUrl(Service service, std::string_view text) {
    std::optional<std::string> url = anyShareUrl(service, text);
    if (url && url->size() > kMaxShareUrlLength) return std::nullopt;
    return url;
}

bool isConfigured(Service service) { return defaultHandler(schemeOf(service)) != nullptr; }

bool canShare(Service service, const std::optional<std::string>& text) {
    if (!text) {
        logNullText();
        return false;
    }
    return isConfigured(service) && shareUrl(service, *text).has_value();
}

void share(Service service, const std::optional<std::string>& text) {
    if (!text) return logNullText();
    const std::optional<std::string> url = anyShareUrl(service, *text);
    if (!url) return;
    if (url->size() > kMaxShareUrlLength) {
        return logFormat("Cannot share a text of %zu bytes: its share URL would take %zu bytes, more than the %zu a handler is given",
                         text->size(), url->size(), kMaxShareUrlLength);
    }
    glib::ObjectPtr<GAppInfo> handler = defaultHandler(schemeOf(service));
    if (handler) launch(handler.get(), *url);
}

void showHelp(const std::optional<std::string>& bundleFolder) {
    if (!bundleFolder) return logLine("No help to show: the application does not run from a bundle");
    const std::string page = *bundleFolder + "/Contents/Resources/help/index.html";
    struct stat st {};
    if (stat(page.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return logLine("No help to show: " + page + " does not exist");
    std::thread([uri = url::fileUrlOf(page)] {
        glib::ObjectPtr<GAppInfo> browser = defaultHandler("https");
        if (!browser) return logLine("No help to show: the desktop has no default web browser");
        launch(browser.get(), uri);
    }).detach();
}

}  // namespace kestrane::desktoplaunch
