#include "platform_string.h"

#include <cstring>
#include <new>
#include <vector>

#include "errors.h"
#include "jni_classes.h"
#include "jni_scoped.h"
#include "modified_utf8.h"
#include "scratch.h"

namespace kestrane::jni {

namespace {

const jchar* asJchars(const char16_t* units) {
    static_assert(sizeof(jchar) == sizeof(char16_t));
    return reinterpret_cast<const jchar*>(units);
}

}  // namespace

jstring javaString(JNIEnv* env, PlatformStringView string) {
    if (!string) return nullptr;
    // Our platform strings are contiguous UTF-16, so NewString reads them in place: no
    // intermediate buffer, and so no stack spent however long the string is.
    return env->NewString(asJchars(string->data()), static_cast<jsize>(string->size()));
}

jstring javaStringFromUtf8(JNIEnv* env, std::optional<std::string_view> utf8) {
    if (!utf8) return nullptr;
    try {
        // UTF-16 never has more units than UTF-8 has bytes; short strings convert on the stack.
        ScratchBuffer<char16_t, 256> units(utf8->size());
        const std::size_t n = text::utf16FromUtf8(*utf8, units.data());
        return env->NewString(asJchars(units.data()), static_cast<jsize>(n));
    } catch (const std::bad_alloc&) {
        throwJava(env, kOutOfMemoryError, "Out of memory converting a string.");
        return nullptr;
    }
}

PlatformString platformString(JNIEnv* env, jstring string, const char* argumentName) {
    if (string == nullptr) {
        throwNullArgument(env, argumentName);
        return std::nullopt;
    }
    StringChars chars(env, string);
    if (chars.data() == nullptr) return std::nullopt;  // OutOfMemoryError pending
    try {
        return std::u16string(reinterpret_cast<const char16_t*>(chars.data()), chars.size());
    } catch (const std::bad_alloc&) {
        throwJava(env, kOutOfMemoryError, "Out of memory converting a string.");
        return std::nullopt;
    }
}

PlatformString adoptedPlatformString(JNIEnv* env, jstring string) {
    if (string == nullptr) return std::nullopt;
    const jsize length = env->GetStringLength(string);
    try {
        std::u16string units(static_cast<std::size_t>(length), u'\0');
        env->GetStringRegion(string, 0, length, reinterpret_cast<jchar*>(units.data()));
        return units;
    } catch (const std::bad_alloc&) {
        throwJava(env, kOutOfMemoryError, "Out of memory converting a string.");
        return std::nullopt;
    }
}

std::optional<std::string> javaStringToUtf8(JNIEnv* env, jstring string, const char* argumentName) {
    const PlatformString units = platformString(env, string, argumentName);
    if (!units) return std::nullopt;
    return utf8FromUtf16(*units);
}

jobjectArray newStringArrayFromUtf8(JNIEnv* env, std::span<const std::string> list, InitialElement initial,
                                    ElementPath path) {
    std::vector<std::u16string> units;
    units.reserve(list.size());
    for (const std::string& s : list) units.push_back(utf16FromUtf8(s));
    return newStringArray(env, units, initial, path);
}

jobjectArray newStringArray(JNIEnv* env, std::span<const std::u16string> list, InitialElement initial,
                            ElementPath path) {
    const auto count = static_cast<jsize>(list.size());
    const jclass stringClass = kString.get(env);
    if (stringClass == nullptr) return nullptr;
    LocalRef<jstring> initialElement;
    if (initial == InitialElement::emptyString) {
        initialElement = LocalRef<jstring>(env, env->NewStringUTF(""));
        if (!initialElement) return nullptr;
    }
    LocalRef<jobjectArray> array(env, env->NewObjectArray(count, stringClass, initialElement.get()));
    if (!array) return nullptr;
    jsize index = 0;
    for (const std::u16string& element : list) {
        LocalRef<jstring> converted(env, path == ElementPath::utf16
                                             ? javaString(env, element)
                                             : env->NewStringUTF(utf8Form(element).c_str()));
        if (!converted) return nullptr;
        env->SetObjectArrayElement(array.get(), index++, converted.get());
    }
    return array.release();
}

}  // namespace kestrane::jni
