#include "exported_helpers.h"

#include "errors.h"
#include "nnls.h"

jstring CreateJavaStringFromNSString(JNIEnv* env, PlatformStringView string) {
    return kestrane::jni::javaString(env, string);
}

void playerThrowIOExceptionIfError(JNIEnv* env, int code, const char* message) {
    using kestrane::jni::kFileNotFoundException;
    using kestrane::jni::kIOException;
    if (code == 0) return;
    kestrane::jni::throwJava(env, code == kFileNotFoundCode ? kFileNotFoundException : kIOException, message);
}

void nnls(float* a, int mda, int m, int n, float* b, float* x, float* w, float* zz, int* index, int* mode) {
    kestrane::nnls::solve(a, mda, m, n, b, x, w, zz, index, mode);
}

void h12(int mode, int lpivot, int l1, int m, float* u, int iue, float* up, float* c, int ice, int icv, int ncv) {
    kestrane::nnls::h12(mode, lpivot, l1, m, u, iue, up, c, ice, icv, ncv);
}

void g1(float a, float b, float* cterm, float* sterm, float* sig) {
    kestrane::nnls::g1(a, b, cterm, sterm, sig);
}

float d_sign(float x, float y) {
    return kestrane::nnls::dSign(x, y);
}
