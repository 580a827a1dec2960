// The solver against a second, deliberately plain implementation written straight
// from the algorithm's numbered steps (0-based arrays, a step variable instead of loops), and
// the Kuhn-Tucker conditions on random problems. Compiled with -ffp-contract=off, like the
// solver.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "columns.h"
#include "nnls.h"

namespace plain {

float sgn(float x, float y) { return y >= 0 ? std::fabs(x) : -std::fabs(x); }

void rot(float a, float b, float& c, float& s, float& sig) {
    if (std::fabs(a) > std::fabs(b)) {
        float xr = b / a;
        float yr = (float)std::sqrt(1.0 + (double)(xr * xr));
        c = sgn(1.0f / yr, a);
        s = c * xr;
        sig = std::fabs(a) * yr;
    } else if (b != 0) {
        float xr = a / b;
        float yr = (float)std::sqrt(1.0 + (double)(xr * xr));
        s = sgn(1.0f / yr, b);
        c = s * xr;
        sig = std::fabs(b) * yr;
    } else {
        sig = 0; c = 0; s = 1;
    }
}

// Householder on u[0..m) (0-based p0 = lpivot - 1, first = l1 - 1); targets t[k*tstride + i].
void house(int mode, int p0, int first, int m, float* u, float& up, float* t, int tstride, int ncv) {
    if (p0 < 0 || p0 >= first || first > m - 1) return;
    float cl = std::fabs(u[p0]);
    if (mode == 2) {
        if (!(cl > 0)) return;
    } else {
        for (int i = first; i < m; i++) cl = std::fabs(u[i]) >= cl ? std::fabs(u[i]) : cl;
        if (cl <= 0) return;
        float inv = 1.0f / cl;
        float sm = (u[p0] * inv) * (u[p0] * inv);
        for (int i = first; i < m; i++) sm = sm + (u[i] * inv) * (u[i] * inv);
        cl = (float)((double)cl * std::sqrt((double)sm));
        if (u[p0] > 0) cl = -cl;
        up = u[p0] - cl;
        u[p0] = cl;
    }
    if (ncv <= 0) return;
    float b = up * u[p0];
    if (b >= 0) return;
    b = 1.0f / b;
    for (int k = 0; k < ncv; k++) {
        float* v = t + k * tstride;
        float sm = v[p0] * up;
        for (int i = first; i < m; i++) sm = sm + v[i] * u[i];
        if (sm == 0) continue;
        sm = sm * b;
        v[p0] = v[p0] + sm * up;
        for (int i = first; i < m; i++) v[i] = v[i] + sm * u[i];
    }
}

int removals = 0;  // passes through step 9, counted to show the inner loop was exercised

int solve(std::vector<float>& a, int mda, int m, int n, std::vector<float>& b, std::vector<float>& x) {
    if (m <= 0 || n <= 0) return 2;
    auto A = [&](int r, int k) -> float& { return a[r + k * mda]; };  // 0-based
    std::vector<float> w(n), zz(m);
    std::vector<int> idx(n);
    for (int k = 0; k < n; k++) { x[k] = 0; idx[k] = k; }
    int iter = 0, itmax = 3 * n, nsetp = 0, iz1 = 0, izmax = 0, j = 0, jj = 0;
    float up = 0, asave = 0;
    auto backsolve = [&]() {
        int col = 0;
        for (int l = 0; l < nsetp; l++) {
            int ip = nsetp - 1 - l;
            if (l != 0) for (int r = 0; r <= ip; r++) zz[r] = zz[r] - A(r, col) * zz[ip + 1];
            col = idx[ip];
            zz[ip] = zz[ip] / A(ip, col);
        }
    };
    int step = 3;
    for (;;) {
        switch (step) {
        case 3:
            if (iz1 >= n || nsetp >= m) return 1;
            for (int iz = iz1; iz < n; iz++) {
                float s = 0;
                for (int l = nsetp; l < m; l++) s = s + A(l, idx[iz]) * b[l];
                w[idx[iz]] = s;
            }
            step = 5;
            break;
        case 5: {
            float wmax = 0;
            for (int iz = iz1; iz < n; iz++) if (w[idx[iz]] > wmax) { wmax = w[idx[iz]]; izmax = iz; }
            if (wmax <= 0) return 1;
            j = idx[izmax];
            asave = A(nsetp, j);
            house(1, nsetp, nsetp + 1, m, &A(0, j), up, nullptr, 0, 0);
            float unorm = 0;
            for (int l = 0; l < nsetp; l++) unorm = unorm + A(l, j) * A(l, j);
            unorm = std::sqrt(unorm);
            bool indep = (float)((double)unorm + 0.01 * (double)std::fabs(A(nsetp, j))) > unorm;
            if (indep) {
                for (int l = 0; l < m; l++) zz[l] = b[l];
                house(2, nsetp, nsetp + 1, m, &A(0, j), up, zz.data(), 0, 1);
                if (zz[nsetp] / A(nsetp, j) > 0) { step = 7; break; }
            }
            A(nsetp, j) = asave;
            w[j] = 0;
            break;  // step 5 again
        }
        case 7:
            for (int l = 0; l < m; l++) b[l] = zz[l];
            idx[izmax] = idx[iz1];
            idx[iz1] = j;
            iz1++;
            nsetp++;
            for (int jz = iz1; jz < n; jz++) house(2, nsetp - 1, nsetp, m, &A(0, j), up, &A(0, idx[jz]), mda, 1);
            for (int l = nsetp; l < m; l++) A(l, j) = 0;
            w[j] = 0;
            backsolve();
            step = 8;
            break;
        case 8: {
            if (iter >= itmax) return 3;
            iter++;
            float alpha = 2;
            for (int ip = 0; ip < nsetp; ip++) {
                int l = idx[ip];
                if (zz[ip] <= 0) {
                    float t = -x[l] / (zz[ip] - x[l]);
                    if (alpha > t) { alpha = t; jj = ip; }
                }
            }
            if (alpha == 2) {
                for (int ip = 0; ip < nsetp; ip++) x[idx[ip]] = zz[ip];
                step = 3;
                break;
            }
            for (int ip = 0; ip < nsetp; ip++) x[idx[ip]] = alpha * (zz[ip] - x[idx[ip]]) + x[idx[ip]];
            step = 9;
            break;
        }
        case 9: {
            ++removals;
            int i = idx[jj];
            x[i] = 0;
            for (int q = jj + 1; q < nsetp; q++) {
                int ii = idx[q];
                idx[q - 1] = ii;
                float c, s;
                rot(A(q - 1, ii), A(q, ii), c, s, A(q - 1, ii));
                A(q, ii) = 0;
                for (int l = 0; l < n; l++) {
                    if (l == ii) continue;
                    float t = A(q - 1, l);
                    A(q - 1, l) = c * t + s * A(q, l);
                    A(q, l) = -s * t + c * A(q, l);
                }
                float t = b[q - 1];
                b[q - 1] = c * t + s * b[q];
                b[q] = -s * t + c * b[q];
            }
            nsetp--;
            iz1--;
            idx[iz1] = i;
            step = 10;
            for (int p = 0; p < nsetp; p++) if (x[idx[p]] <= 0) { jj = p; step = 9; break; }
            if (step == 10) {
                for (int l = 0; l < m; l++) zz[l] = b[l];
                backsolve();
                step = 8;
            }
            break;
        }
        }
    }
}

}  // namespace plain

