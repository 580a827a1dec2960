// The transform kernels, written once over a vector type V and instantiated per instruction
// set (scalar, SSE2, AVX2+FMA), each in its own translation unit. The whole file sits in an
// anonymous namespace so that the copies compiled with different instruction sets never
// meet at link time.
//
// Complex FFT: Stockham autosort, radix 4 (a radix-8 or radix-2 pass last when log2 h is
// odd, see plan()), on split real/imaginary arrays, ping-ponging between the data and a work
// buffer. Stockham needs no bit-reversal pass; every pass streams through memory in order.
// Pass with current length n and stride s (n*s = h), m = n/4:
//   a,b,c,d = x[q + s(p + k m)]  for k = 0..3
//   y[q + s(4p + 0)] = (a + c) + (b + d)
//   y[q + s(4p + 1)] = w^p  ((a - c) - i(b - d))
//   y[q + s(4p + 2)] = w^2p ((a + c) - (b + d))
//   y[q + s(4p + 3)] = w^3p ((a - c) + i(b - d))          with w = e^{-2 pi i / n}
// Vectors run over q when s is at least the vector width; the first pass (s = 1) runs over p
// and transposes on store, and V may supply a dedicated s = 4 pass.
//
// Real transform of N = 2h points: the h-point complex FFT of z[m] = x[2m] + i x[2m+1],
// followed by a pass that pairs bins k and h-k (the real pass); the inverse runs the mirror
// pass first and then the complex FFT with real and imaginary arrays swapped, which computes
// the unnormalised inverse. The entry points with interleaved samples read them in the first
// pass and write them in the last, sparing the separate split and merge.
#pragma once

#include <cstddef>
#include <utility>

#include "setup_internal.h"

namespace {

using kestrane::fft::Setup;
using kestrane::fft::SplitComplex;
using kestrane::fft::internal::Radix4Twiddles;
using kestrane::fft::internal::RealTwiddles;

template <class V>
struct Transform {
    using T = typename V::T;
    static constexpr std::size_t L = V::lanes;

    struct Cx {
        T re, im;
    };

    static Cx cmul(T wr, T wi, Cx x) {
        return {V::mulSub(wr, x.re, V::mul(wi, x.im)), V::mulAdd(wr, x.im, V::mul(wi, x.re))};
    }

    // The radix-4 butterfly; with Twiddle false, w = 1 (p = 0).
    template <bool Twiddle>
    static void butterfly(Cx a, Cx b, Cx c, Cx d, const T* w, Cx& y0, Cx& y1, Cx& y2, Cx& y3) {
        const Cx apc{V::add(a.re, c.re), V::add(a.im, c.im)};
        const Cx amc{V::sub(a.re, c.re), V::sub(a.im, c.im)};
        const Cx bpd{V::add(b.re, d.re), V::add(b.im, d.im)};
        const Cx bmd{V::sub(b.re, d.re), V::sub(b.im, d.im)};
        y0 = {V::add(apc.re, bpd.re), V::add(apc.im, bpd.im)};
        const Cx t1{V::add(amc.re, bmd.im), V::sub(amc.im, bmd.re)};
        const Cx t2{V::sub(apc.re, bpd.re), V::sub(apc.im, bpd.im)};
        const Cx t3{V::sub(amc.re, bmd.im), V::add(amc.im, bmd.re)};
        if constexpr (Twiddle) {
            y1 = cmul(w[0], w[1], t1);
            y2 = cmul(w[2], w[3], t2);
            y3 = cmul(w[4], w[5], t3);
        } else {
            y1 = t1;
            y2 = t2;
            y3 = t3;
        }
    }

    static Cx load(const float* re, const float* im, std::size_t i) { return {V::load(re + i), V::load(im + i)}; }
    static void store(float* re, float* im, std::size_t i, Cx v) {
        V::store(re + i, v.re);
        V::store(im + i, v.im);
    }
    static Cx loadSamples(const float* x, std::size_t i) {
        Cx c;
        V::loadDeinterleaved(x + 2 * i, c.re, c.im);
        return c;
    }

    // Where a pass writes: split arrays, or (the fused inverse's last pass) interleaved
    // samples. The inverse runs the forward FFT with real and imaginary parts swapped, so a
    // sample pair is (im, re) of what the pass computes.
    struct SplitOut {
        float* re;
        float* im;
        void put(std::size_t i, Cx v) const { store(re, im, i, v); }
        SplitOut at(std::size_t offset) const { return {re + offset, im + offset}; }
    };
    struct SamplesOut {
        float* x;
        void put(std::size_t i, Cx v) const { V::storeInterleaved(x + 2 * i, v.im, v.re); }
        SamplesOut at(std::size_t offset) const { return {x + 2 * offset}; }
    };
    struct ToBuffer {};  // the last pass writes to the ping-pong buffer, as every other
    static SplitOut finalOut(ToBuffer, float* yr, float* yi) { return {yr, yi}; }
    static SamplesOut finalOut(SamplesOut out, float*, float*) { return out; }

