#!/usr/bin/python3
"""The music-library catalogue on a generated 1,000,000-track library (1,000 playlists), opened
from Java in fresh JVMs: the load time, the process's peak added memory against the file's size,
and the time per MB against the 100,000-track library's in the same run (a load that grows
faster than the file shows there). The files stay in the temporary folder between runs; making
the large one takes a few minutes the first time.

Usage: bench/library_bench_1m.py [BUILD] [--before OTHER_BUILD] [--short]   (default BUILD: build)
--short opens each library fewer times (under a minute once the files exist).
Prints a table and one line per bar: BENCH|<figure>|<value>|<reference>|<ratio>|<bar>|holds or SHORT
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile

from bench_rows import row

parser = argparse.ArgumentParser()
parser.add_argument("build", nargs="?", default="build")
parser.add_argument("--before")
parser.add_argument("--short", action="store_true")
args = parser.parse_args()
build = os.path.abspath(args.build)
here = os.path.dirname(os.path.abspath(__file__))
runs_large, runs_small = (1, 3) if args.short else (3, 5)


def library(tracks, name):
    path = os.path.join(tempfile.gettempdir(), name)
    if not os.path.exists(path):
        print(f"making {path} ...", file=sys.stderr)
        subprocess.run([sys.executable, os.path.join(here, "make_library.py"), str(tracks), "1000", path + ".part"], check=True)
        os.rename(path + ".part", path)
    return path


large = library(1_000_000, "kestrane-library-1m.xml")
small = library(100_000, "kestrane-library-100k.xml")


def java_load(native_build, path):
    """One fresh JVM opening the library at path: (seconds, peak added bytes)."""
    env = dict(os.environ, KESTRANE_MUSIC_LIBRARY=path)
    out = subprocess.run(["java", f"-Dkestrane.native.dir={os.path.join(native_build, 'native')}", "-cp",
                          f"{native_build}/java/kestrane_peers.jar:{build}/java/kestrane_bench_java.jar",
                          "LibraryJniBench", "load"], check=True, capture_output=True, text=True, env=env).stdout
    values = dict(line.split() for line in out.splitlines())
    return float(values["LOAD_SECONDS"]), int(values["PEAK_ADDED_BYTES"])


def measure(native_build):
    big = [java_load(native_build, large) for _ in range(runs_large)]
    little = [java_load(native_build, small) for _ in range(runs_small)]
    return big, little


builds = [("this build", build)]
if args.before:
    builds.insert(0, ("before", os.path.abspath(args.before)))
size_large, size_small = os.path.getsize(large), os.path.getsize(small)
print(f"Libraries: 1,000,000 tracks {size_large / 1e6:.0f} MB, 100,000 tracks {size_small / 1e6:.1f} MB; "
      "from Java, fresh JVMs (best and median)")
print(f"{'':12} {'1M best':>8} {'median':>8} {'peak/file':>10} {'100k best':>10} {'ms/MB 1M':>9} {'ms/MB 100k':>11} {'ratio':>6}")
results = {}
for name, native in builds:
    big, little = measure(native)
    t_big, t_little = min(t for t, _ in big), min(t for t, _ in little)
    peak = max(p for _, p in big)
    per_mb_big, per_mb_little = t_big * 1e3 / (size_large / 1e6), t_little * 1e3 / (size_small / 1e6)
    results[name] = (t_big, peak, per_mb_big, per_mb_little)
    print(f"{name:12} {t_big:8.3f} {statistics.median(t for t, _ in big):8.3f} {peak / size_large:10.2f} {t_little:10.3f} "
          f"{per_mb_big:9.2f} {per_mb_little:11.2f} {per_mb_big / per_mb_little:6.2f}")

t_big, peak, per_mb_big, per_mb_little = results["this build"]
print()
row("catalogue from Java, 1M tracks", f"{t_big:.2f} s", "3 s", f"{t_big / 3:.3g}x", "<= 3 s", t_big <= 3)
row("catalogue peak added memory, 1M tracks", f"{peak / 1e6:.0f} MB", f"file {size_large / 1e6:.0f} MB", f"{peak / size_large:.3g}x",
    "<= 0.7x", peak <= 0.7 * size_large)
ratio = per_mb_big / per_mb_little
row("catalogue from Java per MB, 1M vs 100k tracks", f"{per_mb_big:.2f} ms/MB", f"100k {per_mb_little:.2f} ms/MB", f"{ratio:.3g}x",
    "<= 1.2x", ratio <= 1.2)
