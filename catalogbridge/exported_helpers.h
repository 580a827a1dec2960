// What this library exports besides its JNI entry points; catalogbridge.map is the list the
// linker and the export check read: the string helpers of the shared bridging code under the
// names this library gives them.
#pragma once

#include <jni.h>

#include "platform_string.h"

// nil gives null; otherwise a new Java string with the same UTF-16 units (transfer full).
[[gnu::visibility("default")]] jstring createJavaStringFromNSString(JNIEnv* env, PlatformStringView string);

// The copying conversion. A Java null throws java.lang.NullPointerException naming
// argumentName and gives nil.
[[gnu::visibility("default")]] PlatformString createNSStringFromJavaString(JNIEnv* env, jstring string,
                                                                           const char* argumentName = "string");
