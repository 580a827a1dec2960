// The column kernels written once over a vector type V and instantiated per instruction set,
// each in its own translation unit (inside an anonymous namespace, so that copies compiled
// for different instruction sets never meet at link time).
//
// A dot product's terms must be added in row order, one after another, so a vector cannot
// run along a column. Instead a block of L columns x L rows is loaded column by column (each
// a contiguous load), multiplied by the L matching elements of u, transposed, and the L
// rows of products are added one after another to a vector holding the L columns' sums:
// every lane sees the additions of its own column in the scalar order. Two such blocks run
// side by side so that one block's chain of additions does not wait on the other's latency.
#pragma once

#include "columns.h"

namespace {

template <class V>
struct ColumnOps {
    using T = typename V::T;
    static constexpr int L = V::lanes;

    // K blocks of L columns.
    template <int K>
    static void dotBlock(float* const* cols, const float* u, long first, long last, float* sums) {
        T acc[K];
        for (int k = 0; k < K; ++k) acc[k] = V::load(sums + k * L);
        long i = first;
        for (; i + L <= last; i += L) {
            const T uv = V::load(u + i);
            for (int k = 0; k < K; ++k) {
                T p[L];
                for (int c = 0; c < L; ++c) p[c] = V::mul(V::load(cols[k * L + c] + i), uv);
                V::transpose(p);
                for (int r = 0; r < L; ++r) acc[k] = V::add(acc[k], p[r]);
            }
        }
        if (i < last) {
            // The last rows: loaded as a short block (the missing rows read as zero, nothing
            // past the column is touched) whose products are added only for the rows present.
            const int rows = static_cast<int>(last - i);
            const T uv = V::loadPartial(u + i, rows);
            for (int k = 0; k < K; ++k) {
                T p[L];
                for (int c = 0; c < L; ++c) p[c] = V::mul(V::loadPartial(cols[k * L + c] + i, rows), uv);
                V::transpose(p);
                for (int r = 0; r < rows; ++r) acc[k] = V::add(acc[k], p[r]);
            }
        }
        for (int k = 0; k < K; ++k) V::store(sums + k * L, acc[k]);
    }

    static void dot(float* const* cols, int count, const float* u, long first, long last, float* sums) {
        int c = 0;
        for (; c + 2 * L <= count; c += 2 * L) dotBlock<2>(cols + c, u, first, last, sums + c);
        for (; c + L <= count; c += L) dotBlock<1>(cols + c, u, first, last, sums + c);
        if (c == count) return;
        // The last few columns ride in one block padded with copies of the last of them; the
        // padding's sums are dropped.
        float* padded[L];
        float padSums[L];
        for (int k = 0; k < L; ++k) {
            const int from = c + k < count ? c + k : count - 1;
            padded[k] = cols[from];
            padSums[k] = sums[from];
        }
        dotBlock<1>(padded, u, first, last, padSums);
        for (int k = 0; c + k < count; ++k) sums[c + k] = padSums[k];
    }

    static float maxAbs(const float* u, long first, long last, float start) {
        // max is exact in any order; only NaN needs care. The scalar rule keeps the running
        // maximum when an element is NaN and stays NaN once the start is NaN, which is what
        // a lane-wise max(|x|, acc) does (it returns acc when either is NaN). The zeros that
        // pad the last block never exceed a start of at least zero.
        T acc = V::set1(start);
        long i = first;
        for (; i + L <= last; i += L) acc = V::max(V::abs(V::load(u + i)), acc);
        if (i < last) acc = V::max(V::abs(V::loadPartial(u + i, static_cast<int>(last - i))), acc);
        float lanes[L];
        V::store(lanes, acc);
        float result = lanes[0];
        for (int k = 1; k < L; ++k) result = lanes[k] > result ? lanes[k] : result;
        return result;
    }

    static void update(float* v, const float* u, float s, long first, long last) {
        const T sv = V::set1(s);
        long i = first;
        for (; i + L <= last; i += L) V::store(v + i, V::add(V::load(v + i), V::mul(sv, V::load(u + i))));
        for (; i < last; ++i) v[i] = v[i] + s * u[i];
    }
};

template <class V>
constexpr kestrane::nnls::internal::ColumnKernels makeColumnKernels(const char* name) {
    return {name, &ColumnOps<V>::dot, &ColumnOps<V>::maxAbs, &ColumnOps<V>::update};
}

}  // namespace
