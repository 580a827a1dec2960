#!/usr/bin/python3
"""What a handle costs a call from Java: AVPlayer.getStatus and isMuted on an open player, and
NativeFFT.realFFT at N = 4, in nanoseconds per call; then the registry of live handles alone
(handle_registry_bench). With --before, the Java calls also run against the libraries of an
older build in the same run, for a before/after table.

Usage: bench/handle_bench.py [BUILD] [--before OTHER_BUILD]   (default BUILD: build)
"""
import argparse
import os
import struct
import subprocess
import tempfile

from bench_rows import row

parser = argparse.ArgumentParser()
parser.add_argument("build", nargs="?", default="build")
parser.add_argument("--before")
args = parser.parse_args()
build = os.path.abspath(args.build)

folder = tempfile.mkdtemp(prefix="handlebench")
wav = os.path.join(folder, "tone.wav")
frames = 44100
with open(wav, "wb") as f:  # one second of a quiet square wave, mono 16-bit 44.1 kHz
    f.write(b"RIFF" + struct.pack("<I", 36 + 2 * frames) + b"WAVEfmt " +
            struct.pack("<IHHIIHH", 16, 1, 1, 44100, 88200, 2, 16) + b"data" + struct.pack("<I", 2 * frames))
    f.write(b"".join(struct.pack("<h", 1000 if (i // 50) % 2 else -1000) for i in range(frames)))


def java_side(native_build):
    env = dict(os.environ, KESTRANE_AUDIO_SINK="fakesink")
    out = subprocess.run(["java", f"-Dkestrane.native.dir={os.path.join(native_build, 'native')}", "-cp",
                          f"{native_build}/java/kestrane_peers.jar:{build}/java/kestrane_bench_java.jar",
                          "HandleJniBench", "file://" + wav], check=True, capture_output=True, text=True, env=env).stdout
    return {line.split()[1]: float(line.split()[2]) for line in out.splitlines() if line.startswith("HANDLE_NS")}


runs = []
if args.before:
    runs.append(("before", java_side(os.path.abspath(args.before))))
runs.append(("this build", java_side(build)))
print("Java calls on a handle, ns per call")
names = list(runs[-1][1])
print(f"{'':12}" + "".join(f"{n:>28}" for n in names))
for label, values in runs:
    print(f"{label:12}" + "".join(f"{values.get(n, float('nan')):28.1f}" for n in names))
for n in names:
    row(f"handle, {n} from Java", f"{runs[-1][1][n]:.1f} ns", "-", "-", "-", None)
os.remove(wav)
os.rmdir(folder)

print()
subprocess.run([os.path.join(build, "bench", "handle_registry_bench"), "--benchmark_color=false"], check=True)
