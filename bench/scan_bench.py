#!/usr/bin/python3
"""The music-folder scan on 10,000 small audio files of mixed formats (FLAC, MP3, Ogg Vorbis,
Opus, WAV; distinct tags written with mutagen; generated once and kept in the temporary
folder): our first scan (empty scan cache) against a Python scan of the same files with
mutagen reading the same tags and lengths, in the same run; in the same process as the first
scan (a library object that watches its folder), a rescan with nothing changed and one after
--changed files were touched; a rescan in a new process (the scan cache, a walk of the tree);
the peak memory of each.

Bars: ours at least 10x faster than mutagen; the rescan with nothing changed at most 1/20 of
the first scan.
Usage: bench/scan_bench.py [BUILD] [--files N] [--changed M]   (default BUILD: build, N: 10000, M: 500)
"""
import argparse
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

import mutagen
from bench_rows import row

parser = argparse.ArgumentParser()
parser.add_argument("build", nargs="?", default="build")
parser.add_argument("--files", type=int, default=10000)
parser.add_argument("--changed", type=int, default=500)
args = parser.parse_args()
build = os.path.abspath(args.build)
folder = os.path.join(tempfile.gettempdir(), f"kestrane-scan-{args.files}")
KINDS = [("flac", "flacenc"), ("mp3", "lamemp3enc target=bitrate cbr=true bitrate=64"), ("ogg", "vorbisenc ! oggmux"),
         ("opus", "opusenc ! oggmux"), ("wav", "wavenc")]


def generate():
    partial = folder + ".partial"
    shutil.rmtree(partial, ignore_errors=True)
    os.makedirs(partial)
    templates = {}
    for ext, encoder in KINDS:
        path = os.path.join(partial, "template." + ext)
        subprocess.run(["gst-launch-1.0", "-q", "audiotestsrc", "num-buffers=20", "!", "audioconvert", "!", "audioresample", "!"]
                       + encoder.split() + ["!", "filesink", f"location={path}"], check=True)
        templates[ext] = path
    for i in range(args.files):
        ext = KINDS[i % len(KINDS)][0]
        album = f"Album {i // 12:04d}"
        path = os.path.join(partial, f"Artist {i // 120:03d}", album, f"{i % 12 + 1:02d} Track {i}.{ext}")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        shutil.copyfile(templates[ext], path)
        if ext != "wav":
            f = mutagen.File(path, easy=True)
            if f.tags is None:
                f.add_tags()
            f["title"] = f"Track {i}"
            f["artist"] = f"Artist {i // 120:03d}"
            f["album"] = album
            f["tracknumber"] = str(i % 12 + 1)
            f["genre"] = "Bench"
            f.save()
    for path in templates.values():
        os.remove(path)
    os.rename(partial, folder)


def mutagen_scan():
    tracks = 0
    for root, dirs, files in os.walk(folder):
        dirs[:] = [d for d in dirs if not d.startswith(".")]
        for name in files:
            f = mutagen.File(os.path.join(root, name), easy=True)
            if f is None:
                continue
            tags = f.tags or {}
            values = [tags.get(k) for k in ("title", "artist", "albumartist", "album", "composer", "genre", "date",
                                            "tracknumber", "discnumber", "comment", "bpm", "compilation")]
            values.append((f.info.length, getattr(f.info, "bitrate", 0), getattr(f.info, "sample_rate", 0)))
            tracks += 1
    return tracks


def ours(cache, *options):
    env = dict(os.environ, XDG_CACHE_HOME=cache)
    out = subprocess.run([os.path.join(build, "bench/scan_folder"), *options, folder], env=env, check=True, capture_output=True,
                         text=True)
    return dict(kv.split("=") for kv in out.stdout.split())


if not os.path.isdir(folder):
    print(f"generating {args.files} files in {folder} ...", flush=True)
    generate()

cache = tempfile.mkdtemp(prefix="kestrane-scan-cache-")
try:
    # Warm the page cache for both scans alike.
    subprocess.run(["cat"], stdin=subprocess.DEVNULL)
    for root, _, files in os.walk(folder):
        for name in files:
            with open(os.path.join(root, name), "rb") as f:
                f.read()
    followed = ours(cache, "--follow", str(args.changed))
    walked = ours(cache)
    first, tracks, first_kb = float(followed["seconds"]), int(followed["tracks"]), int(followed["peak_kb"])
    rescan, changed, changed_kb = float(followed["rescan_seconds"]), float(followed["changed_seconds"]), int(followed["peak_after_kb"])
    walk, tracks2, walk_kb = float(walked["seconds"]), int(walked["tracks"]), int(walked["peak_kb"])
    start = time.perf_counter()
    python_tracks = mutagen_scan()
    python = time.perf_counter() - start
finally:
    shutil.rmtree(cache, ignore_errors=True)

print(f"files: {args.files}, tracks: ours {tracks} (rescan {tracks2}), mutagen {python_tracks}")
print(f"mutagen scan:        {python:8.3f} s")
print(f"our first scan:      {first:8.3f} s   {python / first:6.1f}x faster than mutagen (bar: 10x)")
print(f"our rescan:          {rescan:8.3f} s   {rescan / first:6.3f} of the first scan (bar: 1/20 = 0.050; same process, watched)")
print(f"after {followed['changed']} changed:   {changed:8.3f} s   {changed / first:6.3f} of the first scan (same process, watched)")
print(f"rescan, new process: {walk:8.3f} s   {walk / first:6.3f} of the first scan (scan cache, walk of the tree)")
print(f"peak memory:         first scan {first_kb / 1024:.1f} MB, after the changes {changed_kb / 1024:.1f} MB, "
      f"new process {walk_kb / 1024:.1f} MB")

n = f"{args.files // 1000}k files"
row(f"folder scan, first, {n}", f"{first:.3f} s", f"mutagen {python:.3f} s", f"{python / first:.1f}x", ">= 10x", python / first >= 10)
row(f"folder rescan, nothing changed, {n}", f"{rescan * 1000:.1f} ms", f"first scan {first:.3f} s", f"{rescan / first:.3f}", "<= 0.050",
    rescan / first <= 0.05)
row(f"folder rescan, {followed['changed']} changed, {n}", f"{changed * 1000:.1f} ms", f"first scan {first:.3f} s", f"{changed / first:.3f}",
    "-", None)
row(f"folder scan, peak memory, {n}", f"{first_kb / 1024:.1f} MB", "-", "-", "-", None)