    // First pass (s = 1): vectors over p, outputs transposed into y[4p + r]. FromSamples:
    // the input is read from the interleaved samples (x[2m], x[2m+1]) in place of their split.
    template <bool FromSamples>
    static void passFirst(const Radix4Twiddles& tw, std::size_t n, const float* xr, const float* xi,
                          const float* samples, float* yr, float* yi) {
        const std::size_t m = n / 4;
        auto in = [&](std::size_t i) {
            if constexpr (FromSamples) return loadSamples(samples, i);
            else return load(xr, xi, i);
        };
        for (std::size_t p = 0; p < m; p += L) {
            const Cx a = in(p), b = in(p + m), c = in(p + 2 * m), d = in(p + 3 * m);
            const T w[6] = {V::load(tw.w1r + p), V::load(tw.w1i + p), V::load(tw.w2r + p),
                            V::load(tw.w2i + p), V::load(tw.w3r + p), V::load(tw.w3i + p)};
            Cx y0, y1, y2, y3;
            butterfly<true>(a, b, c, d, w, y0, y1, y2, y3);
            V::storeTransposed4(yr + 4 * p, y0.re, y1.re, y2.re, y3.re);
            V::storeTransposed4(yi + 4 * p, y0.im, y1.im, y2.im, y3.im);
        }
    }

    // One group p of a strided pass: the s butterflies that share the twiddles w (unused
    // when Twiddle is false, for p = 0 where they are all 1).
    template <bool Twiddle, class Out>
    static void stridedGroup(const float* ar, const float* ai, std::size_t sm, std::size_t s, const T* w, Out out) {
        for (std::size_t q = 0; q < s; q += L) {
            Cx y0, y1, y2, y3;
            butterfly<Twiddle>(load(ar, ai, q), load(ar, ai, q + sm), load(ar, ai, q + 2 * sm),
                               load(ar, ai, q + 3 * sm), w, y0, y1, y2, y3);
            out.put(q, y0);
            out.put(q + s, y1);
            out.put(q + 2 * s, y2);
            out.put(q + 3 * s, y3);
        }
    }

    // A pass with s >= L: vectors over q, twiddles broadcast per p.
    template <class Out>
    static void passStrided(const Radix4Twiddles& tw, std::size_t n, std::size_t s, const float* xr,
                            const float* xi, Out out) {
        const std::size_t m = n / 4, sm = s * m;
        stridedGroup<false>(xr, xi, sm, s, nullptr, out);
        for (std::size_t p = 1; p < m; ++p) {
            const T w[6] = {V::set1(tw.w1r[p]), V::set1(tw.w1i[p]), V::set1(tw.w2r[p]),
                            V::set1(tw.w2i[p]), V::set1(tw.w3r[p]), V::set1(tw.w3i[p])};
            stridedGroup<true>(xr + s * p, xi + s * p, sm, s, w, out.at(s * 4 * p));
        }
    }

    // The radix-2 pass when one bit is left after the leading passes: n = 2, s = h/2, no
    // twiddles.
    template <class Out>
    static void passRadix2(std::size_t s, const float* xr, const float* xi, Out out) {
        for (std::size_t q = 0; q < s; q += L) {
            const Cx a = load(xr, xi, q), b = load(xr, xi, q + s);
            out.put(q, {V::add(a.re, b.re), V::add(a.im, b.im)});
            out.put(q + s, {V::sub(a.re, b.re), V::sub(a.im, b.im)});
        }
    }

