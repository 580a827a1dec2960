// The error rule of the libraries: find the exception class by its slash-separated name,
// throw it with a UTF-8 message, and let the export return its neutral value. When the class
// cannot be found, the lookup's own error stays pending and nothing else is thrown.
//
// Call sites read `return throwJava(env, kIllegalArgumentException, "..."), 0;`.
#pragma once

#include <jni.h>

#include <string_view>

#include "jni_classes.h"

namespace kestrane::jni {

// Throws the class with message (UTF-8; may be null for no message). Returns whether ThrowNew
// ran. The message reaches Java whole: every character, U+0000 and those outside the BMP
// included.
bool throwJava(JNIEnv* env, const JavaClass& exceptionClass, const char* message);
bool throwJava(JNIEnv* env, const JavaClass& exceptionClass, std::string_view message);

// The same for a class that no library uses often enough to keep: looked up on every call.
bool throwJava(JNIEnv* env, const char* className, const char* message);

// Throws java.lang.NullPointerException saying that `what` must not be null.
void throwNullArgument(JNIEnv* env, const char* what);

// Throws java.lang.IllegalArgumentException with message.
void throwIllegalArgument(JNIEnv* env, const char* message);

// Replaces the VM's own OutOfMemoryError of a failed allocation (if one is pending) with ours,
// which says what could not be made.
void throwOutOfMemory(JNIEnv* env, const char* message);

}  // namespace kestrane::jni
