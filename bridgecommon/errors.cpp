#include "errors.h"

#include <string>

#include "jni_scoped.h"

namespace kestrane::jni {

bool throwJava(JNIEnv* env, const char* className, const char* message) {
    LocalRef<jclass> cls(env, env->FindClass(className));
    if (!cls) return false;  // FindClass left NoClassDefFoundError pending
    return env->ThrowNew(cls.get(), message) == 0;
}

void throwNullArgument(JNIEnv* env, const char* what) {
    std::string message(what);
    message += " must not be null";
    throwJava(env, "java/lang/NullPointerException", message.c_str());
}

void throwIllegalArgument(JNIEnv* env, const char* message) {
    throwJava(env, "java/lang/IllegalArgumentException", message);
}

}  // namespace kestrane::jni