namespace {

struct Problem {
    int m, n, mda;
    std::vector<float> a, b;
};

// Random problems of varied kinds: well-posed, with negative targets, nearly collinear
// columns (which make the inner loop drop coefficients), and more columns than rows.
Problem randomProblem(std::mt19937& rng, int kind) {
    std::uniform_int_distribution<int> dim(1, 24);
    Problem p;
    p.m = dim(rng);
    p.n = dim(rng);
    if (kind == 3) p.n = p.m + dim(rng);
    p.mda = p.m + (kind == 1 ? 3 : 0);
    std::normal_distribution<float> g(0, 1);
    p.a.assign(static_cast<std::size_t>(p.mda) * p.n, 0);
    for (int k = 0; k < p.n; k++)
        for (int r = 0; r < p.mda; r++) p.a[r + k * p.mda] = g(rng);
    if (kind == 2) {
        for (int k = 1; k < p.n; k += 2)
            for (int r = 0; r < p.m; r++) p.a[r + k * p.mda] = p.a[r + (k - 1) * p.mda] + 1e-3f * g(rng);
    }
    p.b.resize(static_cast<std::size_t>(p.m));
    for (auto& v : p.b) v = g(rng) * (kind == 4 ? 100.0f : 1.0f);
    return p;
}

bool sameBits(const std::vector<float>& u, const std::vector<float>& v) {
    return u.size() == v.size() && std::memcmp(u.data(), v.data(), u.size() * sizeof(float)) == 0;
}

int ours(Problem& p, std::vector<float>& x) {
    std::vector<float> w(p.n), zz(p.m);
    std::vector<int> index(p.n);
    int mode = 0;
    kestrane::nnls::solve(p.a.data(), p.mda, p.m, p.n, p.b.data(), x.data(), w.data(), zz.data(), index.data(), &mode);
    return mode;
}

}  // namespace

