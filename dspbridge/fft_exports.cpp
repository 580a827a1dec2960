// com.kestrane.sonvekt.math.NativeFFT: the real FFT over a setup held by the Java side.
#include <com_kestrane_sonvekt_math_NativeFFT.h>

#include <cstdlib>
#include <memory>

#include "errors.h"
#include "fft.h"
#include "handles.h"
#include "jni_scoped.h"
#include "log.h"
#include "no_destructor.h"

namespace fft = kestrane::fft;
using kestrane::jni::LocalRef;
using kestrane::jni::ReadOnlyCriticalFloats;
using kestrane::jni::ReadWriteCriticalFloats;
using kestrane::jni::throwIllegalArgument;
using kestrane::jni::throwOutOfMemory;

namespace {

// The setups the Java side holds. A transform in progress keeps its setup alive even if
// another thread destroys the handle meanwhile.
using SetupRegistry = kestrane::jni::HandleRegistry<const fft::Setup, kestrane::HandleKind::fftSetup>;
SetupRegistry& setups() {
    static kestrane::NoDestructor<SetupRegistry> registry;
    return registry.get();
}

bool isPowerOfTwo(jint n) {
    return n > 0 && (n & (n - 1)) == 0;
}

int log2Of(jint powerOfTwo) {
    return __builtin_ctz(static_cast<unsigned>(powerOfTwo));
}

}  // namespace

JNIEXPORT jlong JNICALL Java_com_kestrane_sonvekt_math_NativeFFT_init(JNIEnv* env, jclass, jint numberOfSamples) {
    if (numberOfSamples <= 3) return throwIllegalArgument(env, "Number of samples is less than 4."), 0;
    if (!isPowerOfTwo(numberOfSamples)) return throwIllegalArgument(env, "Number of samples is not a power of 2."), 0;
    fft::SetupPtr setup = fft::createSetup(log2Of(numberOfSamples));
    if (!setup) {
        // The application cannot analyse audio without its transform; the process ends here,
        // as a failure, with the reason in the log (a library never writes to standard output).
        kestrane::logLine("FFT_Setup failed to allocate enough memory for the real FFT.");
        std::exit(1);
    }
    // The Java side owns the setup from here until destroy.
    return setups().add(std::shared_ptr<const fft::Setup>(std::move(setup)));
}

JNIEXPORT void JNICALL Java_com_kestrane_sonvekt_math_NativeFFT_destroy(JNIEnv*, jclass, jlong setup) {
    // A handle that is not live (0, destroyed already, never made) does nothing.
    setups().remove(setup);
}

JNIEXPORT jobjectArray JNICALL Java_com_kestrane_sonvekt_math_NativeFFT_realFFT(JNIEnv* env, jclass, jlong setupHandle,
                                                                                jboolean forward, jint numberOfSamples,
                                                                                jfloatArray real, jfloatArray imag) {
    // Checks that keep a wrong call from reading or writing out of bounds.
    if (setupHandle == 0) return throwIllegalArgument(env, "The FFT setup handle is 0."), nullptr;
    const std::shared_ptr<const fft::Setup> setup = setups().find(setupHandle);
    if (!setup) {
        return throwIllegalArgument(env, "The FFT setup handle is not a live setup (destroyed already, or never made)."),
               nullptr;
    }
    if (numberOfSamples < 4 || !isPowerOfTwo(numberOfSamples)) {
        return throwIllegalArgument(env, "Number of samples must be a power of 2 of at least 4."), nullptr;
    }
    const int log2n = log2Of(numberOfSamples);
    if (log2n > fft::maxLog2n(*setup)) {
        return throwIllegalArgument(env, "Number of samples is larger than the FFT setup was made for."), nullptr;
    }
    if (real == nullptr) return kestrane::jni::throwNullArgument(env, "real"), nullptr;
    if (!forward && imag == nullptr) return kestrane::jni::throwNullArgument(env, "imag"), nullptr;
    if (env->GetArrayLength(real) < numberOfSamples) {
        return throwIllegalArgument(env, "Number of samples must not be less than input array length."), nullptr;
    }
    if (!forward && env->GetArrayLength(imag) < numberOfSamples) {
        return throwIllegalArgument(env, "The imag array is shorter than the number of samples."), nullptr;
    }

    // The result: new arrays, as the Java side expects; the second stays all zeros after an
    // inverse transform.
    const jclass floatArray = kestrane::jni::kFloatArray.get(env);
    if (floatArray == nullptr) return nullptr;  // the lookup's NoClassDefFoundError is pending
    LocalRef<jobjectArray> transformed(env, env->NewObjectArray(2, floatArray, nullptr));
    if (!transformed) return throwOutOfMemory(env, "Failed to allocate jtransformed."), nullptr;
    LocalRef<jfloatArray> jreal(env, env->NewFloatArray(numberOfSamples));
    if (!jreal) return throwOutOfMemory(env, "Failed to allocate jreal."), nullptr;
    LocalRef<jfloatArray> jimag(env, env->NewFloatArray(numberOfSamples));
    if (!jimag) return throwOutOfMemory(env, "Failed to allocate jimag."), nullptr;
    env->SetObjectArrayElement(transformed.get(), 0, jreal.get());
    env->SetObjectArrayElement(transformed.get(), 1, jimag.get());

    // The engine reads and writes the Java arrays in place: no copies in or out. No JNI call
    // may happen while the holders are alive.
    kestrane::Expected<void> done;
    if (forward) {
        ReadOnlyCriticalFloats samples(env, real);
        ReadWriteCriticalFloats re(env, jreal.get()), im(env, jimag.get());
        if (!samples || !re || !im) return nullptr;  // the VM's OutOfMemoryError is pending
        done = fft::forwardSpectrum(*setup, log2n, samples.data(), re.data(), im.data());
    } else {
        ReadOnlyCriticalFloats re(env, real), im(env, imag);
        ReadWriteCriticalFloats samples(env, jreal.get());
        if (!re || !im || !samples) return nullptr;
        done = fft::inverseSpectrum(*setup, log2n, re.data(), im.data(), samples.data());
    }
    if (!done) return throwOutOfMemory(env, done.error().message.c_str()), nullptr;
    return transformed.release();
}
