// SSE2 kernels: four lanes. Every x86-64 processor has them.
#include <emmintrin.h>

#include "kernels.h"

namespace {

struct Sse2 {
    using T = __m128;
    static constexpr std::size_t lanes = 4;
    static T load(const float* p) { return _mm_loadu_ps(p); }
    static void store(float* p, T v) { _mm_storeu_ps(p, v); }
    static T set1(float v) { return _mm_set1_ps(v); }
    static T zero() { return _mm_setzero_ps(); }
    static T add(T a, T b) { return _mm_add_ps(a, b); }
    static T sub(T a, T b) { return _mm_sub_ps(a, b); }
    static T mul(T a, T b) { return _mm_mul_ps(a, b); }
    static T mulAdd(T a, T b, T c) { return _mm_add_ps(_mm_mul_ps(a, b), c); }
    static T mulSub(T a, T b, T c) { return _mm_sub_ps(_mm_mul_ps(a, b), c); }
    static T reverse(T v) { return _mm_shuffle_ps(v, v, _MM_SHUFFLE(0, 1, 2, 3)); }
    // x[0..8) to its even and odd elements, and back.
    static void loadDeinterleaved(const float* p, T& even, T& odd) {
        const T a = _mm_loadu_ps(p), b = _mm_loadu_ps(p + 4);
        even = _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
        odd = _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
    }
    static void storeInterleaved(float* p, T even, T odd) {
        _mm_storeu_ps(p, _mm_unpacklo_ps(even, odd));
        _mm_storeu_ps(p + 4, _mm_unpackhi_ps(even, odd));
    }
    // Rows y0..y3 (lane = p) to memory as y[4p + r].
    static void storeTransposed4(float* y, T y0, T y1, T y2, T y3) {
        _MM_TRANSPOSE4_PS(y0, y1, y2, y3);
        _mm_storeu_ps(y, y0);
        _mm_storeu_ps(y + 4, y1);
        _mm_storeu_ps(y + 8, y2);
        _mm_storeu_ps(y + 12, y3);
    }
    // Never used: with four lanes the s = 4 pass is an ordinary strided pass.
    static void passStride4(const kestrane::fft::internal::Radix4Twiddles&, std::size_t, const float*,
                            const float*, float*, float*) {}
};

}  // namespace

namespace kestrane::fft::internal {
const Kernels sse2Kernels = makeKernels<Sse2>("sse2", 16);
}
