// Lawson-Hanson NNLS. The order of operations and the precision of each step are part of the
// contract: results must match bit for bit, so this file is compiled with
// -ffp-contract=off (a fused multiply-add rounds once where the algorithm rounds twice) and
// never with -ffast-math. Comments give the 1-based names of the algorithm.
#include "nnls.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <new>

#include "columns.h"
#include "scratch.h"

namespace kestrane::nnls {

namespace internal {

namespace {

const ColumnKernels* bestColumnKernels() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? &avx2Columns : &sse2Columns;
}

std::atomic<const ColumnKernels*>& chosenColumnKernels() {
    static std::atomic<const ColumnKernels*> chosen{bestColumnKernels()};
    return chosen;
}

}  // namespace

const ColumnKernels& columnKernels() {
    return *chosenColumnKernels().load(std::memory_order_relaxed);
}

bool useColumnKernels(const ColumnKernels& kernels) {
    if (&kernels == &avx2Columns && !__builtin_cpu_supports("avx2")) return false;
    chosenColumnKernels().store(&kernels, std::memory_order_relaxed);
    return true;
}

}  // namespace internal

namespace {

struct Matrix {
    float* a;
    int mda;
    // A(r, k), 1-based.
    float& operator()(int r, int k) const { return a[(r - 1) + static_cast<long>(k - 1) * mda]; }
};

// Back substitution for the nsetp x nsetp upper triangle of A over the columns index(1..nsetp).
void solveTriangular(const Matrix& A, float* zz, const int* index, int nsetp) {
    int jj = 0;
    for (int l = 1; l <= nsetp; ++l) {
        const int ip = nsetp + 1 - l;
        if (l != 1) {
            for (int r = 1; r <= ip; ++r) zz[r - 1] = zz[r - 1] - A(r, jj) * zz[ip];  // zz(ip + 1)
        }
        jj = index[ip - 1];
        zz[ip - 1] = zz[ip - 1] / A(ip, jj);
    }
}

// Columns handed to the column kernels at a time: a whole number of blocks for either
// instruction set, and few enough for their pointers to live on the stack.
constexpr int kChunk = 16;

// For the columns index(first..n), chunk by chunk: the sum start(column) + the dot product of
// rows from..to-1 (0-based) with u, handed to finish(column, sum).
template <class Start, class Finish>
void dotEachColumn(const Matrix& A, const int* index, int first, int n, const float* u, long from, long to,
                   Start start, Finish finish) {
    const internal::ColumnKernels& kernels = internal::columnKernels();
    for (int jz = first; jz <= n; jz += kChunk) {
        const int count = std::min(kChunk, n - jz + 1);
        float* col[kChunk];
        float sm[kChunk];
        for (int c = 0; c < count; ++c) {
            col[c] = &A(1, index[jz + c - 1]);
            sm[c] = start(col[c]);
        }
        kernels.dot(col, count, u, from, to, sm);
        for (int c = 0; c < count; ++c) finish(index[jz + c - 1], col[c], sm[c]);
    }
}

// w(j) = sum over l = npp1..m of A(l, j) * b(l), for j = index(iz1..n).
void dualVector(const Matrix& A, const float* b, float* w, const int* index, int iz1, int n, int npp1, int m) {
    dotEachColumn(
        A, index, iz1, n, b, npp1 - 1, m, [](const float*) { return 0.0f; },
        [&](int j, float*, float sm) { w[j - 1] = sm; });
}

// The same as h12(2, p, l1, m, u, 1, &up, &A(1, col), 1, mda, 1) for col = index(first..n).
void applyToColumns(const Matrix& A, const float* u, float up, int p, int l1, int m, const int* index, int first, int n) {
    if (p <= 0 || p >= l1 || l1 > m) return;
    if (!(std::fabs(u[p - 1]) > 0)) return;
    float beta = up * u[p - 1];
    if (beta >= 0) return;
    beta = 1.0f / beta;
    const internal::ColumnKernels& kernels = internal::columnKernels();
    dotEachColumn(
        A, index, first, n, u, l1 - 1, m, [&](const float* v) { return v[p - 1] * up; },
        [&](int, float* v, float sm) {
            if (sm == 0) return;
            const float s = sm * beta;
            v[p - 1] = v[p - 1] + s * up;
            kernels.update(v, u, s, l1 - 1, m);
        });
}

}  // namespace

float dSign(float x, float y) {
    const float magnitude = std::fabs(x);
    return y >= 0 ? magnitude : -magnitude;
}

