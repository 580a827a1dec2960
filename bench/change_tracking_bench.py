#!/usr/bin/python3
"""Change tracking on the generated 100,000-track library with 1,000 playlists: the four
exports called from Java against plain C++ loops over the same lists, in the same run, with
the ratio of each (bar: at most 2x), and the load time.

Usage: bench/change_tracking_bench.py [BUILD]   (default: build)
"""
import os
import subprocess
import sys
import tempfile

from bench_rows import row

build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
here = os.path.dirname(os.path.abspath(__file__))
path = os.path.join(tempfile.gettempdir(), "kestrane-library-100k.xml")
if not os.path.exists(path):
    subprocess.run([sys.executable, os.path.join(here, "make_library.py"), "100000", "1000", path], check=True)

plain = subprocess.run([os.path.join(build, "bench", "change_tracking_plain"), path], check=True, capture_output=True,
                       text=True).stdout
env = dict(os.environ, KESTRANE_MUSIC_LIBRARY=path)
jni = subprocess.run(["java", f"-Dkestrane.native.dir={build}/native", "-cp",
                      f"{build}/java/kestrane_peers.jar:{build}/java/kestrane_bench_java.jar", "ChangeTrackingJniBench"],
                     check=True, capture_output=True, text=True, env=env).stdout


def table(text, tag):
    return {line.split()[1]: float(line.split()[2]) for line in text.splitlines() if line.startswith(tag)}


ours, reference, alloc = table(jni, "CHANGE_NS"), table(plain, "PLAIN_NS"), table(jni, "ALLOC_NS")
load = [line.split()[1] for line in plain.splitlines() if line.startswith("LOAD_SECONDS")][0]
print(f"Library: {path} (loaded in {load} s)")
print(f"{'':24} {'Java (ms)':>10} {'plain C++ (ms)':>15} {'ratio':>7}")
holds = True
rows = []
for name in ["lastItemModification", "mediaItemsChangedSince", "mediaItemIds", "playlistHash"]:
    ratio = ours[name] / reference[name]
    holds = holds and ratio <= 2
    print(f"{name:24} {ours[name] / 1e6:10.2f} {reference[name] / 1e6:15.2f} {ratio:7.2f}")
    rows.append((f"change tracking, {name}", f"{ours[name] / 1e6:.2f} ms", f"plain C++ {reference[name] / 1e6:.2f} ms",
                 f"{ratio:.2f}", "<= 2", ratio <= 2))
print("bar (each at most 2x the plain loop):", "holds" if holds else "FAIL")
for r in rows:
    row(*r)
print(f"(Java itself takes {alloc['mediaItemIds'] / 1e6:.2f} ms to make the long[] that getMediaItemIds returns.)")
