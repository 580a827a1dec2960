// What this library exports besides its JNI entry points; osbridge.map is the list the linker
// and the export check read: the string helpers of the shared bridging code under the
// original platform's names.
#pragma once

#include <jni.h>

#include "platform_string.h"

// nil gives null; otherwise a new Java string with the same UTF-16 units (transfer full).
[[gnu::visibility("default")]] jstring CreateJavaStringFromNSString(JNIEnv* env, PlatformStringView string);

// The adopting conversion: null gives nil; otherwise one copy of the units into a buffer that
// the result owns.
[[gnu::visibility("default")]] PlatformString JavaToNSString(JNIEnv* env, jstring string);
