#!/usr/bin/python3
"""Cross-checks the exported nnls against scipy.optimize.nnls on random problems: the same
support (which coefficients are positive) and the same x within 1e-4 relative."""
import ctypes
import sys

import numpy as np
from scipy.optimize import nnls as scipy_nnls


def load(path):
    lib = ctypes.CDLL(path)
    f = ctypes.POINTER(ctypes.c_float)
    i = ctypes.POINTER(ctypes.c_int)
    lib.nnls.argtypes = [f, ctypes.c_int, ctypes.c_int, ctypes.c_int, f, f, f, f, i, i]
    lib.nnls.restype = None
    return lib


def solve(lib, a, b):
    """a: m x n float32 (copied to column-major), b: m float32. Returns (x, mode)."""
    m, n = a.shape
    af = np.asfortranarray(a, dtype=np.float32).copy(order="F")
    bf = b.astype(np.float32).copy()
    x = np.zeros(n, np.float32)
    w = np.zeros(n, np.float32)
    zz = np.zeros(m, np.float32)
    index = np.zeros(n, np.int32)
    mode = ctypes.c_int(0)
    fp = lambda v: v.ctypes.data_as(ctypes.POINTER(ctypes.c_float))
    lib.nnls(fp(af), m, m, n, fp(bf), fp(x), fp(w), fp(zz),
             index.ctypes.data_as(ctypes.POINTER(ctypes.c_int)), ctypes.byref(mode))
    return x, mode.value


def main():
    lib = load(sys.argv[1])
    rng = np.random.default_rng(2026)
    failures = 0
    for trial in range(300):
        m = int(rng.integers(2, 60))
        n = int(rng.integers(1, m + 1))
        a = rng.normal(size=(m, n)).astype(np.float32)
        b = rng.normal(size=m).astype(np.float32) * (1 + 10 * (trial % 3))
        ours, mode = solve(lib, a, b)
        ref, _ = scipy_nnls(a.astype(np.float64), b.astype(np.float64))
        scale = max(np.linalg.norm(ref), 1e-12)
        support_ours = ours > 1e-5 * scale
        support_ref = ref > 1e-5 * scale
        error = np.linalg.norm(ours - ref) / scale
        if mode != 1 or not np.array_equal(support_ours, support_ref) or error > 1e-4:
            failures += 1
            print(f"trial {trial}: m={m} n={n} mode={mode} relative error {error:.2e} "
                  f"support ours {np.flatnonzero(support_ours)} scipy {np.flatnonzero(support_ref)}")
    print(f"{300 - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
