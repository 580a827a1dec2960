// Lawson-Hanson non-negative least squares in single precision, with the few double precision
// steps the algorithm names. Results are reproducible bit for bit: the routines are compiled
// without contraction into fused multiply-adds (-ffp-contract=off) and never with fast-math.
// Every array is column-major / 0-based in memory; the routines index it 1-based.
//
// The bridge exports these routines with C linkage under their original names (nnls, h12,
// g1, d_sign).
#pragma once

#include "expected.h"

namespace kestrane::nnls {

// Solves min |A x - b| subject to x >= 0 in place. a: m x n in an mda x n array (overwritten
// with the transformed matrix), b: m values (overwritten), x: n values (output), w: n floats
// (dual vector out), zz: m floats, index: n ints. mode out: 1 solved, 2 m <= 0 or n <= 0
// (nothing touched), 3 iteration limit (3n inner passes) reached.
void solve(float* a, int mda, int m, int n, float* b, float* x, float* w, float* zz, int* index, int* mode);

// The same with work storage of its own (w, zz and index: on the stack for small problems,
// else a per-thread buffer). Returns the mode, or Error NnlsError::outOfMemory when the work storage
// cannot be had. The caller has checked that a holds mda*(n-1)+m values, b m and x n.
enum class NnlsError { outOfMemory = 1 };
Expected<int> solve(float* a, int mda, int m, int n, float* b, float* x);

// Householder transformation: mode 1 constructs (from u) and applies, mode 2 applies a
// transformation constructed earlier, to ncv target vectors starting at c (element stride
// ice, vector stride icv). u has element stride iue; up carries the construction's scalar.
void h12(int mode, int lpivot, int l1, int m, float* u, int iue, float* up, float* c, int ice, int icv, int ncv);

// Givens rotation for (a, b): cosine, sine and the rotated length sig. a is read before sig
// is written, so sig may point at the caller's copy of a.
void g1(float a, float b, float* cterm, float* sterm, float* sig);

// abs(x) when y >= 0, else -abs(x).
float dSign(float x, float y);

}  // namespace kestrane::nnls
