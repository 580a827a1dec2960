// com.kestrane.core.OperatingSystemOSX: standard folders, applications for a file, opening a
// file with an application, and the calling thread's priority.
#include <com_kestrane_core_OperatingSystemOSX.h>

#include <optional>
#include <string>
#include <utility>

#include "apps.h"
#include "folders.h"
#include "platform_string.h"
#include "priority.h"

namespace fo = kestrane::folders;
using kestrane::jni::ElementPath;
using kestrane::jni::InitialElement;

namespace {

// The Java API's directory codes and search-domain bits.
constexpr std::pair<jint, fo::Folder> kDirectories[] = {
    {1, fo::Folder::applications},   {5, fo::Folder::library},
    {7, fo::Folder::users},          {9, fo::Folder::documents},
    {11, fo::Folder::autosavedInformation}, {12, fo::Folder::desktop},
    {13, fo::Folder::caches},        {14, fo::Folder::applicationSupport},
    {15, fo::Folder::downloads},     {17, fo::Folder::movies},
    {18, fo::Folder::music},         {19, fo::Folder::pictures},
    {21, fo::Folder::sharedPublic},  {102, fo::Folder::trash},
};
// In the order searched: the user's folders before the machine's. Other bits (the network and
// system domains) have no folders here.
constexpr std::pair<jint, fo::Domain> kDomains[] = {{1, fo::Domain::user}, {2, fo::Domain::local}};

std::optional<fo::Folder> folderOf(jint directory) {
    for (const auto& [code, folder] : kDirectories) {
        if (code == directory) return folder;
    }
    return std::nullopt;
}

}  // namespace

JNIEXPORT jstring JNICALL Java_com_kestrane_core_OperatingSystemOSX_findFolder(JNIEnv* env, jclass, jint domainMask,
                                                                             jint directory) {
    const std::optional<fo::Folder> folder = folderOf(directory);
    if (!folder) return nullptr;
    // The first folder of the search path.
    for (const auto& [bit, domain] : kDomains) {
        if ((domainMask & bit) == 0) continue;
        if (const std::optional<std::string> path = fo::folderPath(*folder, domain)) {
            return kestrane::jni::javaString(env, kestrane::jni::utf16FromUtf8(*path));
        }
    }
    return nullptr;
}

JNIEXPORT jobjectArray JNICALL Java_com_kestrane_core_OperatingSystemOSX_getExternalApplications(JNIEnv* env, jclass,
                                                                                                jstring url) {
    const auto text = kestrane::jni::javaStringToUtf8(env, url, "url");
    if (!text) return nullptr;
    const std::vector<std::string> urls = kestrane::apps::applicationUrlsFor(*text);
    return kestrane::jni::newStringArrayFromUtf8(env, urls, InitialElement::emptyString, ElementPath::utf16);
}

JNIEXPORT jboolean JNICALL Java_com_kestrane_core_OperatingSystemOSX_openFileWithApplication(JNIEnv* env, jclass,
                                                                                           jstring path,
                                                                                           jstring application) {
    const auto file = kestrane::jni::javaStringToUtf8(env, path, "path");
    if (!file) return JNI_FALSE;
    const auto app = kestrane::jni::javaStringToUtf8(env, application, "application");
    if (!app) return JNI_FALSE;
    return kestrane::apps::openFileWithApplication(*file, *app) ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jboolean JNICALL Java_com_kestrane_core_OperatingSystemOSX_setThreadPriority(JNIEnv*, jclass, jfloat priority) {
    return kestrane::threads::setCurrentThreadPriority(static_cast<double>(priority)) ? JNI_TRUE : JNI_FALSE;
}
