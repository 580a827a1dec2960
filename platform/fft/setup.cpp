// Setup creation and the choice of kernels. A setup for 2^L points holds, for every complex
// length n = 4 .. 2^(L-1), the three twiddle tables of a radix-4 pass, and for every real
// length N = 4 .. 2^L the twiddles of the real pass. Tables are computed in double precision
// from sin/cos of each angle (no recurrences), so their error does not grow with N.
#include <cmath>
#include <new>

#include "setup_internal.h"

namespace kestrane::fft {

namespace {

const internal::Kernels& bestKernels() {
    static const internal::Kernels* chosen = [] {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return &internal::avx2Kernels;
        return &internal::sse2Kernels;
    }();
    return *chosen;
}

// cos and sin of -2 pi k / n, exact at the quarter turns.
void unitRoot(std::size_t k, std::size_t n, float& re, float& im) {
    const double angle = -2.0 * M_PI * static_cast<double>(k) / static_cast<double>(n);
    if (k == 0) { re = 1.0f; im = 0.0f; return; }
    if (4 * k == n) { re = 0.0f; im = -1.0f; return; }
    if (2 * k == n) { re = -1.0f; im = 0.0f; return; }
    re = static_cast<float>(std::cos(angle));
    im = static_cast<float>(std::sin(angle));
}

}  // namespace

void SetupDeleter::operator()(Setup* setup) const {
    std::default_delete<Setup>()(setup);
}

SetupPtr createSetup(int maxLog2n) {
    if (maxLog2n < 2 || maxLog2n > 30) return nullptr;
    try {
        SetupPtr setup(std::make_unique<Setup>().release());
        setup->maxLog2n = maxLog2n;

        // Count the floats first so that the tables live in one allocation.
        std::size_t total = 0;
        for (int j = 2; j <= maxLog2n - 1; ++j) total += 6 * (std::size_t{1} << j) / 4;
        for (int j = 2; j <= maxLog2n; ++j) total += 2 * ((std::size_t{1} << j) / 4 + 1);
        setup->storage.resize(total);
        float* next = setup->storage.data();

        for (int j = 2; j <= maxLog2n - 1; ++j) {
            const std::size_t n = std::size_t{1} << j, m = n / 4;
            float* t = next;
            next += 6 * m;
            for (std::size_t p = 0; p < m; ++p) {
                unitRoot(p, n, t[p], t[m + p]);
                unitRoot(2 * p, n, t[2 * m + p], t[3 * m + p]);
                unitRoot(3 * p, n, t[4 * m + p], t[5 * m + p]);
            }
            setup->radix4[j] = {t, t + m, t + 2 * m, t + 3 * m, t + 4 * m, t + 5 * m};
        }
        for (int j = 2; j <= maxLog2n; ++j) {
            const std::size_t n = std::size_t{1} << j, count = n / 4 + 1;
            float* t = next;
            next += 2 * count;
            for (std::size_t k = 0; k < count; ++k) unitRoot(k, n, t[k], t[count + k]);
            setup->real[j] = {t, t + count};
        }
        return setup;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

int maxLog2n(const Setup& setup) {
    return setup.maxLog2n;
}

namespace {

const internal::Kernels& kernelsFor(std::size_t h) {
    const internal::Kernels& best = bestKernels();
    return h >= best.minHalfLength ? best : internal::scalarKernels;
}

}  // namespace

void realTransform(const Setup& setup, SplitComplex data, int log2n, Direction direction, float* work) {
    const std::size_t h = std::size_t{1} << (log2n - 1);
    if (direction == Direction::forward) kernelsFor(h).forward(setup, data, h, work);
    else kernelsFor(h).inverse(setup, data, h, work);
}

void realTransformFromSamples(const Setup& setup, const float* samples, SplitComplex out, int log2n, float* work) {
    const std::size_t h = std::size_t{1} << (log2n - 1);
    kernelsFor(h).forwardSamples(setup, samples, out, h, work);
}

void realTransformToSamples(const Setup& setup, SplitComplex data, float* samples, int log2n, float* work) {
    const std::size_t h = std::size_t{1} << (log2n - 1);
    kernelsFor(h).inverseSamples(setup, data, samples, h, work);
}

const char* instructionSet() {
    return bestKernels().name;
}

}  // namespace kestrane::fft