    // The 8-point DFT of a0..a7: two 4-point DFTs (even and odd inputs) joined by the eighth
    // roots of unity, y[r] = E[r] + W8^r O[r] and y[r+4] = E[r] - W8^r O[r]. Always inlined,
    // so that a and y stay in registers.
    [[gnu::always_inline]] static void butterfly8(const Cx* a, Cx* y) {
        const T r = V::set1(0.70710678118654752f);  // 1/sqrt(2)
        Cx e0, e1, e2, e3, o0, o1, o2, o3;
        butterfly<false>(a[0], a[2], a[4], a[6], nullptr, e0, e1, e2, e3);
        butterfly<false>(a[1], a[3], a[5], a[7], nullptr, o0, o1, o2, o3);
        // W8 o1 = r((re + im) + i(im - re)); W8^3 o3 = r((im - re) - i(re + im)); W8^2 = -i.
        const Cx t1{V::mul(V::add(o1.re, o1.im), r), V::mul(V::sub(o1.im, o1.re), r)};
        const Cx t3{V::mul(V::sub(o3.im, o3.re), r), V::mul(V::add(o3.re, o3.im), r)};
        y[0] = {V::add(e0.re, o0.re), V::add(e0.im, o0.im)};
        y[1] = {V::add(e1.re, t1.re), V::add(e1.im, t1.im)};
        y[2] = {V::add(e2.re, o2.im), V::sub(e2.im, o2.re)};
        y[3] = {V::add(e3.re, t3.re), V::sub(e3.im, t3.im)};
        y[4] = {V::sub(e0.re, o0.re), V::sub(e0.im, o0.im)};
        y[5] = {V::sub(e1.re, t1.re), V::sub(e1.im, t1.im)};
        y[6] = {V::sub(e2.re, o2.im), V::add(e2.im, o2.re)};
        y[7] = {V::sub(e3.re, t3.re), V::add(e3.im, t3.im)};
    }

    // The closing radix-8 pass when log2 h is odd: n = 8, s = h/8, no twiddles. It does the
    // work of a last radix-4 pass and a radix-2 pass in one trip through memory.
    template <class Out>
    static void passClosing8(std::size_t s, const float* xr, const float* xi, Out out) {
        for (std::size_t q = 0; q < s; q += L) {
            const Cx a[8] = {load(xr, xi, q),         load(xr, xi, q + s),     load(xr, xi, q + 2 * s),
                             load(xr, xi, q + 3 * s), load(xr, xi, q + 4 * s), load(xr, xi, q + 5 * s),
                             load(xr, xi, q + 6 * s), load(xr, xi, q + 7 * s)};
            Cx y[8];
            butterfly8(a, y);
            for (std::size_t r = 0; r < 8; ++r) out.put(q + r * s, y[r]);
        }
    }

    // The passes of the complex FFT of length h = 2^b: radix 4 while the stride s is below
    // the vector width (the first pass runs over p, the s = 4 one may be V's own), strided
    // radix-4 passes for the rest, and when an odd number of bits is left, a closing radix-8
    // pass in place of the last radix-4 pass and a radix-2 pass while the data are small
    // (kClosing8MaxH), else the radix-2 pass. Radix-8 passes with twiddles were tried in the
    // middle too: with 16 vector registers they spill, and were slower than the radix-4
    // passes they saved.
    struct Plan {
        int leading4 = 0;  // radix-4 passes while s < L
        int fours = 0;     // strided radix-4 passes
        bool closing8 = false;
        bool radix2 = false;
        int count() const { return leading4 + fours + (closing8 ? 1 : 0) + (radix2 ? 1 : 0); }
    };
    // Above this h the closing pass's eight input and eight output streams per array, all
    // the same distance apart (a multiple of 4 KiB), compete for one set of the first-level
    // cache, and the radix-4 and radix-2 passes it replaces are faster.
    static constexpr std::size_t kClosing8MaxH = 4096;
    static Plan plan(std::size_t h) {
        Plan plan;
        int bits = 63 - __builtin_clzll(h);
        for (std::size_t s = 1; bits >= 2 && s < L; s *= 4, bits -= 2) ++plan.leading4;
        plan.closing8 = bits >= 3 && bits % 2 == 1 && h <= kClosing8MaxH;
        plan.radix2 = bits % 2 == 1 && !plan.closing8;
        plan.fours = (bits - (plan.closing8 ? 3 : 0)) / 2;
        return plan;
    }

    // The passes complexForward makes, which says in which buffer its result ends.
    static std::size_t passCount(std::size_t h) { return static_cast<std::size_t>(plan(h).count()); }