// Each set of column kernels that this processor can run, made the solver's for the scope
// of one loop turn; the best set is back afterwards.
class KernelSets {
public:
    KernelSets() {
        for (const auto* k : {&kestrane::nnls::internal::sse2Columns, &kestrane::nnls::internal::avx2Columns}) {
            if (kestrane::nnls::internal::useColumnKernels(*k)) usable_.push_back(k);
        }
        kestrane::nnls::internal::useColumnKernels(*best_);
    }
    ~KernelSets() { kestrane::nnls::internal::useColumnKernels(*best_); }
    const std::vector<const kestrane::nnls::internal::ColumnKernels*>& usable() const { return usable_; }

private:
    const kestrane::nnls::internal::ColumnKernels* best_ = &kestrane::nnls::internal::columnKernels();
    std::vector<const kestrane::nnls::internal::ColumnKernels*> usable_;
};

TEST(Nnls, MatchesThePlainImplementationBitForBitWithEveryKernelSet) {
    KernelSets sets;
    ASSERT_FALSE(sets.usable().empty());
    for (const auto* kernels : sets.usable()) {
        SCOPED_TRACE(kernels->name);
        kestrane::nnls::internal::useColumnKernels(*kernels);
        std::mt19937 rng(20261209);
        plain::removals = 0;
        for (int trial = 0; trial < 600; trial++) {
            Problem p = randomProblem(rng, trial % 5);
            Problem q = p;
            std::vector<float> x1(p.n, -1), x2(p.n, -1);
            const int mode1 = ours(p, x1);
            const int mode2 = plain::solve(q.a, q.mda, q.m, q.n, q.b, x2);
            ASSERT_EQ(mode1, mode2) << "trial " << trial;
            ASSERT_TRUE(sameBits(x1, x2)) << "x differs, trial " << trial;
            ASSERT_TRUE(sameBits(p.a, q.a)) << "a differs, trial " << trial;
            ASSERT_TRUE(sameBits(p.b, q.b)) << "b differs, trial " << trial;
        }
        EXPECT_GT(plain::removals, 20) << "the random problems hardly reached the inner loop";
    }
}

