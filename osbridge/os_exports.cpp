// com.kestrane.core.OperatingSystemOSX: standard folders, applications for a file, opening a
// file with an application, and the calling thread's priority.
#include <com_kestrane_core_OperatingSystemOSX.h>

#include "apps.h"
#include "folders.h"
#include "platform_string.h"
#include "priority.h"

using kestrane::jni::ElementPath;
using kestrane::jni::InitialElement;

JNIEXPORT jstring JNICALL Java_com_kestrane_core_OperatingSystemOSX_findFolder(JNIEnv* env, jclass, jint domainMask,
                                                                             jint directory) {
    // Note the order: the platform call takes the directory first.
    const auto folders = kestrane::folders::searchPathForDirectoriesInDomains(directory, domainMask);
    if (folders.empty()) return nullptr;
    return kestrane::jni::javaString(env, kestrane::jni::utf16FromUtf8(folders.front()));
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
