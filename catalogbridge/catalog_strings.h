// The string helpers as this library names them: platform to Java under a lower-case name,
// and the copying conversion from bridgecommon.
#pragma once

#include "platform_string.h"

// nil gives null; otherwise a new Java string with the same UTF-16 units (transfer full).
[[gnu::visibility("default")]] jstring createJavaStringFromNSString(JNIEnv* env, PlatformStringView string);
