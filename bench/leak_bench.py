#!/usr/bin/python3
"""Leak benchmark: create/use/destroy loops per handle kind (FFT setups, library lists and
reloads, activities, notifications, spell checks, players) in one JVM, printing the growth
of resident memory, descriptors and threads per 1,000 cycles after a warm-up.

Bar: under 10 kB per 1,000 cycles, descriptors and threads back to where they started.
Usage: bench/leak_bench.py [BUILD] [--cycles N]   (default BUILD: build, N: 20000)
"""
import argparse
import os
import struct
import subprocess
import tempfile

parser = argparse.ArgumentParser()
parser.add_argument("build", nargs="?", default="build")
parser.add_argument("--cycles", type=int, default=20000)
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
subprocess.run(["java", "-Xms256m", "-Xmx256m", "-XX:+AlwaysPreTouch", f"-Dkestrane.native.dir={build}/native", "-cp", classpath, "LeakJniBench",
                "file://" + tone, str(args.cycles)], env=env, check=True)
