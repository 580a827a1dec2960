// com.kestrane.sonvekt.math.NativeFFT: the real FFT over a setup held by the Java side.
#include <com_kestrane_sonvekt_math_NativeFFT.h>

#include <cstdio>
#include <cstdlib>
#include <new>

#include "errors.h"
#include "fft.h"
#include "jni_scoped.h"
#include "scratch.h"

namespace fft = kestrane::fft;
using kestrane::jni::LocalRef;
using kestrane::jni::throwJava;

namespace {

// Up to this many floats of scratch (three buffers of N: N <= 2048) live on the stack.
constexpr std::size_t kStackFloats = 3 * 2048;

const fft::Setup* setupOf(jlong handle) {
    return reinterpret_cast<const fft::Setup*>(static_cast<std::uintptr_t>(handle));
}

bool isPowerOfTwo(jint n) {
    return n > 0 && (n & (n - 1)) == 0;
}

int log2Of(jint powerOfTwo) {
    return __builtin_ctz(static_cast<unsigned>(powerOfTwo));
}

// The class of float[], looked up once: FindClass costs about as much as a whole transform
// of 1024 points, so every call paying for it showed in the JNI benchmark. The global
// reference lives for the life of the library.
jclass floatArrayClass(JNIEnv* env) {
    static const jclass cls = [env] {
        LocalRef<jclass> local(env, env->FindClass("[F"));
        return local ? static_cast<jclass>(env->NewGlobalRef(local.get())) : nullptr;
    }();
    return cls;
}

// The VM's own OutOfMemoryError from a failed allocation is replaced by ours, which says
// which array could not be made.
jobjectArray outOfMemory(JNIEnv* env, const char* message) {
    env->ExceptionClear();
    throwJava(env, "java/lang/OutOfMemoryError", message);
    return nullptr;
}

}  // namespace

JNIEXPORT jlong JNICALL Java_com_kestrane_sonvekt_math_NativeFFT_init(JNIEnv* env, jclass, jint numberOfSamples) {
    if (numberOfSamples <= 3) return throwJava(env, "java/lang/IllegalArgumentException", "Number of samples is less than 4."), 0;
    if (!isPowerOfTwo(numberOfSamples)) {
        return throwJava(env, "java/lang/IllegalArgumentException", "Number of samples is not a power of 2."), 0;
    }
    fft::SetupPtr setup = fft::createSetup(log2Of(numberOfSamples));
    if (!setup) {
        // The application cannot analyse audio without its transform; the process ends here,
        // as a failure.
        std::fputs("\nFFT_Setup failed to allocate enough memory for the real FFT.\n", stdout);
        std::fflush(stdout);
        std::exit(1);
    }
    // The Java side owns the setup from here until destroy.
    return static_cast<jlong>(reinterpret_cast<std::uintptr_t>(setup.release()));
}

JNIEXPORT void JNICALL Java_com_kestrane_sonvekt_math_NativeFFT_destroy(JNIEnv*, jclass, jlong setup) {
    if (setup == 0) return;
    fft::SetupPtr owned(reinterpret_cast<fft::Setup*>(static_cast<std::uintptr_t>(setup)));
}

