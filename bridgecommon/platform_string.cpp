#include "platform_string.h"

#include <cstring>
#include <new>
#include <vector>

#include "errors.h"
#include "jni_scoped.h"

using kestrane::jni::LocalRef;
using kestrane::jni::StringChars;

namespace {

const jchar* asJchars(const char16_t* units) {
    static_assert(sizeof(jchar) == sizeof(char16_t));
    return reinterpret_cast<const jchar*>(units);
}

}  // namespace

jstring CreateJavaStringFromNSString(JNIEnv* env, PlatformStringView string) {
    if (!string) return nullptr;
    // Our platform strings are contiguous UTF-16, so NewString reads them in place: no
    // intermediate buffer, and so no stack spent however long the string is.
    return env->NewString(asJchars(string->data()), static_cast<jsize>(string->size()));
}

PlatformString createNSStringFromJavaString(JNIEnv* env, jstring string, const char* argumentName) {
    if (string == nullptr) {
        kestrane::jni::throwNullArgument(env, argumentName);
        return std::nullopt;
    }
    StringChars chars(env, string);
    if (chars.data() == nullptr) return std::nullopt;  // OutOfMemoryError pending
    try {
        return std::u16string(reinterpret_cast<const char16_t*>(chars.data()), chars.size());
    } catch (const std::bad_alloc&) {
        kestrane::jni::throwJava(env, "java/lang/OutOfMemoryError", "Out of memory converting a string.");
        return std::nullopt;
    }
}

PlatformString JavaToNSString(JNIEnv* env, jstring string) {
    if (string == nullptr) return std::nullopt;
    const jsize length = env->GetStringLength(string);
    try {
        std::u16string units(static_cast<std::size_t>(length), u'\0');
        env->GetStringRegion(string, 0, length, reinterpret_cast<jchar*>(units.data()));
        return units;
    } catch (const std::bad_alloc&) {
        kestrane::jni::throwJava(env, "java/lang/OutOfMemoryError", "Out of memory converting a string.");
        return std::nullopt;
    }
}

namespace kestrane::jni {

std::string utf8Form(std::u16string_view units) {
    std::string out;
    out.reserve(units.size());
    auto put3 = [&out](unsigned c) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    };
    for (std::size_t i = 0; i < units.size(); ++i) {
        const unsigned c = units[i];
        if (c == 0) break;
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
                   units[i + 1] <= 0xDFFF) {
            // A surrogate pair: the VM's modified UTF-8 writes each half as its own 3-byte form.
            put3(c);
            put3(units[++i]);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            put3(0xFFFD);
        } else {
            put3(c);
        }
    }
    return out;
}

std::u16string utf16FromUtf8(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
    const std::size_t n = utf8.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned c = s[i];
        unsigned cp = 0xFFFD;
        std::size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if (c >= 0xC2 && c <= 0xF4) {
            const std::size_t need = c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
            if (i + need <= n) {
                unsigned v = c & (need == 2 ? 0x1F : need == 3 ? 0x0F : 0x07);
                bool ok = true;
                for (std::size_t k = 1; k < need; ++k) {
                    if ((s[i + k] & 0xC0) != 0x80) { ok = false; break; }
                    v = (v << 6) | (s[i + k] & 0x3F);
                }
                const unsigned minimum = need == 2 ? 0x80 : need == 3 ? 0x800 : 0x10000;
                if (ok && v >= minimum && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) {
                    cp = v;
                    len = need;
                }
            }
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return out;
}

std::string utf8FromUtf16(std::u16string_view units) {
    std::string out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        unsigned cp = units[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (units[++i] - 0xDC00u);
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::optional<std::string> javaStringToUtf8(JNIEnv* env, jstring string, const char* argumentName) {
    const PlatformString units = createNSStringFromJavaString(env, string, argumentName);
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
    LocalRef<jclass> stringClass(env, env->FindClass("java/lang/String"));
    if (!stringClass) return nullptr;
    LocalRef<jstring> initialElement;
    if (initial == InitialElement::emptyString) {
        initialElement = LocalRef<jstring>(env, env->NewStringUTF(""));
        if (!initialElement) return nullptr;
    }
    LocalRef<jobjectArray> array(env, env->NewObjectArray(count, stringClass.get(), initialElement.get()));
    if (!array) return nullptr;
    jsize index = 0;
    for (const std::u16string& element : list) {
        LocalRef<jstring> converted(env, path == ElementPath::utf16
                                             ? CreateJavaStringFromNSString(env, element)
                                             : env->NewStringUTF(utf8Form(element).c_str()));
        if (!converted) return nullptr;
        env->SetObjectArrayElement(array.get(), index++, converted.get());
    }
    return array.release();
}

}  // namespace kestrane::jni