    // Forward complex FFT of length h from (xr, xi), ping-ponging with (yr, yi); the result
    // ends in (xr, xi) when passCount(h) is even, else in (yr, yi). With samples, the first
    // pass (which must be passFirst) reads them in place of (xr, xi). With last a SamplesOut,
    // the last pass (which must be a strided, closing or radix-2 one) writes there instead.
    template <class Last = ToBuffer>
    static void complexForward(const Setup& setup, std::size_t h, float* xr, float* xi, float* yr, float* yi,
                               const float* samples = nullptr, Last last = {}) {
        const Plan passes = plan(h);
        std::size_t n = h, s = 1;
        int log2n = 63 - __builtin_clzll(h);
        auto next = [&](int bits) {
            std::swap(xr, yr);
            std::swap(xi, yi);
            n >>= bits;
            s <<= bits;
            log2n -= bits;
        };
        for (int i = 0; i < passes.leading4; ++i, next(2)) {
            const Radix4Twiddles& tw = setup.radix4[static_cast<std::size_t>(log2n)];
            if (s == 1 && samples != nullptr) passFirst<true>(tw, n, xr, xi, samples, yr, yi);
            else if (s == 1) passFirst<false>(tw, n, xr, xi, nullptr, yr, yi);
            else V::passStride4(tw, n, xr, xi, yr, yi);
        }
        const bool tail = passes.closing8 || passes.radix2;
        for (int i = 0; i < passes.fours; ++i, next(2)) {
            const Radix4Twiddles& tw = setup.radix4[static_cast<std::size_t>(log2n)];
            if (!tail && i + 1 == passes.fours) passStrided(tw, n, s, xr, xi, finalOut(last, yr, yi));
            else passStrided(tw, n, s, xr, xi, SplitOut{yr, yi});
        }
        if (passes.closing8) passClosing8(s, xr, xi, finalOut(last, yr, yi));
        if (passes.radix2) passRadix2(s, xr, xi, finalOut(last, yr, yi));
    }

    // Forward: split of x in data -> packed 2X in data. With samples, x is read from them
    // and data is only written.
    static void forward(const Setup& setup, SplitComplex data, std::size_t h, float* work,
                        const float* samples = nullptr) {
        float* wr = work;
        float* wi = work + h;
        complexForward(setup, h, data.realp, data.imagp, wr, wi, samples);
        const bool inWork = passCount(h) % 2 == 1;
        realPass<true>(setup, h, inWork ? wr : data.realp, inWork ? wi : data.imagp, data.realp, data.imagp);
    }

    // The same from the interleaved samples, the split folded into the first pass.
    static void forwardSamples(const Setup& setup, const float* samples, SplitComplex data, std::size_t h,
                               float* work) {
        if (L == 1 || plan(h).leading4 == 0) {
            kestrane::fft::splitEvenOdd(samples, data, h);
            forward(setup, data, h, work);
            return;
        }
        forward(setup, data, h, work, samples);
    }

    // Inverse: packed Y in data -> split of the unnormalised inverse sum in data.
    static void inverse(const Setup& setup, SplitComplex data, std::size_t h, float* work) {
        float* wr = work;
        float* wi = work + h;
        const bool startInWork = passCount(h) % 2 == 1;
        float* sr = startInWork ? wr : data.realp;
        float* si = startInWork ? wi : data.imagp;
        realPass<false>(setup, h, data.realp, data.imagp, sr, si);
        // Swapping real and imaginary parts turns the forward FFT into the inverse one.
        if (startInWork) complexForward(setup, h, si, sr, data.imagp, data.realp);
        else complexForward(setup, h, si, sr, wi, wr);
    }

    // The same into interleaved samples, the merge folded into the last pass; data is
    // overwritten.
    static void inverseSamples(const Setup& setup, SplitComplex data, float* samples, std::size_t h, float* work) {
        const Plan passes = plan(h);
        if (passes.fours == 0 && !passes.closing8 && !passes.radix2) {
            inverse(setup, data, h, work);
            kestrane::fft::mergeEvenOdd(data, samples, h);
            return;
        }
        float* wr = work;
        float* wi = work + h;
        realPass<false>(setup, h, data.realp, data.imagp, wr, wi);
        complexForward(setup, h, wi, wr, data.imagp, data.realp, nullptr, SamplesOut{samples});
    }

