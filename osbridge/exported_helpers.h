// What this library exports besides its JNI entry points; osbridge.map is the list the linker
// and the export check read: the string helpers of the shared bridging code under the
// original platform's names, and the colour exports' conversion. They are defined in
// exported_helpers.cpp.
#pragma once

#include <jni.h>

#include "appearance.h"
#include "platform_string.h"

// nil gives null; otherwise a new Java string with the same UTF-16 units (transfer full).
[[gnu::visibility("default")]] jstring CreateJavaStringFromNSString(JNIEnv* env, PlatformStringView string);

// The adopting conversion: null gives nil; otherwise one copy of the units into a buffer that
// the result owns.
[[gnu::visibility("default")]] PlatformString JavaToNSString(JNIEnv* env, jstring string);

// A colour as a new Java float[4] {red, green, blue, alpha} (transfer full), or null with the
// VM's error pending.
[[gnu::visibility("default")]] jfloatArray colorToFloatArray(JNIEnv* env, const kestrane::appearance::Rgba& color);
