#!/usr/bin/python3
"""Leak benchmark: create/use/destroy loops per handle kind (FFT setups, library lists and
reloads, activities, notifications, spell checks, players) in one JVM, printing the growth
of resident memory, descriptors and threads per 1,000 cycles after a warm-up.

Bar: under 10 kB per 1,000 cycles, descriptors and threads back to where they started.
Usage: bench/leak_bench.py [BUILD] [--cycles N] [--short]   (default BUILD: build, N: 20000;
--short: 30,000 cycles, 300 of the slow kinds)
"""
import argparse
import os
import struct
import subprocess
import tempfile

from bench_rows import row

parser = argparse.ArgumentParser()
parser.add_argument("build", nargs="?", default="build")
parser.add_argument("--cycles", type=int, default=20000)
parser.add_argument("--short", action="store_true")
args = parser.parse_args()
build = os.path.abspath(args.build)
work = tempfile.mkdtemp(prefix="kestrane-leak-")

tone = os.path.join(work, "tone.wav")
samples = 2000
with open(tone, "wb") as f:
    f.write(b"RIFF" + struct.pack("<I", 36 + 2 * samples) + b"WAVEfmt " +
            struct.pack("<IHHIIHH", 16, 1, 1, 8000, 16000, 2, 16) + b"data" + struct.pack("<I", 2 * samples))
    f.write(bytes(2 * samples))
library = os.path.join(work, "Library.xml")
with open(library, "w") as f:
    f.write("<plist version=\"1.0\"><dict><key>Tracks</key><dict>")
    for i in range(1, 201):
        f.write(f"<key>{i}</key><dict><key>Track ID</key><integer>{i}</integer><key>Name</key><string>Track {i}</string></dict>")
    f.write("</dict><key>Playlists</key><array><dict><key>Name</key><string>All</string><key>Playlist Items</key><array>"
            "<dict><key>Track ID</key><integer>1</integer></dict></array></dict></array></dict></plist>")

env = dict(os.environ, KESTRANE_MUSIC_LIBRARY=library, KESTRANE_AUDIO_SINK="fakesink", HOME=work,
           DBUS_SESSION_BUS_ADDRESS="unix:path=" + os.path.join(work, "no-bus"),
           DBUS_SYSTEM_BUS_ADDRESS="unix:path=" + os.path.join(work, "no-system-bus"))
classpath = f"{build}/java/kestrane_peers.jar:{build}/java/kestrane_bench_java.jar"
# A heap committed in full from the start: what grows is native memory.
counts = ["30000", "300"] if args.short else [str(args.cycles)]
out = subprocess.run(["java", "-Xms256m", "-Xmx256m", "-XX:+AlwaysPreTouch", f"-Dkestrane.native.dir={build}/native", "-cp", classpath,
                      "LeakJniBench", "file://" + tone, *counts], env=env, check=True, stdout=subprocess.PIPE, text=True).stdout
print(out, end="")
for line in out.splitlines():
    # "<kind>  <n> cycles  rss <kB> kB per 1000  descriptors <d>  threads <t>  flat|GROWS"
    kind, rest = line[:14].strip(), line[14:].split()
    if len(rest) < 11 or rest[1] != "cycles":
        continue
    n, kb, fds, threads = int(rest[0]), float(rest[3]), int(rest[8]), int(rest[10])
    # Resident memory moves by whole pages: a window of fewer than 1,000 cycles cannot tell
    # 10 kB per 1,000 from noise, so such a row only shows its figure.
    judged = n >= 1000
    row(f"leak, {kind} ({n} cycles)", f"{kb:+.1f} kB, {fds:+d} fd, {threads:+d} threads per 1000", "-", "-",
        "< 10 kB, no fd or thread" if judged else "(full run only)", (kb < 10 and fds <= 0 and threads <= 0) if judged else None)
