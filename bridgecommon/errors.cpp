#include "errors.h"

#include <string>

#include "jni_scoped.h"
#include "modified_utf8.h"

namespace kestrane::jni {

bool throwJava(JNIEnv* env, const JavaClass& exceptionClass, std::string_view message) {
    const jclass cls = exceptionClass.get(env);
    if (cls == nullptr) return false;  // FindClass left NoClassDefFoundError pending
    // ThrowNew reads the VM's modified UTF-8, not standard UTF-8.
    return env->ThrowNew(cls, modifiedUtf8(message).c_str()) == 0;
}

bool throwJava(JNIEnv* env, const JavaClass& exceptionClass, const char* message) {
    if (message == nullptr) {
        const jclass cls = exceptionClass.get(env);
        return cls != nullptr && env->ThrowNew(cls, nullptr) == 0;
    }
    return throwJava(env, exceptionClass, std::string_view(message));
}

bool throwJava(JNIEnv* env, const char* className, const char* message) {
    LocalRef<jclass> cls(env, env->FindClass(className));
    if (!cls) return false;
    return env->ThrowNew(cls.get(), message != nullptr ? modifiedUtf8(message).c_str() : nullptr) == 0;
}

void throwNullArgument(JNIEnv* env, const char* what) {
    const std::string message = std::string(what) + " must not be null";
    throwJava(env, kNullPointerException, message.c_str());
}

void throwIllegalArgument(JNIEnv* env, const char* message) {
    throwJava(env, kIllegalArgumentException, message);
}

void throwOutOfMemory(JNIEnv* env, const char* message) {
    env->ExceptionClear();
    throwJava(env, kOutOfMemoryError, message);
}

}  // namespace kestrane::jni
