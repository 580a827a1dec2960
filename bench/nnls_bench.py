#!/usr/bin/python3
"""NNLS: the exported nnls of libdspbridge.so (through ctypes) against scipy.optimize.nnls,
on the same random problems, in one process. Prints microseconds per solve and the ratio.

Usage: bench/nnls_bench.py [path to libdspbridge.so]   (default: build/native/libdspbridge.so)
"""
import ctypes
import sys
import time

import numpy as np
import scipy
from scipy.optimize import nnls as scipy_nnls

SHAPES = [(32, 16), (128, 64), (256, 88), (512, 256)]


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else "build/native/libdspbridge.so"
    lib = ctypes.CDLL(path)
    lib.nnls.restype = None
    rng = np.random.default_rng(7)
    print(f"NNLS: ours (float, libdspbridge) against scipy {scipy.__version__} optimize.nnls (double), "
          "microseconds per solve")
    print(f"{'m':>5} {'n':>5} {'problems':>9} {'ours':>10} {'scipy':>10} {'ours/scipy':>11}")
    bars = True
    for m, n in SHAPES:
        count = max(20, 20000 // (m * n // 64 + 1))
        problems = [(rng.normal(size=(m, n)), rng.normal(size=m)) for _ in range(count)]

        start = time.perf_counter()
        for a, b in problems:
            scipy_nnls(a, b)
        t_scipy = (time.perf_counter() - start) / count

        # The solver works in place: each call gets its own column-major float copy, made
        # before the clock starts.
        copies = [(np.asfortranarray(a, dtype=np.float32), b.astype(np.float32)) for a, b in problems]
        x = np.zeros(n, np.float32)
        w = np.zeros(n, np.float32)
        zz = np.zeros(m, np.float32)
        index = np.zeros(n, np.int32)
        mode = ctypes.c_int(0)
        args = [(af.ctypes.data, bf.ctypes.data) for af, bf in copies]
        xp, wp, zp, ip = x.ctypes.data, w.ctypes.data, zz.ctypes.data, index.ctypes.data
        mp = ctypes.byref(mode)
        solve = lib.nnls
        cm, cn = ctypes.c_int(m), ctypes.c_int(n)
        start = time.perf_counter()
        for ap, bp in args:
            solve(ctypes.c_void_p(ap), cm, cm, cn, ctypes.c_void_p(bp), ctypes.c_void_p(xp),
                  ctypes.c_void_p(wp), ctypes.c_void_p(zp), ctypes.c_void_p(ip), mp)
        t_ours = (time.perf_counter() - start) / count

        ratio = t_ours / t_scipy
        bars = bars and ratio < 1.0
        print(f"{m:>5} {n:>5} {count:>9} {t_ours * 1e6:>10.1f} {t_scipy * 1e6:>10.1f} {ratio:>11.2f}")
    print("bar (ours faster than scipy at every size):", "holds" if bars else "FAILS")


if __name__ == "__main__":
    main()
