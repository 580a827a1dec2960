#!/usr/bin/python3
"""The music-folder scan on 10,000 small audio files of mixed formats (FLAC, MP3, Ogg Vorbis,
Opus, WAV; distinct tags written with mutagen; generated once and kept in the temporary
folder): our first scan (empty scan cache) against a Python scan of the same files with
mutagen reading the same tags and lengths, in the same run; a rescan with nothing changed
against our first scan; the peak memory of each scan.

Bars: ours at least 10x faster than mutagen; the rescan at most 1/20 of the first scan.
Usage: bench/scan_bench.py [BUILD] [--files N]   (default BUILD: build, N: 10000)
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

parser = argparse.ArgumentParser()
parser.add_argument("build", nargs="?", default="build")
parser.add_argument("--files", type=int, default=10000)
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


def ours(cache):
    env = dict(os.environ, XDG_CACHE_HOME=cache)
    out = subprocess.run([os.path.join(build, "bench/scan_folder"), folder], env=env, check=True, capture_output=True, text=True)
    fields = dict(kv.split("=") for kv in out.stdout.split())
    return float(fields["seconds"]), int(fields["tracks"]), int(fields["peak_kb"])


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
    first, tracks, first_kb = ours(cache)
    rescan, tracks2, rescan_kb = ours(cache)
    start = time.perf_counter()
    python_tracks = mutagen_scan()
    python = time.perf_counter() - start
finally:
    shutil.rmtree(cache, ignore_errors=True)

print(f"files: {args.files}, tracks: ours {tracks} (rescan {tracks2}), mutagen {python_tracks}")
print(f"mutagen scan:        {python:8.3f} s")
print(f"our first scan:      {first:8.3f} s   {python / first:6.1f}x faster than mutagen (bar: 10x)")
print(f"our rescan:          {rescan:8.3f} s   {rescan / first:6.3f} of the first scan (bar: 1/20 = 0.050)")
print(f"peak memory:         first scan {first_kb / 1024:.1f} MB, rescan {rescan_kb / 1024:.1f} MB")
