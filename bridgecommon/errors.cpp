#include "errors.h"

#include <string>

#include "jni_scoped.h"

namespace kestrane::jni {

bool throwJava(JNIEnv* env, const JavaClass& exceptionClass, const char* message) {
    const jclass cls = exceptionClass.get(env);
    if (cls == nullptr) return false;  // FindClass left NoClassDefFoundError pending
    return env->ThrowNew(cls, message) == 0;
}

bool throwJava(JNIEnv* env, const char* className, const char* message) {
    LocalRef<jclass> cls(env, env->FindClass(className));
    if (!cls) return false;
    return env->ThrowNew(cls.get(), message) == 0;
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
