// The error rule of the libraries: look the exception class up by its slash-separated name,
// throw it with a UTF-8 message, and let the export return its neutral value. When the class
// cannot be found, the lookup's own error stays pending and nothing else is thrown.
#pragma once

#include <jni.h>

namespace kestrane::jni {

// Throws className with message (may be null for no message). Returns whether ThrowNew ran.
bool throwJava(JNIEnv* env, const char* className, const char* message);

// Throws java.lang.NullPointerException saying that `what` must not be null.
void throwNullArgument(JNIEnv* env, const char* what);

// Throws java.lang.IllegalArgumentException with message.
void throwIllegalArgument(JNIEnv* env, const char* message);

}  // namespace kestrane::jni
