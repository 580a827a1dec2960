#include "apps.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>

#include "glib_ptr.h"
#include "url.h"

namespace kestrane::apps {

namespace {

using glib::CharPtr;
using glib::ObjectList;
using glib::ObjectPtr;

std::optional<std::string> contentTypeOf(const std::string& text) {
    CharPtr scheme(g_uri_parse_scheme(text.c_str()));
    if (!scheme) return std::nullopt;  // not a URL
    if (!url::hasFileScheme(text)) {
        CharPtr lower(g_ascii_strdown(scheme.get(), -1));
        return std::string("x-scheme-handler/") + lower.get();
    }
    // Another machine's file, or a file URL that names no file: nothing here can open it.
    const std::optional<std::string> path = url::localPathOfFileUrl(text);
    if (!path) return std::nullopt;
    ObjectPtr<GFile> file(g_file_new_for_path(path->c_str()));
    ObjectPtr<GFileInfo> info(g_file_query_info(file.get(), G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE, G_FILE_QUERY_INFO_NONE,
                                          nullptr, nullptr));
    if (info) {
        if (const char* type = g_file_info_get_content_type(info.get())) return std::string(type);
    }
    CharPtr guessed(g_content_type_guess(path->c_str(), nullptr, 0, nullptr));
    return std::string(guessed.get());
}

// The file:// URL of an application's .desktop file.
std::optional<std::string> desktopFileUrl(GAppInfo* app) {
    if (!G_IS_DESKTOP_APP_INFO(app)) return std::nullopt;
    const char* filename = g_desktop_app_info_get_filename(G_DESKTOP_APP_INFO(app));
    if (filename == nullptr) return std::nullopt;
    return url::fileUrlOf(filename);
}

bool sameExecutable(GAppInfo* app, const std::string& wanted) {
    const char* executable = g_app_info_get_executable(app);
    if (executable == nullptr) return false;
    if (wanted == executable) return true;
    CharPtr base(g_path_get_basename(executable));
    if (wanted == base.get()) return true;
    CharPtr resolved(g_find_program_in_path(executable));
    return resolved && wanted == resolved.get();
}

// The application named by text, or null (transfer full).
GAppInfo* findApplication(const std::string& text) {
    if (text.empty()) return nullptr;
    if (text.find('/') != std::string::npos && g_str_has_suffix(text.c_str(), ".desktop")) {
        return G_APP_INFO(g_desktop_app_info_new_from_filename(text.c_str()));
    }
    if (g_str_has_suffix(text.c_str(), ".desktop")) {
        if (GDesktopAppInfo* byId = g_desktop_app_info_new(text.c_str())) return G_APP_INFO(byId);
    }
    const ObjectList all(g_app_info_get_all());
    for (gpointer element : all) {
        auto* app = static_cast<GAppInfo*>(element);
        if (text == g_app_info_get_name(app) || text == g_app_info_get_display_name(app)) return G_APP_INFO(g_object_ref(app));
    }
    for (gpointer element : all) {
        auto* app = static_cast<GAppInfo*>(element);
        if (sameExecutable(app, text)) return G_APP_INFO(g_object_ref(app));
    }
    return nullptr;
}

}  // namespace

std::vector<std::string> orderWithDefaultFirst(std::vector<std::string> candidates,
                                               const std::optional<std::string>& defaultApplication) {
    if (candidates.size() >= 2 && defaultApplication) {
        std::erase(candidates, *defaultApplication);
        candidates.insert(candidates.begin(), *defaultApplication);
    }
    return candidates;
}

std::vector<std::string> applicationUrlsFor(const std::string& url) {
    const auto type = contentTypeOf(url);
    if (!type) return {};
    std::optional<std::string> defaultUrl;
    if (ObjectPtr<GAppInfo> def{g_app_info_get_default_for_type(type->c_str(), FALSE)}) defaultUrl = desktopFileUrl(def.get());
    std::vector<std::string> candidates;
    const ObjectList all(g_app_info_get_all_for_type(type->c_str()));
    for (gpointer element : all) {
        if (auto u = desktopFileUrl(static_cast<GAppInfo*>(element))) candidates.push_back(*u);
    }
    return orderWithDefaultFirst(std::move(candidates), defaultUrl);
}

bool openFileWithApplication(const std::string& path, const std::string& application) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return false;
    ObjectPtr<GAppInfo> app(findApplication(application));
    if (!app) return false;
    ObjectPtr<GFile> file(g_file_new_for_path(path.c_str()));
    GList files{file.get(), nullptr, nullptr};
    GError* failure = nullptr;
    const gboolean launched = g_app_info_launch(app.get(), &files, nullptr, &failure);
    const glib::ErrorPtr error(failure);
    return launched != FALSE;
}

}  // namespace kestrane::apps