// The vector maximum must keep the scalar rule for NaN (passed over inside, sticky at the
// start), whatever the length of the last, partial block.
TEST(Nnls, MaxAbsFollowsTheScalarRuleWithEveryKernelSet) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        std::vector<float> u;
        float start;
    };
    const std::vector<Case> cases = {
        {{1, -7, 3}, 2},
        {{1, -2, nan, 4, -9, 0, 0, 0, 0, 5, 1}, 0},
        {{nan, nan, nan, nan, nan, nan, nan, nan, nan}, 0.5f},
        {{3, -4, 5, 6, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, -11, 12, 13}, nan},
        {{-0.0f, -0.0f}, 0},
        {{}, 3},
    };
    KernelSets sets;
    for (const auto* kernels : sets.usable()) {
        for (std::size_t c = 0; c < cases.size(); ++c) {
            const Case& k = cases[c];
            float expected = k.start;
            for (float v : k.u)
                if (std::fabs(v) >= expected) expected = std::fabs(v);
            // A copy exactly as long as the case: the sanitizer build sees a plain read past
            // its end (the AVX2 path's masked load touches nothing beyond it by design).
            std::vector<float> u(k.u);
            const float got = kernels->maxAbs(u.data(), 0, static_cast<long>(u.size()), k.start);
            EXPECT_TRUE(std::memcmp(&got, &expected, sizeof got) == 0 || (std::isnan(got) && std::isnan(expected)))
                << kernels->name << " case " << c << ": " << got << " != " << expected;
        }
    }
}

TEST(Nnls, IterationLimitGivesModeThreeInBoth) {
    // Found by a random search over columns with a wide dynamic range: the active set churns
    // until the limit of 3n inner passes strikes.
    Problem p{6, 8, 6, {
        -0x1.209f48p+10f, 0x1.277f04p-21f, 0x1.0219c8p-21f, -0x1.04f006p-18f, -0x1.e29f3ap+26f, 0x1.0c405cp-22f,
        -0x1.fce9aap+22f, -0x1.052056p+9f, 0x1.cb27bap+26f, 0x1.1e0bfp-21f, -0x1.22c32ep+5f, 0x1.f119eep+20f,
        0x1.a965c4p-18f, -0x1.91f3fcp-1f, 0x1.16725p-23f, -0x1.666f48p-3f, 0x1.da73dap+29f, -0x1.e1471ap+14f,
        0x1.4ced6ap+6f, 0x1.c28b0cp+25f, -0x1.18caep+8f, 0x1.8f9b5p+4f, 0x1.a5b98ep-7f, -0x1.11f468p-18f,
        0x1.8ce77p+4f, 0x1.bcff1ep+15f, -0x1.374db8p+11f, -0x1.1f81c2p-26f, -0x1.62b6e2p+20f, 0x1.6e7abap+19f,
        -0x1.aa0db8p-1f, -0x1.9f2522p-6f, -0x1.ae78f6p-23f, -0x1.b0e10ep+8f, 0x1.0bbff2p+4f, -0x1.8e2684p+11f,
        0x1.e9a4fap-10f, 0x1.aa68b8p-17f, 0x1.d8c9bcp-17f, 0x1.3198f8p+6f, -0x1.a9ff3cp-15f, 0x1.359d4ap+15f,
        0x1.8b7d3ep+27f, -0x1.1892f8p-7f, -0x1.53f398p-7f, 0x1.35b9cep+23f, -0x1.26651ep+28f, 0x1.0aed8ap+1f},
        {-0x1.154b24p+0f, 0x1.aca8aep-1f, -0x1.a4084cp-2f, -0x1.e30562p-3f, -0x1.a3c256p-3f, 0x1.b34f54p-1f}};
    Problem q = p;
    std::vector<float> x1(p.n), x2(p.n);
    EXPECT_EQ(ours(p, x1), 3);
    EXPECT_EQ(plain::solve(q.a, q.mda, q.m, q.n, q.b, x2), 3);
    EXPECT_TRUE(sameBits(x1, x2));
    EXPECT_TRUE(sameBits(p.a, q.a));
    EXPECT_TRUE(sameBits(p.b, q.b));
}

