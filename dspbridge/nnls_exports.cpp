// com.kestrane.sonvekt.math.NNLS: the Java arrays handed to the solver in place.
#include <com_kestrane_sonvekt_math_NNLS.h>

#include <string>

#include "errors.h"
#include "jni_scoped.h"
#include "nnls.h"

using kestrane::jni::ReadWriteFloats;

namespace {

// Why the arrays cannot hold the problem the dimensions describe, or "" when they can. The
// solver trusts the dimensions, so a wrong call must stop here instead of reading or writing
// past the arrays.
std::string sizeProblem(JNIEnv* env, jfloatArray a, jint mda, jint m, jint n, jfloatArray b, jfloatArray x) {
    const long needA = static_cast<long>(mda) * (n - 1) + m;
    if (mda < m) return "mda (" + std::to_string(mda) + ") is less than m (" + std::to_string(m) + ").";
    if (env->GetArrayLength(a) < needA) {
        return "a holds " + std::to_string(env->GetArrayLength(a)) + " values; mda*(n-1)+m = " +
               std::to_string(needA) + " are needed.";
    }
    if (env->GetArrayLength(b) < m) {
        return "b holds " + std::to_string(env->GetArrayLength(b)) + " values; m = " + std::to_string(m) + " are needed.";
    }
    if (env->GetArrayLength(x) < n) {
        return "x holds " + std::to_string(env->GetArrayLength(x)) + " values; n = " + std::to_string(n) + " are needed.";
    }
    return "";
}

}  // namespace

JNIEXPORT jint JNICALL Java_com_kestrane_sonvekt_math_NNLS_solve(JNIEnv* env, jclass, jfloatArray a, jint mda, jint m,
                                                                 jint n, jfloatArray b, jfloatArray x) {
    if (a == nullptr) return kestrane::jni::throwNullArgument(env, "a"), 0;
    if (b == nullptr) return kestrane::jni::throwNullArgument(env, "b"), 0;
    if (x == nullptr) return kestrane::jni::throwNullArgument(env, "x"), 0;
    if (m <= 0 || n <= 0) return 2;  // nothing to solve; nothing is touched
    if (const std::string problem = sizeProblem(env, a, mda, m, n, b, x); !problem.empty()) {
        return kestrane::jni::throwIllegalArgument(env, problem.c_str()), 0;
    }

    // The solver overwrites a and b and writes x; the holders release x, then b, then a
    // (reverse order of declaration), copying back.
    ReadWriteFloats aElems(env, a), bElems(env, b), xElems(env, x);
    if (!aElems || !bElems || !xElems) return 0;  // the VM's OutOfMemoryError is pending
    const kestrane::Expected<int> mode = kestrane::nnls::solve(aElems.data(), mda, m, n, bElems.data(), xElems.data());
    if (!mode) return kestrane::jni::throwJava(env, kestrane::jni::kOutOfMemoryError, mode.error().message.c_str()), 0;
    return *mode;
}
