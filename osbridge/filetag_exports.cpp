// com.kestrane.core.osx.FileTag: resource values of a file named by a file:// URL.
#include <com_kestrane_core_osx_FileTag.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <variant>

#include "errors.h"
#include "filetags.h"
#include "jni_classes.h"
#include "jni_scoped.h"
#include "platform_string.h"
#include "url.h"

namespace ft = kestrane::filetags;
using kestrane::jni::ElementPath;
using kestrane::jni::InitialElement;
using kestrane::jni::LocalRef;

namespace {

// The int a number reads as: one rule for every number that does not fit, whole or real: it
// is held to the int range (reals truncated toward zero first); booleans read as 1 or 0.
std::optional<jint> intValue(const ft::Value& value) {
    if (auto* i = std::get_if<ft::Integer>(&value)) {
        return static_cast<jint>(std::clamp<std::int64_t>(i->value, INT_MIN, INT_MAX));
    }
    if (auto* b = std::get_if<ft::Boolean>(&value)) return b->value ? 1 : 0;
    if (auto* r = std::get_if<ft::Real>(&value)) {
        if (std::isnan(r->value)) return 0;
        const double t = std::trunc(r->value);
        return static_cast<jint>(t <= INT_MIN ? INT_MIN : t >= INT_MAX ? INT_MAX : t);
    }
    return std::nullopt;
}

jobject newInteger(JNIEnv* env, jint value) {
    const jmethodID valueOf = kestrane::jni::kIntegerValueOf.get(env);
    if (valueOf == nullptr) return nullptr;  // the lookup's error is pending
    return env->CallStaticObjectMethod(kestrane::jni::kInteger.get(env), valueOf, value);
}

// The file's path and the key, or none (with a NullPointerException pending when an argument
// was null; without one when the URL is not a file URL).
struct Target {
    std::string path;
    std::string key;
};
std::optional<Target> target(JNIEnv* env, jstring url, jstring key) {
    const auto urlText = kestrane::jni::javaStringToUtf8(env, url, "url");
    if (!urlText) return std::nullopt;
    const auto keyText = kestrane::jni::javaStringToUtf8(env, key, "key");
    if (!keyText) return std::nullopt;
    const auto path = kestrane::url::localPathOfFileUrl(*urlText);
    if (!path) return std::nullopt;
    return Target{*path, *keyText};
}

}  // namespace

JNIEXPORT jobject JNICALL Java_com_kestrane_core_osx_FileTag_getResourceValueForKey(JNIEnv* env, jclass, jstring url,
                                                                                    jstring key) {
    const auto t = target(env, url, key);
    if (!t) return nullptr;
    const auto value = ft::getResourceValue(t->path, t->key);
    if (!value) return nullptr;
    if (auto number = intValue(*value)) return newInteger(env, *number);
    if (auto* list = std::get_if<ft::StringList>(&*value)) {
        return kestrane::jni::newStringArrayFromUtf8(env, *list, InitialElement::null, ElementPath::utf8);
    }
    return nullptr;  // strings, dates and other kinds read as null
}

JNIEXPORT jboolean JNICALL Java_com_kestrane_core_osx_FileTag_setResourceValueForKey__Ljava_lang_String_2ILjava_lang_String_2(
    JNIEnv* env, jclass, jstring url, jint value, jstring key) {
    const auto t = target(env, url, key);
    if (!t) return JNI_FALSE;
    return ft::setResourceValue(t->path, t->key, ft::Integer{value}) ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jboolean JNICALL
Java_com_kestrane_core_osx_FileTag_setResourceValueForKey__Ljava_lang_String_2_3Ljava_lang_String_2Ljava_lang_String_2(
    JNIEnv* env, jclass, jstring url, jobjectArray values, jstring key) {
    const auto urlText = kestrane::jni::javaStringToUtf8(env, url, "url");
    if (!urlText) return JNI_FALSE;
    const auto keyText = kestrane::jni::javaStringToUtf8(env, key, "key");
    if (!keyText) return JNI_FALSE;
    if (values == nullptr) return kestrane::jni::throwNullArgument(env, "values"), JNI_FALSE;
    const jsize n = env->GetArrayLength(values);
    ft::StringList list;
    list.reserve(static_cast<std::size_t>(n));
    for (jsize i = 0; i < n; ++i) {
        LocalRef<jstring> element(env, static_cast<jstring>(env->GetObjectArrayElement(values, i)));
        const std::string name = "values[" + std::to_string(i) + "]";
        auto text = kestrane::jni::javaStringToUtf8(env, element.get(), name.c_str());
        if (!text) return JNI_FALSE;
        list.push_back(std::move(*text));
    }
    const auto path = kestrane::url::localPathOfFileUrl(*urlText);
    if (!path) return JNI_FALSE;
    return ft::setResourceValue(*path, *keyText, list) ? JNI_TRUE : JNI_FALSE;
}
