// AVX2 column kernels: eight columns per block. Compiled with -mavx2 (never -mfma: a fused
// multiply-add would round once where the solver rounds twice) and chosen at run time only
// on processors that have AVX2.
#include <immintrin.h>

#include "columns_impl.h"

namespace {

struct Avx2 {
    using T = __m256;
    static constexpr int lanes = 8;
    static T load(const float* p) { return _mm256_loadu_ps(p); }
    static void store(float* p, T v) { _mm256_storeu_ps(p, v); }
    static T set1(float v) { return _mm256_set1_ps(v); }
    static T add(T a, T b) { return _mm256_add_ps(a, b); }
    static T mul(T a, T b) { return _mm256_mul_ps(a, b); }
    static T max(T a, T b) { return _mm256_max_ps(a, b); }
    static T abs(T v) { return _mm256_andnot_ps(_mm256_set1_ps(-0.0f), v); }
    // The first count (< 8) elements of p, the rest zero; the masked load touches no memory
    // beyond them.
    static T loadPartial(const float* p, int count) {
        const __m256i mask = _mm256_cmpgt_epi32(_mm256_set1_epi32(count), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
        return _mm256_maskload_ps(p, mask);
    }
    // p[c] holds rows 0..7 of column c; afterwards p[r] holds columns 0..7 of row r.
    static void transpose(T* p) {
        const T t0 = _mm256_unpacklo_ps(p[0], p[1]), t1 = _mm256_unpackhi_ps(p[0], p[1]);
        const T t2 = _mm256_unpacklo_ps(p[2], p[3]), t3 = _mm256_unpackhi_ps(p[2], p[3]);
        const T t4 = _mm256_unpacklo_ps(p[4], p[5]), t5 = _mm256_unpackhi_ps(p[4], p[5]);
        const T t6 = _mm256_unpacklo_ps(p[6], p[7]), t7 = _mm256_unpackhi_ps(p[6], p[7]);
        const T s0 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));
        const T s1 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
        const T s2 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));
        const T s3 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
        const T s4 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(1, 0, 1, 0));
        const T s5 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(3, 2, 3, 2));
        const T s6 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(1, 0, 1, 0));
        const T s7 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(3, 2, 3, 2));
        p[0] = _mm256_permute2f128_ps(s0, s4, 0x20);
        p[1] = _mm256_permute2f128_ps(s1, s5, 0x20);
        p[2] = _mm256_permute2f128_ps(s2, s6, 0x20);
        p[3] = _mm256_permute2f128_ps(s3, s7, 0x20);
        p[4] = _mm256_permute2f128_ps(s0, s4, 0x31);
        p[5] = _mm256_permute2f128_ps(s1, s5, 0x31);
        p[6] = _mm256_permute2f128_ps(s2, s6, 0x31);
        p[7] = _mm256_permute2f128_ps(s3, s7, 0x31);
    }
};

}  // namespace

namespace kestrane::nnls::internal {
const ColumnKernels avx2Columns = makeColumnKernels<Avx2>("avx2");
}