    // The pass between the h-point complex FFT and the N-point real spectrum, pairing bins k
    // and h-k. With E = A[k] + conj A[h-k] and O = A[k] - conj A[h-k]:
    //   forward (A = Z, the FFT of the even/odd split; out = packed 2X), T = W^k O:
    //     out[k] = E - i T,  out[h-k] = conj(E + i T),  out[0] = 2(Re Z0 + Im Z0, Re Z0 - Im Z0)
    //   inverse (A = Y, the packed spectrum; out = Zp for the inverse FFT), T = conj(W^k) O:
    //     out[k] = E + i T,  out[h-k] = conj(E - i T),  out[0] = (Y0 + Yh, Y0 - Yh)
    // with W = e^{-2 pi i / N}; the middle bin h/2 becomes (2 Re, -2 Im) either way. May run in
    // place.
    template <bool Forward>
    static void realPass(const Setup& setup, std::size_t h, const float* ar_, const float* ai_, float* outr,
                         float* outi) {
        const RealTwiddles& tw = setup.real[static_cast<std::size_t>(64 - __builtin_clzll(h))];
        const std::size_t half = h / 2;
        std::size_t k = 1;
        for (; k + L - 1 < half && L > 1; k += L) {
            const std::size_t j = h - k - (L - 1);
            const T ar = V::load(ar_ + k), ai = V::load(ai_ + k);
            const T br = V::reverse(V::load(ar_ + j)), bi = V::reverse(V::load(ai_ + j));
            const T er = V::add(ar, br), ei = V::sub(ai, bi);
            const T or_ = V::sub(ar, br), oi = V::add(ai, bi);
            const T wr = V::load(tw.wr + k), wi = V::load(tw.wi + k);
            if constexpr (Forward) {
                const T tr = V::mulSub(wr, or_, V::mul(wi, oi)), ti = V::mulAdd(wr, oi, V::mul(wi, or_));
                V::store(outr + k, V::add(er, ti));
                V::store(outi + k, V::sub(ei, tr));
                V::store(outr + j, V::reverse(V::sub(er, ti)));
                V::store(outi + j, V::reverse(V::sub(V::zero(), V::add(ei, tr))));
            } else {
                const T tr = V::mulAdd(wr, or_, V::mul(wi, oi)), ti = V::mulSub(wr, oi, V::mul(wi, or_));
                V::store(outr + k, V::sub(er, ti));
                V::store(outi + k, V::add(ei, tr));
                V::store(outr + j, V::reverse(V::add(er, ti)));
                V::store(outi + j, V::reverse(V::sub(tr, ei)));
            }
        }
        for (; k < half; ++k) {
            const std::size_t j = h - k;
            const float ar = ar_[k], ai = ai_[k], br = ar_[j], bi = ai_[j];
            const float er = ar + br, ei = ai - bi, or_ = ar - br, oi = ai + bi;
            if constexpr (Forward) {
                const float tr = tw.wr[k] * or_ - tw.wi[k] * oi, ti = tw.wr[k] * oi + tw.wi[k] * or_;
                outr[k] = er + ti;
                outi[k] = ei - tr;
                outr[j] = er - ti;
                outi[j] = -(ei + tr);
            } else {
                const float tr = tw.wr[k] * or_ + tw.wi[k] * oi, ti = tw.wr[k] * oi - tw.wi[k] * or_;
                outr[k] = er - ti;
                outi[k] = ei + tr;
                outr[j] = er + ti;
                outi[j] = tr - ei;
            }
        }
        if (h >= 2) {
            const float mr = ar_[half], mi = ai_[half];
            outr[half] = 2.0f * mr;
            outi[half] = -2.0f * mi;
        }
        const float a0r = ar_[0], a0i = ai_[0];
        const float scale = Forward ? 2.0f : 1.0f;
        outr[0] = scale * (a0r + a0i);
        outi[0] = scale * (a0r - a0i);
    }
};

// Scalar "vectors" of one lane: the reference path and the kernels for the smallest sizes.
struct Scalar {
    using T = float;
    static constexpr std::size_t lanes = 1;
    static T load(const float* p) { return *p; }
    static void store(float* p, T v) { *p = v; }
    static T set1(float v) { return v; }
    static T zero() { return 0.0f; }
    static T add(T a, T b) { return a + b; }
    static T sub(T a, T b) { return a - b; }
    static T mul(T a, T b) { return a * b; }
    static T mulAdd(T a, T b, T c) { return a * b + c; }
    static T mulSub(T a, T b, T c) { return a * b - c; }
    static T reverse(T v) { return v; }
    static void loadDeinterleaved(const float* p, T& even, T& odd) {
        even = p[0];
        odd = p[1];
    }
    static void storeInterleaved(float* p, T even, T odd) {
        p[0] = even;
        p[1] = odd;
    }
    static void storeTransposed4(float* y, T y0, T y1, T y2, T y3) {
        y[0] = y0;
        y[1] = y1;
        y[2] = y2;
        y[3] = y3;
    }
    static void passStride4(const Radix4Twiddles&, std::size_t, const float*, const float*, float*, float*) {}
};

template <class V>
constexpr kestrane::fft::internal::Kernels makeKernels(const char* name, std::size_t minHalfLength) {
    return {name, minHalfLength, [](const Setup& setup, SplitComplex data, std::size_t h, float* work) {
                Transform<V>::forward(setup, data, h, work);
            },
            &Transform<V>::inverse, &Transform<V>::forwardSamples, &Transform<V>::inverseSamples};
}

}  // namespace
