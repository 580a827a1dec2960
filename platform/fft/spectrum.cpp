// The layout steps around the packed real transform: splitting samples into even and odd
// halves and merging them back, and the full-spectrum layout (the packed half spectrum of 2X
// halved, the Nyquist term moved to bin h, the upper half mirrored, and back). Scaling by
// 0.5 and by 1/N is exact for N a power of two, so these steps add no rounding of their own.
//
// The loops are written with SSE2, which every x86-64 processor has, rather than left to the
// compiler's vectoriser: at the optimisation level of an ordinary build they would otherwise
// run one float at a time and cost as much as the transform.
#include <emmintrin.h>

#include <cstring>
#include <new>

#include "fft.h"
#include "scratch.h"

namespace kestrane::fft {

namespace {

// The inverse needs 2N floats of work memory (the packed copy and the transform's ping-pong
// buffer), the forward N; up to N = 2048 that is on the stack.
constexpr std::size_t kStackFloats = 2 * 2048;

Error outOfMemory() {
    return Error(FftError::outOfMemory, "Failed to allocate the FFT work memory.");
}

__m128 reversed(__m128 v) {
    return _mm_shuffle_ps(v, v, _MM_SHUFFLE(0, 1, 2, 3));
}

__m128 negated(__m128 v) {
    return _mm_xor_ps(v, _mm_set1_ps(-0.0f));  // the sign bit flipped, as unary minus does
}

// The full spectrum from the packed one: re[k] = 0.5 packedRe[k], im[k] = 0.5 packedIm[k] and
// the mirrored upper half re[N-k] = re[k], im[N-k] = -im[k], for k in [1, h). Every output
// element is written once, from packed data that is still in the cache.
void halveAndMirror(const float* packedRe, const float* packedIm, float* re, float* im, std::size_t h) {
    const std::size_t n = 2 * h;
    const __m128 half = _mm_set1_ps(0.5f);
    std::size_t k = 1;
    for (; k + 4 <= h; k += 4) {
        const __m128 r = _mm_mul_ps(_mm_loadu_ps(packedRe + k), half);
        const __m128 i = _mm_mul_ps(_mm_loadu_ps(packedIm + k), half);
        _mm_storeu_ps(re + k, r);
        _mm_storeu_ps(im + k, i);
        _mm_storeu_ps(re + n - k - 3, reversed(r));
        _mm_storeu_ps(im + n - k - 3, reversed(negated(i)));
    }
    for (; k < h; ++k) {
        re[k] = 0.5f * packedRe[k];
        im[k] = 0.5f * packedIm[k];
        re[n - k] = re[k];
        im[n - k] = -im[k];
    }
}

}  // namespace

void splitEvenOdd(const float* interleaved, SplitComplex out, std::size_t h) {
    std::size_t m = 0;
    for (; m + 4 <= h; m += 4) {
        const __m128 a = _mm_loadu_ps(interleaved + 2 * m), b = _mm_loadu_ps(interleaved + 2 * m + 4);
        _mm_storeu_ps(out.realp + m, _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
        _mm_storeu_ps(out.imagp + m, _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
    }
    for (; m < h; ++m) {
        out.realp[m] = interleaved[2 * m];
        out.imagp[m] = interleaved[2 * m + 1];
    }
}

void mergeEvenOdd(SplitComplex in, float* interleaved, std::size_t h) {
    std::size_t m = 0;
    for (; m + 4 <= h; m += 4) {
        const __m128 r = _mm_loadu_ps(in.realp + m), i = _mm_loadu_ps(in.imagp + m);
        _mm_storeu_ps(interleaved + 2 * m, _mm_unpacklo_ps(r, i));
        _mm_storeu_ps(interleaved + 2 * m + 4, _mm_unpackhi_ps(r, i));
    }
    for (; m < h; ++m) {
        interleaved[2 * m] = in.realp[m];
        interleaved[2 * m + 1] = in.imagp[m];
    }
}

Expected<void> forwardSpectrum(const Setup& setup, int log2n, const float* samples, float* re, float* im) {
    const std::size_t n = std::size_t{1} << log2n, h = n / 2;
    try {
        // The transform runs in work memory of its own, which stays in the cache, and the
        // result is written out once: the output arrays may be new memory that no cache holds
        // (a JVM's freshly zeroed arrays).
        ScratchBuffer<float, kStackFloats> scratch(2 * n);
        float* packedRe = scratch.data();
        float* packedIm = packedRe + h;
        float* work = packedRe + n;
        realTransformFromSamples(setup, samples, {packedRe, packedIm}, log2n, work);
        re[0] = 0.5f * packedRe[0];
        im[0] = 0.0f;
        re[h] = 0.5f * packedIm[0];  // the Nyquist term
        im[h] = 0.0f;
        halveAndMirror(packedRe, packedIm, re, im, h);
    } catch (const std::bad_alloc&) {
        return outOfMemory();
    }
    return {};
}

Expected<void> inverseSpectrum(const Setup& setup, int log2n, const float* re, const float* im, float* samples) {
    const std::size_t n = std::size_t{1} << log2n, h = n / 2;
    try {
        ScratchBuffer<float, kStackFloats> scratch(2 * n);
        float* packedRe = scratch.data();
        float* packedIm = packedRe + h;
        float* work = packedRe + n;
        std::memcpy(packedRe, re, h * sizeof(float));
        packedIm[0] = re[h];  // the Nyquist term to its packed place
        std::memcpy(packedIm + 1, im + 1, (h - 1) * sizeof(float));
        realTransformToSamples(setup, {packedRe, packedIm}, samples, log2n, work);
        // Scaled by 1/N in place.
        const __m128 factor = _mm_set1_ps(static_cast<float>(1.0 / static_cast<double>(n)));
        std::size_t m = 0;
        for (; m + 4 <= n; m += 4) _mm_storeu_ps(samples + m, _mm_mul_ps(_mm_loadu_ps(samples + m), factor));
        const float scale = static_cast<float>(1.0 / static_cast<double>(n));
        for (; m < n; ++m) samples[m] *= scale;
    } catch (const std::bad_alloc&) {
        return outOfMemory();
    }
    return {};
}

}  // namespace kestrane::fft
