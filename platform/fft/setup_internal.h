// What a setup holds, shared by the setup code and the kernels. Not part of the API.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "fft.h"

namespace kestrane::fft {

namespace internal {

// Twiddles of one radix-4 pass over a complex sequence of length n: w^p, w^2p, w^3p with
// w = e^{-2 pi i / n}, for p < n/4.
struct Radix4Twiddles {
    const float* w1r = nullptr;
    const float* w1i = nullptr;
    const float* w2r = nullptr;
    const float* w2i = nullptr;
    const float* w3r = nullptr;
    const float* w3i = nullptr;
};

// Twiddles of the real pass for N points: e^{-2 pi i k / N} for k <= N/4.
struct RealTwiddles {
    const float* wr = nullptr;
    const float* wi = nullptr;
};

struct Kernels;

}  // namespace internal

class Setup {
public:
    int maxLog2n = 0;
    std::vector<float> storage;                              // every table, one allocation
    std::array<internal::Radix4Twiddles, 32> radix4{};       // by log2 of the complex length n
    std::array<internal::RealTwiddles, 32> real{};           // by log2 of the real length N
};

namespace internal {

// One instruction set's implementation of the real transform.
struct Kernels {
    const char* name;
    std::size_t minHalfLength;  // smallest h it handles; smaller sizes go to the scalar kernels
    void (*forward)(const Setup&, SplitComplex, std::size_t h, float* work);
    void (*inverse)(const Setup&, SplitComplex, std::size_t h, float* work);
    // The same with the samples interleaved: forward reads them (realTransformFromSamples),
    // inverse writes them (realTransformToSamples).
    void (*forwardSamples)(const Setup&, const float* samples, SplitComplex, std::size_t h, float* work);
    void (*inverseSamples)(const Setup&, SplitComplex, float* samples, std::size_t h, float* work);
};

extern const Kernels scalarKernels;
extern const Kernels sse2Kernels;
extern const Kernels avx2Kernels;

}  // namespace internal

}  // namespace kestrane::fft
