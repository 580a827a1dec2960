// com.kestrane.sonvekt.math.NNLS: the Java arrays handed to the solver in place.
#include <com_kestrane_sonvekt_math_NNLS.h>

#include <new>
#include <string>

#include "errors.h"
#include "jni_scoped.h"
#include "nnls.h"
#include "scratch.h"

using kestrane::jni::FloatArrayElements;

namespace {

// Up to this many elements of each kind of work storage live on the stack.
constexpr std::size_t kStackElements = 1024;

}  // namespace

JNIEXPORT jint JNICALL Java_com_kestrane_sonvekt_math_NNLS_solve(JNIEnv* env, jclass, jfloatArray a, jint mda, jint m,
                                                                 jint n, jfloatArray b, jfloatArray x) {
    if (a == nullptr) return kestrane::jni::throwNullArgument(env, "a"), 0;
    if (b == nullptr) return kestrane::jni::throwNullArgument(env, "b"), 0;
    if (x == nullptr) return kestrane::jni::throwNullArgument(env, "x"), 0;
    if (m <= 0 || n <= 0) return 2;  // nothing to solve; nothing is touched

    // The solver trusts the dimensions; check them against the arrays so that a wrong call
    // cannot read or write past them.
    const long needA = static_cast<long>(mda) * (n - 1) + m;
    std::string problem;
    if (mda < m) problem = "mda (" + std::to_string(mda) + ") is less than m (" + std::to_string(m) + ").";
    else if (env->GetArrayLength(a) < needA)
        problem = "a holds " + std::to_string(env->GetArrayLength(a)) + " values; mda*(n-1)+m = " + std::to_string(needA) + " are needed.";
    else if (env->GetArrayLength(b) < m)
        problem = "b holds " + std::to_string(env->GetArrayLength(b)) + " values; m = " + std::to_string(m) + " are needed.";
    else if (env->GetArrayLength(x) < n)
        problem = "x holds " + std::to_string(env->GetArrayLength(x)) + " values; n = " + std::to_string(n) + " are needed.";
    if (!problem.empty()) return kestrane::jni::throwIllegalArgument(env, problem.c_str()), 0;

    FloatArrayElements aElems(env, a), bElems(env, b), xElems(env, x);
    if (!aElems || !bElems || !xElems) return 0;  // the VM's OutOfMemoryError is pending

    const auto nn = static_cast<std::size_t>(n), mm = static_cast<std::size_t>(m);
    jint mode = 0;
    try {
        // w (n floats) and zz (m floats) share one buffer; index (n ints) has its own.
        kestrane::ScratchBuffer<float, kStackElements> floats(nn + mm);
        kestrane::ScratchBuffer<int, kStackElements> index(nn);
        float* w = floats.data();
        float* zz = w + nn;
        nnls(aElems.data(), mda, m, n, bElems.data(), xElems.data(), w, zz, index.data(), &mode);
    } catch (const std::bad_alloc&) {
        kestrane::jni::throwJava(env, "java/lang/OutOfMemoryError", "Failed to allocate the NNLS work storage.");
        return 0;
    }
    // The holders release x, then b, then a (reverse order of declaration), copying back.
    return mode;
}
