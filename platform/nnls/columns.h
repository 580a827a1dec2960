// The two column operations that take nearly all of a solve's time, with one implementation
// per instruction set and the choice made at run time. Not part of the API.
//
// Both keep the solver's results bit for bit: a dot product adds its terms one after another
// in row order, exactly as the one-column loop does (vectors run across columns, never
// within one sum), and an update touches each element with one multiply and one add, rounded
// separately (never fused).
#pragma once

namespace kestrane::nnls::internal {

struct ColumnKernels {
    const char* name;
    // For c < count: sums[c] = sums[c] + cols[c][i] * u[i], for i = first .. last-1 in order.
    void (*dot)(float* const* cols, int count, const float* u, long first, long last, float* sums);
    // The largest of start and |u[i]| for i = first .. last-1, by the solver's rule: an
    // element that is NaN is passed over, and a start that is NaN is the result.
    float (*maxAbs)(const float* u, long first, long last, float start);
    // v[i] = v[i] + s * u[i] for i = first .. last-1.
    void (*update)(float* v, const float* u, float s, long first, long last);
};

extern const ColumnKernels sse2Columns;  // every x86-64 processor
extern const ColumnKernels avx2Columns;  // only where the processor has AVX2

// The kernels the solver uses: AVX2 where the processor has it, else SSE2.
const ColumnKernels& columnKernels();

// Makes the solver use other kernels (the tests run both sets); false, changing nothing, when
// this processor cannot run them.
bool useColumnKernels(const ColumnKernels& kernels);

}  // namespace kestrane::nnls::internal