void g1(float a, float b, float* cterm, float* sterm, float* sig) {
    if (std::fabs(a) > std::fabs(b)) {
        const float xr = b / a;
        const float yr = static_cast<float>(std::sqrt(1.0 + static_cast<double>(xr * xr)));
        *cterm = dSign(1.0f / yr, a);
        *sterm = *cterm * xr;
        *sig = std::fabs(a) * yr;
    } else if (b != 0) {
        const float xr = a / b;
        const float yr = static_cast<float>(std::sqrt(1.0 + static_cast<double>(xr * xr)));
        *sterm = dSign(1.0f / yr, b);
        *cterm = *sterm * xr;
        *sig = std::fabs(b) * yr;
    } else {
        *sig = 0;
        *cterm = 0;
        *sterm = 1;
    }
}

void h12(int mode, int lpivot, int l1, int m, float* u, int iue, float* up, float* c, int ice, int icv, int ncv) {
    const int p = lpivot;
    if (p <= 0 || p >= l1 || l1 > m) return;
    auto U = [&](int i) -> float& { return u[static_cast<long>(i - 1) * iue]; };
    float cl = std::fabs(U(p));
    if (mode == 2) {
        if (cl <= 0) return;
    } else {
        // Construct the transformation.
        if (iue == 1) {
            cl = internal::columnKernels().maxAbs(u, l1 - 1, m, cl);
        } else {
            for (int i = l1; i <= m; ++i) {
                if (std::fabs(U(i)) >= cl) cl = std::fabs(U(i));
            }
        }
        if (cl <= 0) return;
        const float clinv = 1.0f / cl;
        float t = U(p) * clinv;
        float sm = t * t;
        for (int i = l1; i <= m; ++i) {
            t = U(i) * clinv;
            sm = sm + t * t;
        }
        cl = static_cast<float>(static_cast<double>(cl) * std::sqrt(static_cast<double>(sm)));
        if (U(p) > 0) cl = -cl;
        *up = U(p) - cl;
        U(p) = cl;
    }
    // Apply it to the target vectors.
    if (ncv <= 0) return;
    float beta = *up * U(p);
    if (beta >= 0) return;
    beta = 1.0f / beta;
    for (int k = 1; k <= ncv; ++k) {
        float* v0 = c + static_cast<long>(k - 1) * icv;
        auto V = [&](int i) -> float& { return v0[static_cast<long>(i - 1) * ice]; };
        float sm = V(p) * *up;
        for (int i = l1; i <= m; ++i) sm = sm + V(i) * U(i);
        if (sm == 0) continue;
        sm = sm * beta;
        V(p) = V(p) + sm * *up;
        for (int i = l1; i <= m; ++i) V(i) = V(i) + sm * U(i);
    }
}

namespace {

// The solver's state, with the algorithm's 1-based views of its vectors; the steps below are
// the algorithm's, in its order.
class Solver {
public:
    Solver(float* a, int mda, int m, int n, float* b, float* x, float* w, float* zz, int* index)
        : A{a, mda}, m_(m), n_(n), b_(b), x_(x), w_(w), zz_(zz), index_(index), itmax_(3 * n) {}

    int run() {
        for (int k = 1; k <= n_; ++k) {
            X(k) = 0;
            I(k) = k;
        }
        for (;;) {  // main loop
            if (iz1_ > n_ || nsetp_ >= m_) return 1;
            dualVector(A, b_, w_, index_, iz1_, n_, npp1_, m_);
            int izmax = 0;
            const int j = chooseCoefficient(izmax);
            if (j == 0) return 1;  // Kuhn-Tucker conditions hold
            moveIntoP(j, izmax);
            if (!stepWhileInfeasible()) return 3;
        }
    }

private:
    float& X(int k) { return x_[k - 1]; }
    float& B(int r) { return b_[r - 1]; }
    float& W(int k) { return w_[k - 1]; }
    float& Z(int r) { return zz_[r - 1]; }
    int& I(int k) { return index_[k - 1]; }

    // The coefficient of the zero set to move into the positive set P (its index in izmax), or 0
    // when none can go.
    int chooseCoefficient(int& izmax) {
        for (;;) {
            float wmax = 0;
            for (int iz = iz1_; iz <= n_; ++iz) {
                const int jw = I(iz);
                if (W(jw) > wmax) {
                    wmax = W(jw);
                    izmax = iz;
                }
            }
            if (wmax <= 0) return 0;
            const int j = I(izmax);
            const float asave = A(npp1_, j);
            h12(1, npp1_, npp1_ + 1, m_, &A(1, j), 1, &up_, nullptr, 1, 1, 0);
            float unorm = 0;
            for (int l = 1; l <= nsetp_; ++l) unorm = unorm + A(l, j) * A(l, j);
            unorm = std::sqrt(unorm);
            const float test = static_cast<float>(static_cast<double>(unorm) + 0.01 * static_cast<double>(std::fabs(A(npp1_, j))));
            if (test > unorm) {
                for (int l = 1; l <= m_; ++l) Z(l) = B(l);
                h12(2, npp1_, npp1_ + 1, m_, &A(1, j), 1, &up_, zz_, 1, 1, 1);
                const float ztest = Z(npp1_) / A(npp1_, j);
                if (ztest > 0) return j;
            }
            A(npp1_, j) = asave;
            W(j) = 0;
        }
    }

