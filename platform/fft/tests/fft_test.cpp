// The FFT engine against a double-precision reference, for every kernel this processor can
// run and every size from 4 to 2^20 points.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <vector>

#include "fft.h"
#include "setup_internal.h"

namespace fft = kestrane::fft;
using Cd = std::complex<double>;

namespace {

// Radix-2 DFT in double precision, sign -1: a bit-reversal permutation, then butterflies
// whose twiddles come from one table of directly computed values, so that the reference keeps
// about 1e-15 of accuracy at 2^20 points and allocates nothing per level.
void referenceFft(std::vector<Cd>& a) {
    const std::size_t n = a.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    std::vector<Cd> twiddle(n / 2);
    for (std::size_t k = 0; k < n / 2; ++k) {
        twiddle[k] = std::polar(1.0, -2.0 * M_PI * static_cast<double>(k) / static_cast<double>(n));
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const std::size_t half = len / 2, step = n / len;
        for (std::size_t start = 0; start < n; start += len) {
            for (std::size_t k = 0; k < half; ++k) {
                const Cd t = twiddle[k * step] * a[start + k + half];
                a[start + k + half] = a[start + k] - t;
                a[start + k] += t;
            }
        }
    }
}

std::vector<float> randomSignal(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> x(n);
    for (auto& v : x) v = dist(rng);
    return x;
}

std::vector<const fft::internal::Kernels*> kernelsHere() {
    std::vector<const fft::internal::Kernels*> out = {&fft::internal::scalarKernels, &fft::internal::sse2Kernels};
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) out.push_back(&fft::internal::avx2Kernels);
    return out;
}

struct Result {
    double forwardError;
    double roundTripError;
};

// The reference transform of a signal.
std::vector<Cd> reference(const std::vector<float>& x) {
    std::vector<Cd> ref(x.begin(), x.end());
    referenceFft(ref);
    return ref;
}

// Runs one kernel's forward and inverse transform on the signal x whose transform is ref.
Result measure(const fft::internal::Kernels& k, const fft::Setup& setup, const std::vector<float>& x,
               const std::vector<Cd>& ref) {
    const std::size_t n = x.size(), h = n / 2;
    std::vector<float> re(h), im(h), work(n);
    fft::splitEvenOdd(x.data(), {re.data(), im.data()}, h);
    k.forward(setup, {re.data(), im.data()}, h, work.data());
    double err = 0, norm = 0;
    auto add = [&](double got, double want) {
        err += (got - want) * (got - want);
        norm += want * want;
    };
    add(re[0], 2 * ref[0].real());
    add(im[0], 2 * ref[h].real());
    for (std::size_t b = 1; b < h; ++b) {
        add(re[b], 2 * ref[b].real());
        add(im[b], 2 * ref[b].imag());
    }
    const double forwardError = std::sqrt(err / norm);

    k.inverse(setup, {re.data(), im.data()}, h, work.data());
    std::vector<float> back(n);
    fft::mergeEvenOdd({re.data(), im.data()}, back.data(), h);
    err = norm = 0;
    for (std::size_t i = 0; i < n; ++i) add(back[i] / (2.0 * static_cast<double>(n)), x[i]);
    return {forwardError, std::sqrt(err / norm)};
}

}  // namespace

TEST(Reference, AgreesWithADirectDft) {
    const std::vector<float> x = randomSignal(64, 7);
    std::vector<Cd> fast(x.begin(), x.end());
    referenceFft(fast);
    for (std::size_t k = 0; k < 64; ++k) {
        Cd direct = 0;
        for (std::size_t m = 0; m < 64; ++m) direct += static_cast<double>(x[m]) * std::polar(1.0, -2.0 * M_PI * double(k * m) / 64.0);
        EXPECT_LT(std::abs(direct - fast[k]), 1e-12);
    }
}

