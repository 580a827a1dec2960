// Our FFT engine: the single-precision real transform that the audio analysis needs, in the
// packed split-complex layout (even samples / real parts in one array, odd samples /
// imaginary parts in the other). Our own code, no FFT library linked.
//
// Layout for N real points, h = N/2:
//   time domain:      realp[m] = x[2m], imagp[m] = x[2m+1]            (m < h)
//   packed spectrum:  realp[0] = DC, imagp[0] = Nyquist (both real)
//                     realp[k] + i*imagp[k] = bin k                     (1 <= k < h)
// Forward maps the time-domain split of x to the packed spectrum of 2*X, where
// X[k] = sum x[m] e^{-2 pi i k m / N}. Inverse maps a packed spectrum Y to the time-domain
// split of sum Y[k] e^{+2 pi i k m / N} over the full Hermitian spectrum (N times the
// normalised inverse DFT).
#pragma once

#include <cstddef>
#include <memory>

#include "expected.h"

namespace kestrane::fft {

// A pair of pointers to the real and imaginary parts of a complex vector.
struct SplitComplex {
    float* realp;
    float* imagp;
};

enum class Direction { forward = 1, inverse = -1 };

// Precomputed tables for transforms of up to 2^maxLog2n points. A setup is immutable once
// made and may be shared by threads.
class Setup;

struct SetupDeleter {
    void operator()(Setup* setup) const;
};
using SetupPtr = std::unique_ptr<Setup, SetupDeleter>;

// A setup serving every power of two from 4 up to 2^maxLog2n points (2 <= maxLog2n <= 30).
// Returns null when memory is short or maxLog2n is outside that range (transfer full).
SetupPtr createSetup(int maxLog2n);

// The largest log2 of a size that the setup serves.
int maxLog2n(const Setup& setup);

// The packed real transform in place over data (h = 2^(log2n-1) elements in each part).
// work must hold 2^log2n floats; its contents are overwritten. Requires
// 2 <= log2n <= maxLog2n(setup).
void realTransform(const Setup& setup, SplitComplex data, int log2n, Direction direction, float* work);

// The forward transform straight from the N = 2^log2n interleaved real samples, bit for bit
// what splitEvenOdd then realTransform forward give, with the split folded into the first
// pass: the packed spectrum into out (h elements in each part). work as for realTransform.
void realTransformFromSamples(const Setup& setup, const float* samples, SplitComplex out, int log2n, float* work);

// The inverse transform of the packed spectrum in data (overwritten) into N interleaved
// samples, bit for bit what realTransform inverse then mergeEvenOdd give, with the merge
// folded into the last pass.
void realTransformToSamples(const Setup& setup, SplitComplex data, float* samples, int log2n, float* work);

// Vector helpers of the same layout.
void splitEvenOdd(const float* interleaved, SplitComplex out, std::size_t h);  // out[m] = x[2m], x[2m+1]
void mergeEvenOdd(SplitComplex in, float* interleaved, std::size_t h);        // x[2m], x[2m+1] = in[m]

// The full-spectrum layout that the Java side receives, for N = 2^log2n points, h = N/2
// (2 <= log2n <= maxLog2n(setup)):
//   forward: re[k] + i im[k] = X[k] = sum x[m] e^{-2 pi i k m / N} for k < N; the upper half
//            is mirrored, not computed (re[N-k] is the same float as re[k], im[N-k] the exact
//            negation of im[k]) and im[0] = im[h] = +0.0.
//   inverse: from re[0..h] and im[1..h-1] (the other values are not read), the N samples
//            x[m] = (1/N) sum Y[k] e^{+2 pi i k m / N} of the Hermitian spectrum they describe.
// Work memory is the engine's own (2N floats): on the stack up to N = 2048, above that a
// per-thread buffer reused by later calls. Error FftError::outOfMemory when that buffer cannot grow.
enum class FftError { outOfMemory = 1 };
// samples: N values read; re, im: N values written.
Expected<void> forwardSpectrum(const Setup& setup, int log2n, const float* samples, float* re, float* im);
// re: h+1 values read, im: h values read; samples: N values written.
Expected<void> inverseSpectrum(const Setup& setup, int log2n, const float* re, const float* im, float* samples);

// Which kernels run on this processor: "avx2+fma" or "sse2".
const char* instructionSet();

}  // namespace kestrane::fft