    void moveIntoP(int j, int izmax) {
        for (int l = 1; l <= m_; ++l) B(l) = Z(l);
        I(izmax) = I(iz1_);
        I(iz1_) = j;
        iz1_ = iz1_ + 1;
        nsetp_ = npp1_;
        npp1_ = npp1_ + 1;
        applyToColumns(A, &A(1, j), up_, nsetp_, npp1_, m_, index_, iz1_, n_);
        if (nsetp_ < m_) {
            for (int l = npp1_; l <= m_; ++l) A(l, j) = 0;
        }
        W(j) = 0;
        solveTriangular(A, zz_, index_, nsetp_);
    }

    // The inner loop: steps towards the new solution while it is infeasible. False when the
    // iterations run out.
    bool stepWhileInfeasible() {
        for (;;) {
            if (iter_ >= itmax_) return false;
            iter_ = iter_ + 1;
            float alpha = 2;
            int jj = 0;
            for (int ip = 1; ip <= nsetp_; ++ip) {
                const int l = I(ip);
                if (Z(ip) <= 0) {
                    const float t = -X(l) / (Z(ip) - X(l));
                    if (alpha > t) {
                        alpha = t;
                        jj = ip;
                    }
                }
            }
            if (alpha == 2) {
                for (int ip = 1; ip <= nsetp_; ++ip) X(I(ip)) = Z(ip);
                return true;  // back to the main loop
            }
            for (int ip = 1; ip <= nsetp_; ++ip) {
                const int l = I(ip);
                X(l) = alpha * (Z(ip) - X(l)) + X(l);
            }
            removeFromP(jj);
            for (int l = 1; l <= m_; ++l) Z(l) = B(l);
            solveTriangular(A, zz_, index_, nsetp_);
        }
    }

    // Moves the coefficient at position jj of P back to the zero set, then every coefficient of
    // P that rounding has made non-positive.
    void removeFromP(int jj) {
        for (;;) {
            const int i = I(jj);
            X(i) = 0;
            for (int q = jj + 1; q <= nsetp_; ++q) restoreTriangle(q);
            npp1_ = nsetp_;
            nsetp_ = nsetp_ - 1;
            iz1_ = iz1_ - 1;
            I(iz1_) = i;
            jj = 0;
            for (int pos = 1; pos <= nsetp_; ++pos) {
                if (X(I(pos)) <= 0) {
                    jj = pos;
                    break;
                }
            }
            if (jj == 0) return;
        }
    }

    // One Givens rotation that keeps A upper triangular once column q - 1 of P has gone.
    void restoreTriangle(int q) {
        const int ii = I(q);
        I(q - 1) = ii;
        float cc, ss;
        g1(A(q - 1, ii), A(q, ii), &cc, &ss, &A(q - 1, ii));
        A(q, ii) = 0;
        for (int l = 1; l <= n_; ++l) {
            if (l == ii) continue;
            const float temp = A(q - 1, l);
            A(q - 1, l) = cc * temp + ss * A(q, l);
            A(q, l) = -ss * temp + cc * A(q, l);
        }
        const float temp = B(q - 1);
        B(q - 1) = cc * temp + ss * B(q);
        B(q) = -ss * temp + cc * B(q);
    }

    const Matrix A;
    const int m_, n_;
    float* b_;
    float* x_;
    float* w_;
    float* zz_;
    int* index_;
    const int itmax_;
    int iter_ = 0;
    int nsetp_ = 0, npp1_ = 1, iz1_ = 1;
    float up_ = 0;
};

}  // namespace

void solve(float* a, int mda, int m, int n, float* b, float* x, float* w, float* zz, int* index, int* mode) {
    if (m <= 0 || n <= 0) {
        *mode = 2;
        return;
    }
    *mode = Solver(a, mda, m, n, b, x, w, zz, index).run();
}

// Up to this many elements of each kind of work storage live on the stack.
constexpr std::size_t kStackElements = 1024;

Expected<int> solve(float* a, int mda, int m, int n, float* b, float* x) {
    if (m <= 0 || n <= 0) return 2;  // nothing to solve; nothing is touched
    const auto nn = static_cast<std::size_t>(n), mm = static_cast<std::size_t>(m);
    try {
        // w (n floats) and zz (m floats) share one buffer; index (n ints) has its own.
        ScratchBuffer<float, kStackElements> floats(nn + mm);
        ScratchBuffer<int, kStackElements> index(nn);
        float* w = floats.data();
        float* zz = w + nn;
        int mode = 0;
        solve(a, mda, m, n, b, x, w, zz, index.data(), &mode);
        return mode;
    } catch (const std::bad_alloc&) {
        return Error(NnlsError::outOfMemory, "Failed to allocate the NNLS work storage.");
    }
}

}  // namespace kestrane::nnls
