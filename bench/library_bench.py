#!/usr/bin/python3
"""The music-library catalogue on a generated 100,000-track library with 1,000 playlists:
load time against Python's plistlib.load of the same file (same run), the catalogue's peak
added memory against the file's size, and the Java side reading ten properties of every item
(nanoseconds per native call).

Usage: bench/library_bench.py [build-folder]   (default: build)
"""
import os
import plistlib
import subprocess
import sys
import tempfile
import time

build = sys.argv[1] if len(sys.argv) > 1 else "build"
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


t_plistlib = min(time_plistlib() for _ in range(2))

out = subprocess.run([os.path.join(build, "bench", "library_load"), path, "3"], check=True, capture_output=True, text=True).stdout
values = dict(line.split() for line in out.splitlines())
t_ours = float(values["LOAD_SECONDS"])
peak = int(values["PEAK_ADDED_BYTES"])

env = dict(os.environ, KESTRANE_MUSIC_LIBRARY=path)
jni = subprocess.run(["java", f"-Dkestrane.native.dir={os.path.abspath(os.path.join(build, 'native'))}", "-cp",
                      f"{build}/java/kestrane_peers.jar:{build}/java/kestrane_bench_java.jar", "LibraryJniBench"],
                     check=True, capture_output=True, text=True, env=env).stdout
jni_values = dict(line.split() for line in jni.splitlines())

print(f"Library file: {values['TRACKS']} tracks, {values['PLAYLISTS']} playlists, {size / 1e6:.1f} MB")
print(f"{'':34} {'seconds':>9}")
print(f"{'plistlib.load':34} {t_plistlib:9.3f}")
print(f"{'catalogue load':34} {t_ours:9.3f}")
print(f"{'speed-up':34} {t_plistlib / t_ours:9.1f}x")
print(f"peak memory added by the catalogue: {peak / 1e6:.1f} MB = {peak / size:.2f} x the file's size")
print(f"Java reading ten properties of every item: {jni_values['JNI_NS_PER_CALL']} ns per native call")
bars = t_plistlib / t_ours >= 10 and peak <= size
print("bars (at least 10x plistlib, peak added memory at most the file's size):", "hold" if bars else "FAIL")
