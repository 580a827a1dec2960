#!/usr/bin/python3
"""NNLS: the exported nnls of libdspbridge.so (through ctypes) against scipy.optimize.nnls,
on the same random problems, in one process. Prints microseconds per solve and the ratio.

Each size is timed in several rounds, scipy and ours alternating, and the best round of each
counts: on a shared machine other load only ever adds time, and alternating lets a burst of
it hit both. Times are the CPU time of this thread, which does not count the time other
processes hold the core. Our ctypes call's arguments are built before the clock starts, as
the problems' float copies are, so that the harness's own Python work stays out of our time.

Usage: bench/nnls_bench.py [--short] [path to libdspbridge.so]
       (default: build/native/libdspbridge.so; --short: fewer rounds, for the benchmark table)
Prints, besides the table, one "BENCH|..." row per size for scripts/bench.
"""
import ctypes
import sys
import time

import numpy as np
import scipy
from scipy.optimize import nnls as scipy_nnls

from bench_rows import row

SHAPES = [(32, 16), (128, 64), (256, 88), (512, 256)]
BAR = 0.333  # ours/scipy at most this at every size


def time_scipy(problems):
    start = time.thread_time()
    for a, b in problems:
        scipy_nnls(a, b)
    return (time.thread_time() - start) / len(problems)


def time_ours(solve, problems, m, n):
    # The solver works in place: each call gets its own column-major float copy.
    copies = [(np.asfortranarray(a, dtype=np.float32), b.astype(np.float32)) for a, b in problems]
    x = np.zeros(n, np.float32)
    w = np.zeros(n, np.float32)
    zz = np.zeros(m, np.float32)
    index = np.zeros(n, np.int32)
    mode = ctypes.c_int(0)
    shared = [ctypes.c_void_p(v.ctypes.data) for v in (x, w, zz, index)]
    cm, cn = ctypes.c_int(m), ctypes.c_int(n)
    calls = [(ctypes.c_void_p(af.ctypes.data), cm, cm, cn, ctypes.c_void_p(bf.ctypes.data), *shared,
              ctypes.byref(mode)) for af, bf in copies]
    start = time.thread_time()
    for args in calls:
        solve(*args)
    return (time.thread_time() - start) / len(problems)


def main():
    args = sys.argv[1:]
    short = "--short" in args
    args = [a for a in args if a != "--short"]
    path = args[0] if args else "build/native/libdspbridge.so"
    lib = ctypes.CDLL(path)
    lib.nnls.restype = None
    rng = np.random.default_rng(7)
    rounds = 3 if short else 7
    print(f"NNLS: ours (float, libdspbridge) against scipy {scipy.__version__} optimize.nnls (double), "
          f"microseconds per solve (thread CPU time, best of {rounds} rounds)")
    print(f"{'m':>5} {'n':>5} {'problems':>9} {'ours':>10} {'scipy':>10} {'ours/scipy':>11}")
    rows = []
    for m, n in SHAPES:
        count = max(20, 20000 // (m * n // 64 + 1))
        if short:
            count = max(10, count // 4)
        problems = [(rng.normal(size=(m, n)), rng.normal(size=m)) for _ in range(count)]
        t_scipy = t_ours = float("inf")
        for _ in range(rounds):
            t_scipy = min(t_scipy, time_scipy(problems))
            t_ours = min(t_ours, time_ours(lib.nnls, problems, m, n))
        ratio = t_ours / t_scipy
        print(f"{m:>5} {n:>5} {count:>9} {t_ours * 1e6:>10.1f} {t_scipy * 1e6:>10.1f} {ratio:>11.3f}")
        rows.append((f"NNLS {m}x{n} ours/scipy", f"{t_ours * 1e6:.1f} us", f"{t_scipy * 1e6:.1f} us", f"{ratio:.3f}", f"<= {BAR}",
                     ratio <= BAR))
    holds = all(r[-1] for r in rows)
    print(f"bar (ours at most {BAR} x scipy at every size):", "holds" if holds else "FAILS")
    for r in rows:
        row(*r)


if __name__ == "__main__":
    main()
