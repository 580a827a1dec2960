// SSE2 column kernels: four columns per block. Every x86-64 processor has them.
#include <emmintrin.h>

#include "columns_impl.h"

namespace {

struct Sse2 {
    using T = __m128;
    static constexpr int lanes = 4;
    static T load(const float* p) { return _mm_loadu_ps(p); }
    static void store(float* p, T v) { _mm_storeu_ps(p, v); }
    static T set1(float v) { return _mm_set1_ps(v); }
    static T add(T a, T b) { return _mm_add_ps(a, b); }
    static T mul(T a, T b) { return _mm_mul_ps(a, b); }
    static T max(T a, T b) { return _mm_max_ps(a, b); }
    static T abs(T v) { return _mm_andnot_ps(_mm_set1_ps(-0.0f), v); }
    // The first count (< 4) elements of p, the rest zero.
    static T loadPartial(const float* p, int count) {
        float lanes[4] = {0, 0, 0, 0};
        for (int i = 0; i < count; ++i) lanes[i] = p[i];
        return _mm_loadu_ps(lanes);
    }
    static void transpose(T* p) { _MM_TRANSPOSE4_PS(p[0], p[1], p[2], p[3]); }
};

}  // namespace

namespace kestrane::nnls::internal {
const ColumnKernels sse2Columns = makeColumnKernels<Sse2>("sse2");
}
