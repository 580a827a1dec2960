#!/usr/bin/python3
"""The music-library catalogue on a generated 100,000-track library with 1,000 playlists:
load time against Python's plistlib.load of the same file (same run), the catalogue's peak
added memory against the file's size, and the Java side reading media-item properties
(nanoseconds per native call: an integer property, a short string property, and ten mixed
properties of every item).

Usage: bench/library_bench.py [BUILD] [--before OTHER_BUILD]   (default BUILD: build)
With --before, the Java side also runs against the libraries of OTHER_BUILD (an older build of
the project) in the same run, for a before/after table.
"""
import argparse
import os
import plistlib
import subprocess
import sys
import tempfile
import time

parser = argparse.ArgumentParser()
parser.add_argument("build", nargs="?", default="build")
parser.add_argument("--before")
args = parser.parse_args()
build = os.path.abspath(args.build)
here = os.path.dirname(os.path.abspath(__file__))
path = os.path.join(tempfile.gettempdir(), "kestrane-library-100k.xml")
if not os.path.exists(path):
    subprocess.run([sys.executable, os.path.join(here, "make_library.py"), "100000", "1000", path], check=True)
size = os.path.getsize(path)


def time_plistlib():
    start = time.perf_counter()
    with open(path, "rb") as f:
        plistlib.load(f)
    return time.perf_counter() - start


def java_side(native_build):
    """The Java benchmark (of this build) against the libraries and peers of native_build."""
    env = dict(os.environ, KESTRANE_MUSIC_LIBRARY=path)
    out = subprocess.run(["java", f"-Dkestrane.native.dir={os.path.join(native_build, 'native')}", "-cp",
                          f"{native_build}/java/kestrane_peers.jar:{build}/java/kestrane_bench_java.jar",
                          "LibraryJniBench"], check=True, capture_output=True, text=True, env=env).stdout
    return dict(line.split() for line in out.splitlines())


t_plistlib = min(time_plistlib() for _ in range(2))

out = subprocess.run([os.path.join(build, "bench", "library_load"), path, "3"], check=True, capture_output=True, text=True).stdout
values = dict(line.split() for line in out.splitlines())
t_ours = float(values["LOAD_SECONDS"])
peak = int(values["PEAK_ADDED_BYTES"])

print(f"Library file: {values['TRACKS']} tracks, {values['PLAYLISTS']} playlists, {size / 1e6:.1f} MB")
print(f"{'':34} {'seconds':>9}")
print(f"{'plistlib.load':34} {t_plistlib:9.3f}")
print(f"{'catalogue load':34} {t_ours:9.3f}")
print(f"{'speed-up':34} {t_plistlib / t_ours:9.1f}x")
print(f"peak memory added by the catalogue: {peak / 1e6:.1f} MB = {peak / size:.2f} x the file's size")

runs = [("this build", java_side(build))]
if args.before:
    runs.insert(0, ("before", java_side(os.path.abspath(args.before))))
print("\nJava reading media-item properties, ns per native call: one property again and again from")
print("1,000 items (the call itself); once over all items (memory-bound); ten properties of every item")
print(f"{'':12} {'integer':>9} {'string':>9} {'int sweep':>10} {'str sweep':>10} {'ten mixed':>10}")
for name, v in runs:
    print(f"{name:12} {float(v['INT_NS']):9.1f} {float(v['STRING_NS']):9.1f} {float(v['INT_SWEEP_NS']):10.1f} "
          f"{float(v['STRING_SWEEP_NS']):10.1f} {float(v['JNI_NS_PER_CALL']):10.1f}")
after = runs[-1][1]
print(f"bars (integer <= 60 ns, short string <= 150 ns): "
      f"{'hold' if float(after['INT_NS']) <= 60 and float(after['STRING_NS']) <= 150 else 'FAIL'}")
bars = t_plistlib / t_ours >= 10 and peak <= size
print("bars (at least 10x plistlib, peak added memory at most the file's size):", "hold" if bars else "FAIL")