JNIEXPORT jobjectArray JNICALL Java_com_kestrane_sonvekt_math_NativeFFT_realFFT(JNIEnv* env, jclass, jlong setupHandle,
                                                                                jboolean forward, jint numberOfSamples,
                                                                                jfloatArray real, jfloatArray imag) {
    // Checks that keep a wrong call from reading or writing out of bounds.
    if (setupHandle == 0) return throwJava(env, "java/lang/IllegalArgumentException", "The FFT setup handle is 0."), nullptr;
    const fft::Setup& setup = *setupOf(setupHandle);
    if (numberOfSamples < 4 || !isPowerOfTwo(numberOfSamples)) {
        return throwJava(env, "java/lang/IllegalArgumentException",
                         "Number of samples must be a power of 2 of at least 4."), nullptr;
    }
    const int log2n = log2Of(numberOfSamples);
    if (log2n > fft::maxLog2n(setup)) {
        return throwJava(env, "java/lang/IllegalArgumentException",
                         "Number of samples is larger than the FFT setup was made for."), nullptr;
    }
    if (real == nullptr) return kestrane::jni::throwNullArgument(env, "real"), nullptr;
    if (!forward && imag == nullptr) return kestrane::jni::throwNullArgument(env, "imag"), nullptr;
    if (env->GetArrayLength(real) < numberOfSamples) {
        return throwJava(env, "java/lang/IllegalArgumentException",
                         "Number of samples must not be less than input array length."), nullptr;
    }

    const auto n = static_cast<std::size_t>(numberOfSamples), h = n / 2;
    try {
        kestrane::ScratchBuffer<float, kStackFloats> scratch(3 * n);
        float* interleaved = scratch.data();
        float* re = interleaved + n;
        float* im = re + n;
        fft::clear(re, n);
        fft::clear(im, n);

        if (forward) {
            env->GetFloatArrayRegion(real, 0, numberOfSamples, interleaved);
            fft::splitEvenOdd(interleaved, {re, im}, h);
        } else {
            env->GetFloatArrayRegion(imag, 0, numberOfSamples, im);
            if (env->ExceptionCheck()) return nullptr;  // imag shorter than N
            env->GetFloatArrayRegion(real, 0, numberOfSamples, re);
            im[0] = re[h];  // the Nyquist term to its packed place
        }
        if (env->ExceptionCheck()) return nullptr;

        // The interleaved buffer is free during the transform and serves as its work area.
        fft::realTransform(setup, {re, im}, log2n, forward ? fft::Direction::forward : fft::Direction::inverse,
                           interleaved);

        const jclass arrayClass = floatArrayClass(env);
        if (arrayClass == nullptr) return outOfMemory(env, "Failed to allocate jtransformed.");
        LocalRef<jobjectArray> transformed(env, env->NewObjectArray(2, arrayClass, nullptr));
        if (!transformed) return outOfMemory(env, "Failed to allocate jtransformed.");

        if (forward) {
            fft::scale(re, 0.5f, h);
            fft::scale(im, 0.5f, h);
            LocalRef<jfloatArray> jreal(env, env->NewFloatArray(numberOfSamples));
            if (!jreal) return outOfMemory(env, "Failed to allocate jreal.");
            re[h] = im[0];
            for (std::size_t i = h + 1; i < n; ++i) re[i] = re[n - i];
            env->SetFloatArrayRegion(jreal.get(), 0, numberOfSamples, re);
            env->SetObjectArrayElement(transformed.get(), 0, jreal.get());
            LocalRef<jfloatArray> jimag(env, env->NewFloatArray(numberOfSamples));
            if (!jimag) return outOfMemory(env, "Failed to allocate jimag.");
            im[0] = 0;
            for (std::size_t i = h + 1; i < n; ++i) im[i] = -im[n - i];
            env->SetFloatArrayRegion(jimag.get(), 0, numberOfSamples, im);
            env->SetObjectArrayElement(transformed.get(), 1, jimag.get());
        } else {
            const float factor = static_cast<float>(1.0 / static_cast<double>(n));
            fft::scale(re, factor, h);
            fft::scale(im, factor, h);
            fft::mergeEvenOdd({re, im}, interleaved, h);
            LocalRef<jfloatArray> jreal(env, env->NewFloatArray(numberOfSamples));
            if (!jreal) return outOfMemory(env, "Failed to allocate jreal.");
            env->SetFloatArrayRegion(jreal.get(), 0, numberOfSamples, interleaved);
            env->SetObjectArrayElement(transformed.get(), 0, jreal.get());
            LocalRef<jfloatArray> zeros(env, env->NewFloatArray(numberOfSamples));
            if (!zeros) return outOfMemory(env, "Failed to allocate jimag.");
            env->SetObjectArrayElement(transformed.get(), 1, zeros.get());
        }
        return transformed.release();
    } catch (const std::bad_alloc&) {
        return outOfMemory(env, "Failed to allocate the FFT scratch buffers.");
    }
}
