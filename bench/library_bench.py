#!/usr/bin/python3
"""The music-library catalogue on a generated 100,000-track library with 1,000 playlists:
load time against Python's plistlib.load of the same file (same run), from C++ and from Java
(opening an ITLibrary in a fresh JVM), the property-list reader's own time per MB, the
catalogue's peak added memory against the file's size, a library holding one 1 MB string dense
with character entities, and the Java side reading media-item properties (nanoseconds per
native call: an integer property, a short string property, and ten mixed properties of every
item).

Usage: bench/library_bench.py [BUILD] [--before OTHER_BUILD] [--short] [--million]   (default BUILD: build)
With --before, the Java side also runs against the libraries of OTHER_BUILD (an older build of
the project) in the same run, for a before/after table. --short runs each measurement fewer
times (well under a minute), for the benchmark table. --million runs the 1,000,000-track
library's benchmark instead (bench/library_bench_1m.py, with the same options).

Besides the tables, one line per bar for the benchmark table:
BENCH|<figure>|<value>|<reference>|<ratio>|<bar>|holds or SHORT
"""
import argparse
import os
import plistlib
import subprocess
import sys
import tempfile
import time

from bench_rows import row

parser = argparse.ArgumentParser()
parser.add_argument("build", nargs="?", default="build")
parser.add_argument("--before")
parser.add_argument("--short", action="store_true")
parser.add_argument("--million", action="store_true")
args = parser.parse_args()
if args.million:
    here = os.path.dirname(os.path.abspath(__file__))
    os.execv(sys.executable, [sys.executable, os.path.join(here, "library_bench_1m.py"), args.build]
             + (["--before", args.before] if args.before else []) + (["--short"] if args.short else []))
runs_plistlib, runs_load, runs_java = (1, 2, 3) if args.short else (2, 3, 3)
build = os.path.abspath(args.build)
here = os.path.dirname(os.path.abspath(__file__))
path = os.path.join(tempfile.gettempdir(), "kestrane-library-100k.xml")
if not os.path.exists(path):
    subprocess.run([sys.executable, os.path.join(here, "make_library.py"), "100000", "1000", path], check=True)
size = os.path.getsize(path)


# One track whose comment is 1 MB of "&amp;": each reference must cost the same wherever the
# next '<' is.
entities = os.path.join(tempfile.gettempdir(), "kestrane-entities-1mb.xml")
if not os.path.exists(entities):
    with open(entities, "w") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><dict><key>Tracks</key><dict>'
                "<key>1</key><dict><key>Track ID</key><integer>1</integer><key>Comments</key><string>"
                + "&amp;" * ((1 << 20) // 5) + "</string></dict></dict></dict></plist>\n")


def time_plistlib(file, runs):
    best = 1e9
    for _ in range(runs):
        start = time.perf_counter()
        with open(file, "rb") as f:
            plistlib.load(f)
        best = min(best, time.perf_counter() - start)
    return best


def load(file, runs):
    out = subprocess.run([os.path.join(build, "bench", "library_load"), file, str(runs)], check=True, capture_output=True,
                         text=True).stdout
    return dict(line.split() for line in out.splitlines())


def java_side(native_build, *extra):
    """The Java benchmark (of this build) against the libraries and peers of native_build."""
    env = dict(os.environ, KESTRANE_MUSIC_LIBRARY=path)
    out = subprocess.run(["java", f"-Dkestrane.native.dir={os.path.join(native_build, 'native')}", "-cp",
                          f"{native_build}/java/kestrane_peers.jar:{build}/java/kestrane_bench_java.jar",
                          "LibraryJniBench", *extra], check=True, capture_output=True, text=True, env=env).stdout
    return dict(line.split() for line in out.splitlines())


def java_load(native_build):
    """Opening the library from Java: best of fresh JVMs."""
    return min(float(java_side(native_build, "load")["LOAD_SECONDS"]) for _ in range(runs_java))


def bench_line(figure, value, reference, ratio, bar, holds):
    row(figure, value, reference, f"{ratio:.3g}x", bar, holds)


t_plistlib = time_plistlib(path, runs_plistlib)
values = load(path, runs_load)
t_ours = float(values["LOAD_SECONDS"])
t_scan = float(values["SCAN_SECONDS"])
peak = int(values["PEAK_ADDED_BYTES"])
loads = [("this build", java_load(build))]
if args.before:
    loads.insert(0, ("before", java_load(os.path.abspath(args.before))))
t_java = loads[-1][1]

print(f"Library file: {values['TRACKS']} tracks, {values['PLAYLISTS']} playlists, {size / 1e6:.1f} MB")
print(f"{'':34} {'seconds':>9} {'x plistlib':>11}")
print(f"{'plistlib.load':34} {t_plistlib:9.3f}")
print(f"{'catalogue load (C++)':34} {t_ours:9.3f} {t_plistlib / t_ours:10.1f}x")
for name, seconds in loads:
    print(f"{'catalogue load from Java, ' + name:34} {seconds:9.3f} {t_plistlib / seconds:10.1f}x")
print(f"reader alone: {t_scan:.3f} s, {t_scan * 1e3 / (size / 1e6):.2f} ms per MB")
print(f"peak memory added by the catalogue: {peak / 1e6:.1f} MB = {peak / size:.2f} x the file's size")

e_plistlib = time_plistlib(entities, 3)
e_ours = float(load(entities, 5)["LOAD_SECONDS"])
print(f"1 MB string of entities: plistlib {e_plistlib * 1e3:.1f} ms, catalogue {e_ours * 1e3:.1f} ms")

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
bars = t_plistlib / t_java >= 20 and peak <= 0.6 * size and e_ours <= 0.020
print("bars (from Java at least 20x plistlib, peak added memory at most 0.6x the file, entity string at most 20 ms):",
      "hold" if bars else "FAIL")

print()
bench_line("catalogue from Java, 100k tracks", f"{t_java:.3f} s", f"plistlib {t_plistlib:.2f} s", t_plistlib / t_java, ">= 30x",
           t_plistlib / t_java >= 30)
bench_line("catalogue peak added memory, 100k tracks", f"{peak / 1e6:.1f} MB", f"file {size / 1e6:.1f} MB", peak / size,
           "<= 0.6x", peak <= 0.6 * size)
string_ns, int_ns = float(after["STRING_NS"]), float(after["INT_NS"])
bench_line("media-item string property from Java", f"{string_ns:.1f} ns", "60 ns", string_ns / 60, "<= 60 ns", string_ns <= 60)
bench_line("media-item integer property from Java", f"{int_ns:.1f} ns", "15 ns", int_ns / 15, "< 15 ns", int_ns < 15)