TEST(RealTransform, EveryKernelIsAccurateAtEverySizeFromOneLargeSetup) {
    const fft::SetupPtr setup = fft::createSetup(20);
    ASSERT_NE(setup, nullptr);
    for (int log2n = 2; log2n <= 20; ++log2n) {
        const std::vector<float> x = randomSignal(std::size_t{1} << log2n, static_cast<unsigned>(log2n));
        const std::vector<Cd> ref = reference(x);
        for (const auto* k : kernelsHere()) {
            if ((std::size_t{1} << (log2n - 1)) < k->minHalfLength) continue;
            const Result r = measure(*k, *setup, x, ref);
            const double bound = 5e-7 * log2n;
            EXPECT_LE(r.forwardError, bound) << k->name << " N=2^" << log2n;
            EXPECT_LE(r.roundTripError, bound) << k->name << " N=2^" << log2n;
        }
    }
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// The entry points that read or write interleaved samples fold the split or the merge into a
// pass of the transform; the arithmetic is the same, so the bits must be.
TEST(RealTransform, SampleEntryPointsGiveTheBitsOfSplitAndMerge) {
    const fft::SetupPtr setup = fft::createSetup(16);
    ASSERT_NE(setup, nullptr);
    for (int log2n = 2; log2n <= 16; ++log2n) {
        const std::size_t n = std::size_t{1} << log2n, h = n / 2;
        const std::vector<float> x = randomSignal(n, 40 + static_cast<unsigned>(log2n));
        for (const auto* k : kernelsHere()) {
            if (h < k->minHalfLength) continue;
            std::vector<float> re(h), im(h), fusedRe(h, 7.0f), fusedIm(h, 7.0f), work(n, 7.0f);
            fft::splitEvenOdd(x.data(), {re.data(), im.data()}, h);
            k->forward(*setup, {re.data(), im.data()}, h, work.data());
            k->forwardSamples(*setup, x.data(), {fusedRe.data(), fusedIm.data()}, h, work.data());
            EXPECT_TRUE(sameBits(re, fusedRe) && sameBits(im, fusedIm)) << k->name << " forward N=2^" << log2n;

            std::vector<float> merged(n), fused(n, 7.0f);
            std::vector<float> specRe = re, specIm = im;
            k->inverse(*setup, {re.data(), im.data()}, h, work.data());
            fft::mergeEvenOdd({re.data(), im.data()}, merged.data(), h);
            k->inverseSamples(*setup, {specRe.data(), specIm.data()}, fused.data(), h, work.data());
            EXPECT_TRUE(sameBits(merged, fused)) << k->name << " inverse N=2^" << log2n;
        }
    }
}

TEST(RealTransform, ASetupServesExactlyItsOwnLargestSize) {
    for (int log2n = 2; log2n <= 12; ++log2n) {
        const fft::SetupPtr setup = fft::createSetup(log2n);
        ASSERT_NE(setup, nullptr);
        EXPECT_EQ(fft::maxLog2n(*setup), log2n);
        const std::vector<float> x = randomSignal(std::size_t{1} << log2n, 99);
        const std::vector<Cd> ref = reference(x);
        for (const auto* k : kernelsHere()) {
            if ((std::size_t{1} << (log2n - 1)) < k->minHalfLength) continue;
            const Result r = measure(*k, *setup, x, ref);
            EXPECT_LE(r.forwardError, 5e-7 * log2n) << k->name << " N=2^" << log2n;
        }
    }
}

TEST(RealTransform, PublicEntryPointMatchesPackedLayoutOnSimpleSignals) {
    const fft::SetupPtr setup = fft::createSetup(10);
    const std::size_t n = 1024, h = n / 2;
    std::vector<float> x(n), re(h), im(h), work(n);
    // cos(2 pi m / N): bin 1 holds N/2, doubled by the packed form.
    for (std::size_t m = 0; m < n; ++m) x[m] = static_cast<float>(std::cos(2 * M_PI * double(m) / double(n)));
    fft::splitEvenOdd(x.data(), {re.data(), im.data()}, h);
    fft::realTransform(*setup, {re.data(), im.data()}, 10, fft::Direction::forward, work.data());
    EXPECT_NEAR(re[1], static_cast<float>(n), 1e-3);
    EXPECT_NEAR(im[0], 0.0f, 1e-3);
    for (std::size_t k = 2; k < h; ++k) EXPECT_NEAR(re[k], 0.0f, 1e-3) << k;
}

TEST(Setup, RefusesSizesOutsideTheRange) {
    EXPECT_EQ(fft::createSetup(1), nullptr);
    EXPECT_EQ(fft::createSetup(31), nullptr);
}

TEST(Spectrum, ForwardIsTheWholeDftWithAnExactlyMirroredUpperHalf) {
    const fft::SetupPtr setup = fft::createSetup(13);
    for (int log2n : {2, 3, 10, 11, 12, 13}) {  // both sides of the work memory's stack bound
        const std::size_t n = std::size_t{1} << log2n, h = n / 2;
        const std::vector<float> x = randomSignal(n, 3 + static_cast<unsigned>(log2n));
        std::vector<float> re(n, 7.0f), im(n, 7.0f);  // every value must be written
        ASSERT_TRUE(fft::forwardSpectrum(*setup, log2n, x.data(), re.data(), im.data()));
        std::vector<Cd> ref(x.begin(), x.end());
        referenceFft(ref);
        double err = 0, norm = 0;
        for (std::size_t k = 0; k < n; ++k) {
            err += std::norm(Cd(re[k], im[k]) - ref[k]);
            norm += std::norm(ref[k]);
        }
        EXPECT_LE(std::sqrt(err / norm), 5e-7 * log2n) << "N=2^" << log2n;
        for (std::size_t k = 1; k < h; ++k) {
            ASSERT_EQ(re[n - k], re[k]) << k;
            ASSERT_EQ(im[n - k], -im[k]) << k;
        }
        EXPECT_TRUE(im[0] == 0.0f && !std::signbit(im[0]));
        EXPECT_TRUE(im[h] == 0.0f && !std::signbit(im[h]));
    }
}

TEST(Spectrum, InverseReadsOnlyTheHalfSpectrumAndRoundTrips) {
    const fft::SetupPtr setup = fft::createSetup(12);
    for (int log2n : {2, 5, 11, 12}) {
        const std::size_t n = std::size_t{1} << log2n, h = n / 2;
        const std::vector<float> x = randomSignal(n, 11);
        std::vector<float> re(n), im(n), back(n), again(n);
        ASSERT_TRUE(fft::forwardSpectrum(*setup, log2n, x.data(), re.data(), im.data()));
        ASSERT_TRUE(fft::inverseSpectrum(*setup, log2n, re.data(), im.data(), back.data()));
        for (std::size_t m = 0; m < n; ++m) ASSERT_NEAR(back[m], x[m], 1e-5) << "N=2^" << log2n << " m=" << m;

        // Values outside re[0..h] and im[1..h-1] have no effect.
        im[0] = 99.0f;
        im[h] = -99.0f;
        for (std::size_t k = h + 1; k < n; ++k) re[k] = im[k] = 12345.0f;
        ASSERT_TRUE(fft::inverseSpectrum(*setup, log2n, re.data(), im.data(), again.data()));
        EXPECT_EQ(again, back);
    }
}