TEST(Nnls, KuhnTuckerConditionsHoldOnRandomProblems) {
    std::mt19937 rng(99);
    for (int trial = 0; trial < 200; trial++) {
        Problem p = randomProblem(rng, trial % 2 == 0 ? 0 : 4);
        const Problem original = p;
        std::vector<float> x(p.n);
        if (ours(p, x) != 1) continue;
        // Dual vector A^T (b - A x) in double on the original problem.
        std::vector<double> residual(p.m);
        double scale = 0;
        for (int r = 0; r < p.m; r++) {
            double s = original.b[r];
            for (int k = 0; k < p.n; k++) s -= double(original.a[r + k * p.mda]) * x[k];
            residual[r] = s;
            scale = std::max(scale, std::fabs(double(original.b[r])));
        }
        for (int k = 0; k < p.n; k++) {
            ASSERT_GE(x[k], 0.0f);
            double dual = 0, colNorm = 0;
            for (int r = 0; r < p.m; r++) {
                dual += double(original.a[r + k * p.mda]) * residual[r];
                colNorm += std::fabs(double(original.a[r + k * p.mda]));
            }
            const double tol = 1e-4 * (1 + scale) * (1 + colNorm);
            if (x[k] > 0) EXPECT_NEAR(dual, 0.0, tol) << "trial " << trial << " k " << k;
            else EXPECT_LE(dual, tol) << "trial " << trial << " k " << k;
        }
    }
}

TEST(Nnls, RoutinesOnTheirOwn) {
    EXPECT_EQ(kestrane::nnls::dSign(-2.5f, 0.0f), 2.5f);
    EXPECT_EQ(kestrane::nnls::dSign(2.5f, -1e-30f), -2.5f);
    float c, s, a = 3;
    kestrane::nnls::g1(a, 4, &c, &s, &a);  // sig into a's storage
    EXPECT_FLOAT_EQ(a, 5);
    EXPECT_FLOAT_EQ(c, 0.6f);
    EXPECT_FLOAT_EQ(s, 0.8f);
    kestrane::nnls::g1(0, 0, &c, &s, &a);
    EXPECT_EQ(c, 0);
    EXPECT_EQ(s, 1);
    EXPECT_EQ(a, 0);
    // h12 reflects u = (3, 4) onto (-5, 0) and maps the same vector as target to (-5, 0).
    float u[2] = {3, 4}, up = 0, t[2] = {3, 4};
    kestrane::nnls::h12(1, 1, 2, 2, u, 1, &up, t, 1, 2, 1);
    EXPECT_FLOAT_EQ(u[0], -5);
    EXPECT_FLOAT_EQ(t[0], -5);
    EXPECT_NEAR(t[1], 0, 1e-6);
}

TEST(Nnls, OwnWorkStorageGivesTheSameBitsOnBothSidesOfTheStackBound) {
    std::mt19937 rng(5);
    for (int m : {3, 40, 700}) {
        const int n = m == 700 ? 400 : m;  // w and zz of the largest take the per-thread buffer
        Problem p{m, n, m, std::vector<float>(static_cast<std::size_t>(m) * n), std::vector<float>(m)};
        std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
        for (auto& v : p.a) v = dist(rng);
        for (auto& v : p.b) v = dist(rng);
        Problem q = p;
        std::vector<float> x1(n), x2(n);
        const kestrane::Expected<int> mode = kestrane::nnls::solve(p.a.data(), p.mda, p.m, p.n, p.b.data(), x1.data());
        ASSERT_TRUE(mode);
        EXPECT_EQ(*mode, ours(q, x2)) << m;
        EXPECT_TRUE(sameBits(x1, x2)) << m;
    }
    std::vector<float> none(1);
    const auto empty = kestrane::nnls::solve(none.data(), 1, 0, 1, none.data(), none.data());
    ASSERT_TRUE(empty);
    EXPECT_EQ(*empty, 2);
}
