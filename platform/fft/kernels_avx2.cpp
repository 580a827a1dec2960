// AVX2 + FMA kernels: eight lanes, fused multiply-add. Compiled with -mavx2 -mfma and chosen
// at run time only on processors that have both.
#include <immintrin.h>

#include "kernels.h"

namespace {

struct Avx2 {
    using T = __m256;
    static constexpr std::size_t lanes = 8;
    static T load(const float* p) { return _mm256_loadu_ps(p); }
    static void store(float* p, T v) { _mm256_storeu_ps(p, v); }
    static T set1(float v) { return _mm256_set1_ps(v); }
    static T zero() { return _mm256_setzero_ps(); }
    static T add(T a, T b) { return _mm256_add_ps(a, b); }
    static T sub(T a, T b) { return _mm256_sub_ps(a, b); }
    static T mul(T a, T b) { return _mm256_mul_ps(a, b); }
    static T mulAdd(T a, T b, T c) { return _mm256_fmadd_ps(a, b, c); }
    static T mulSub(T a, T b, T c) { return _mm256_fmsub_ps(a, b, c); }
    static T reverse(T v) { return _mm256_permutevar8x32_ps(v, _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0)); }
    // x[0..16) to its even and odd elements (in-lane shuffles, then the 64-bit quarters put
    // in order), and back.
    static void loadDeinterleaved(const float* p, T& even, T& odd) {
        const T a = _mm256_loadu_ps(p), b = _mm256_loadu_ps(p + 8);
        const auto inOrder = [](T v) {
            return _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(v), _MM_SHUFFLE(3, 1, 2, 0)));
        };
        even = inOrder(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
        odd = inOrder(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
    }
    static void storeInterleaved(float* p, T even, T odd) {
        const T lo = _mm256_unpacklo_ps(even, odd), hi = _mm256_unpackhi_ps(even, odd);
        _mm256_storeu_ps(p, _mm256_permute2f128_ps(lo, hi, 0x20));
        _mm256_storeu_ps(p + 8, _mm256_permute2f128_ps(lo, hi, 0x31));
    }

    // Rows y0..y3 (lane = p, 8 of them) to memory as y[4p + r]: a 4x8 transpose.
    static void storeTransposed4(float* y, T y0, T y1, T y2, T y3) {
        const T t0 = _mm256_unpacklo_ps(y0, y1), t1 = _mm256_unpackhi_ps(y0, y1);
        const T t2 = _mm256_unpacklo_ps(y2, y3), t3 = _mm256_unpackhi_ps(y2, y3);
        const T u0 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));  // p0 | p4
        const T u1 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));  // p1 | p5
        const T u2 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));  // p2 | p6
        const T u3 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));  // p3 | p7
        _mm256_storeu_ps(y, _mm256_permute2f128_ps(u0, u1, 0x20));
        _mm256_storeu_ps(y + 8, _mm256_permute2f128_ps(u2, u3, 0x20));
        _mm256_storeu_ps(y + 16, _mm256_permute2f128_ps(u0, u1, 0x31));
        _mm256_storeu_ps(y + 24, _mm256_permute2f128_ps(u2, u3, 0x31));
    }

    // Twiddle w[p] in the low four lanes and w[p+1] in the high four.
    static T pairOf(const float* w, std::size_t p) {
        return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_set1_ps(w[p])), _mm_set1_ps(w[p + 1]), 1);
    }

    // Rows y0..y3 of two groups (p in the low four lanes, p + 1 in the high four) to memory as
    // y[16p + 4r + q]: each group's 16 outputs are contiguous, two full stores each.
    static void storeGroups(float* y, std::size_t p, T y0, T y1, T y2, T y3) {
        _mm256_storeu_ps(y + 16 * p, _mm256_permute2f128_ps(y0, y1, 0x20));
        _mm256_storeu_ps(y + 16 * p + 8, _mm256_permute2f128_ps(y2, y3, 0x20));
        _mm256_storeu_ps(y + 16 * p + 16, _mm256_permute2f128_ps(y0, y1, 0x31));
        _mm256_storeu_ps(y + 16 * p + 24, _mm256_permute2f128_ps(y2, y3, 0x31));
    }

    // The pass with s = 4: each vector holds q = 0..3 of two consecutive p.
    static void passStride4(const kestrane::fft::internal::Radix4Twiddles& tw, std::size_t n, const float* xr,
                            const float* xi, float* yr, float* yi) {
        using X = Transform<Avx2>;
        const std::size_t m = n / 4;
        for (std::size_t p = 0; p < m; p += 2) {
            const X::Cx a = X::load(xr, xi, 4 * p), b = X::load(xr, xi, 4 * (p + m)),
                        c = X::load(xr, xi, 4 * (p + 2 * m)), d = X::load(xr, xi, 4 * (p + 3 * m));
            const T w[6] = {pairOf(tw.w1r, p), pairOf(tw.w1i, p), pairOf(tw.w2r, p),
                            pairOf(tw.w2i, p), pairOf(tw.w3r, p), pairOf(tw.w3i, p)};
            X::Cx y[4];
            X::butterfly<true>(a, b, c, d, w, y[0], y[1], y[2], y[3]);
            storeGroups(yr, p, y[0].re, y[1].re, y[2].re, y[3].re);
            storeGroups(yi, p, y[0].im, y[1].im, y[2].im, y[3].im);
        }
    }
};

}  // namespace

namespace kestrane::fft::internal {
const Kernels avx2Kernels = makeKernels<Avx2>("avx2+fma", 32);
}
