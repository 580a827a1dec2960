#!/usr/bin/python3
"""What the desktop's media controls cost a player: AVPlayer's calls from Java in nanoseconds per
call, the processor time of the process while one player plays, and the signals it sends the
session bus meanwhile (PropertiesChanged and Seeked, counted by dbus-monitor on a private bus).
With --before, the same probe runs against the libraries of an older build in the same run.

Usage: bench/mpris_bench.py [BUILD] [--before OTHER_BUILD] [--seconds 10] [--runs 3]
"""
import argparse
import os
import statistics
import subprocess
import tempfile
import time

parser = argparse.ArgumentParser()
parser.add_argument("build", nargs="?", default="build")
parser.add_argument("--before")
parser.add_argument("--seconds", type=int, default=10)
parser.add_argument("--runs", type=int, default=3)
args = parser.parse_args()
build = os.path.abspath(args.build)

folder = tempfile.mkdtemp(prefix="mprisbench")
track = os.path.join(folder, "tone.flac")
subprocess.run(["gst-launch-1.0", "-q", "audiotestsrc", "wave=sine", f"num-buffers={(args.seconds + 5) * 44100 // 1024}", "!",
                "audioconvert", "!", "flacenc", "!", "filesink", f"location={track}"], check=True)

daemon = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, text=True)
address = daemon.stdout.readline().strip()
monitor_log = open(os.path.join(folder, "monitor.log"), "w")
monitor = subprocess.Popen(["dbus-monitor", "--address", address, "--profile", "type='signal'"], stdout=monitor_log,
                           stderr=subprocess.DEVNULL)
time.sleep(0.5)


def signals(start_ms, end_ms):
    """PropertiesChanged and Seeked signals from /org/mpris/MediaPlayer2 sent between the times."""
    monitor_log.flush()
    count = {"PropertiesChanged": 0, "Seeked": 0}
    with open(monitor_log.name) as f:
        for line in f:
            fields = line.rstrip("\n").split("\t")
            if len(fields) < 8 or fields[0] != "sig" or fields[5] != "/org/mpris/MediaPlayer2":
                continue
            if start_ms / 1000 <= float(fields[1]) <= end_ms / 1000 and fields[7] in count:
                count[fields[7]] += 1
    return count


def probe(native_build):
    env = dict(os.environ, KESTRANE_AUDIO_SINK="fakesink", DBUS_SESSION_BUS_ADDRESS=address,
               XDG_CACHE_HOME=os.path.join(folder, "cache"))
    begun = time.time() * 1000
    out = subprocess.run(["java", f"-Dkestrane.native.dir={os.path.join(native_build, 'native')}", "-cp",
                          f"{native_build}/java/kestrane_peers.jar:{build}/java/kestrane_bench_java.jar",
                          "PlayerJniBench", "file://" + track, str(args.seconds)],
                         check=True, capture_output=True, text=True, env=env).stdout
    result = {}
    for line in out.splitlines():
        f = line.split()
        if f[0] == "PLAYER_NS":
            result[f[1]] = float(f[2])
        elif f[0] == "PLAYER_CPU":
            result["cpu %"] = float(f[1])
        elif f[0] == "PLAYER_PLAY":
            window = (int(f[1]), int(f[2]))
    time.sleep(0.5)
    result.update(signals(*window))
    # Over the whole probe, the loops of calls included (800 000 volume changes, 16 000 starts and stops).
    result["all signals"] = sum(signals(begun, time.time() * 1000).values())
    return result


builds = ([("before", os.path.abspath(args.before))] if args.before else []) + [("after", build)]
results = {name: [] for name, _ in builds}
for run in range(args.runs):
    for name, path in builds:  # alternated, so that both see the same load of the machine
        results[name].append(probe(path))

keys = list(results["after"][0].keys())
print(f"{args.runs} runs, {args.seconds} s of playback each; best / median (signals sent while playing: most / median)")
print(f"{'':16}" + "".join(f"{name:>24}" for name, _ in builds))
for key in keys:
    cells = []
    for name, _ in builds:
        values = sorted(r[key] for r in results[name])
        best = values[-1] if key in ("PropertiesChanged", "Seeked", "all signals") else values[0]
        cells.append(f"{best:>11.1f} / {statistics.median(values):<10.1f}")
    unit = " ns" if key not in ("cpu %", "PropertiesChanged", "Seeked", "all signals") else ""
    print(f"{key + unit:16}" + "".join(f"{c:>24}" for c in cells))
monitor.terminate()
daemon.terminate()
