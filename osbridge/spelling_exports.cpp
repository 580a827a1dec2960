// com.kestrane.core.lang.SpellCheckerOSX: the next misspelled word, and guesses for a word.
#include <com_kestrane_core_lang_SpellCheckerOSX.h>

#include "errors.h"
#include "jni_scoped.h"
#include "platform_string.h"
#include "spelling.h"

namespace sp = kestrane::spelling;

namespace {

std::optional<std::string> languageOf(JNIEnv* env, jstring language) {
    const PlatformString name = kestrane::jni::adoptedPlatformString(env, language);
    if (!name) return std::nullopt;
    return kestrane::jni::utf8FromUtf16(*name);
}

void throwOutOfRange(JNIEnv* env, const std::string& message) {
    kestrane::jni::throwJava(env, "java/lang/IndexOutOfBoundsException", message.c_str());
}

}  // namespace

JNIEXPORT jintArray JNICALL Java_com_kestrane_core_lang_SpellCheckerOSX_nativeCheck(JNIEnv* env, jclass, jstring text,
                                                                                 jint start, jstring language) {
    const PlatformString units = kestrane::jni::platformString(env, text, "text");
    if (!units) return nullptr;
    if (start < 0) return throwOutOfRange(env, "start " + std::to_string(start) + " is negative"), nullptr;
    auto found = sp::SharedChecker::instance().check(*units, static_cast<std::size_t>(start), languageOf(env, language));
    if (!found) return throwOutOfRange(env, found.error().message), nullptr;
    // No misspelled word reads as {-1, 0}.
    const jint range[2] = {*found ? static_cast<jint>((*found)->location) : -1, *found ? static_cast<jint>((*found)->length) : 0};
    kestrane::jni::LocalRef<jintArray> result(env, env->NewIntArray(2));
    if (!result) return nullptr;
    env->SetIntArrayRegion(result.get(), 0, 2, range);
    return result.release();
}

JNIEXPORT jobjectArray JNICALL Java_com_kestrane_core_lang_SpellCheckerOSX_nativeGuesses(JNIEnv* env, jclass, jstring text,
                                                                                      jint location, jint length,
                                                                                      jstring language) {
    const PlatformString units = kestrane::jni::platformString(env, text, "text");
    if (!units) return nullptr;
    if (location < 0 || length < 0) {
        return throwOutOfRange(env, "range {" + std::to_string(location) + ", " + std::to_string(length) + "} is negative"), nullptr;
    }
    auto guesses = sp::SharedChecker::instance().guesses(
        *units, {static_cast<std::size_t>(location), static_cast<std::size_t>(length)}, languageOf(env, language));
    if (!guesses) return throwOutOfRange(env, guesses.error().message), nullptr;
    return kestrane::jni::newStringArray(env, *guesses, kestrane::jni::InitialElement::null, kestrane::jni::ElementPath::utf16);
}
