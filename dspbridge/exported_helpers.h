// What this library exports besides its JNI entry points; dspbridge.map is the list the
// linker and the export check read. The string helper of the shared bridging code, the error
// rule of AVPlayer.open, and the NNLS routines with C linkage for native callers.
#pragma once

#include <jni.h>

#include "platform_string.h"

// nil gives null; otherwise a new Java string with the same UTF-16 units (transfer full).
[[gnu::visibility("default")]] jstring CreateJavaStringFromNSString(JNIEnv* env, PlatformStringView string);

// The error code of a file that is not there, as the Java API numbers it.
constexpr int kFileNotFoundCode = -43;

extern "C" {

// 0 throws nothing, kFileNotFoundCode java.io.FileNotFoundException, any other code
// java.io.IOException, each with message (UTF-8, may be null for none).
[[gnu::visibility("default")]] void playerThrowIOExceptionIfError(JNIEnv* env, int code, const char* message);

// The Lawson-Hanson routines (see platform/nnls/nnls.h for their contracts).
[[gnu::visibility("default")]] void nnls(float* a, int mda, int m, int n, float* b, float* x, float* w, float* zz,
                                         int* index, int* mode);
[[gnu::visibility("default")]] void h12(int mode, int lpivot, int l1, int m, float* u, int iue, float* up, float* c,
                                        int ice, int icv, int ncv);
[[gnu::visibility("default")]] void g1(float a, float b, float* cterm, float* sterm, float* sig);
[[gnu::visibility("default")]] float d_sign(float x, float y);

}  // extern "C"
