#!/usr/bin/python3
"""Writes a realistic music-library file (the XML property list that music-library
applications export) with any number of tracks and playlists.

Usage: make_library.py TRACKS PLAYLISTS OUTPUT [--seed N]
"""
import argparse
import random
import urllib.parse
from datetime import datetime, timedelta, timezone

WORDS = ["Love", "Night", "Blue", "Dance", "Heart", "Road", "Fire", "Rain", "Dream", "Light", "Été", "Ñandú",
         "Straße", "東京", "Москва", "Ελλάδα", "🎵", "Señorita", "Café", "Smörgås", "Zürich", "Øresund"]
GENRES = ["Rock", "Pop", "Jazz", "Classical", "Electronic", "Hip-Hop", "Folk", "Soundtrack", "Metal", "Blues"]
KINDS = ["MPEG audio file", "AAC audio file", "Purchased AAC audio file", "Apple Lossless audio file"]


def esc(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def words(rng, n):
    return " ".join(rng.choice(WORDS) for _ in range(n))


def date(rng, start_year=1995):
    base = datetime(start_year, 1, 1, tzinfo=timezone.utc)
    return (base + timedelta(seconds=rng.randrange(0, 30 * 365 * 86400))).strftime("%Y-%m-%dT%H:%M:%SZ")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("tracks", type=int)
    ap.add_argument("playlists", type=int)
    ap.add_argument("output")
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args()
    rng = random.Random(args.seed)
    artists = [words(rng, rng.randint(1, 3)) for _ in range(max(1, args.tracks // 12))]
    albums = [(words(rng, rng.randint(1, 4)), rng.choice(artists)) for _ in range(max(1, args.tracks // 10))]
    out = []
    w = out.append
    w('<?xml version="1.0" encoding="UTF-8"?>\n<!DOCTYPE plist PUBLIC "-//Apple Computer//DTD PLIST 1.0//EN" '
      '"http://www.apple.com/DTDs/PropertyList-1.0.dtd">\n<plist version="1.0">\n<dict>\n')
    w("\t<key>Major Version</key><integer>1</integer>\n\t<key>Minor Version</key><integer>1</integer>\n")
    w("\t<key>Application Version</key><string>12.9.5.5</string>\n")
    w(f"\t<key>Date</key><date>{date(rng, 2020)}</date>\n")
    w("\t<key>Features</key><integer>5</integer>\n\t<key>Show Content Ratings</key><true/>\n")
    w(f"\t<key>Library Persistent ID</key><string>{rng.getrandbits(64):016X}</string>\n")
    w("\t<key>Tracks</key>\n\t<dict>\n")
    ids = []
    for i in range(args.tracks):
        tid = 1000 + 2 * i
        ids.append(tid)
        album, album_artist = rng.choice(albums)
        artist = album_artist if rng.random() < 0.8 else rng.choice(artists)
        name = words(rng, rng.randint(1, 5))
        path = f"/home/user/Music/{artist}/{album}/{i % 20 + 1:02d} {name}.mp3"
        location = "file://" + urllib.parse.quote(path)
        w(f"\t\t<key>{tid}</key>\n\t\t<dict>\n")
        w(f"\t\t\t<key>Track ID</key><integer>{tid}</integer>\n")
        w(f"\t\t\t<key>Name</key><string>{esc(name)}</string>\n")
        w(f"\t\t\t<key>Artist</key><string>{esc(artist)}</string>\n")
        w(f"\t\t\t<key>Album Artist</key><string>{esc(album_artist)}</string>\n")
        w(f"\t\t\t<key>Album</key><string>{esc(album)}</string>\n")
        w(f"\t\t\t<key>Genre</key><string>{rng.choice(GENRES)}</string>\n")
        w(f"\t\t\t<key>Kind</key><string>{rng.choice(KINDS)}</string>\n")
        w(f"\t\t\t<key>Size</key><integer>{rng.randint(1_000_000, 20_000_000)}</integer>\n")
        w(f"\t\t\t<key>Total Time</key><integer>{rng.randint(60_000, 600_000)}</integer>\n")
        w(f"\t\t\t<key>Disc Number</key><integer>1</integer>\n\t\t\t<key>Disc Count</key><integer>1</integer>\n")
        w(f"\t\t\t<key>Track Number</key><integer>{i % 20 + 1}</integer>\n")
        w(f"\t\t\t<key>Track Count</key><integer>20</integer>\n")
        w(f"\t\t\t<key>Year</key><integer>{rng.randint(1960, 2024)}</integer>\n")
        w(f"\t\t\t<key>Date Modified</key><date>{date(rng, 2005)}</date>\n")
        w(f"\t\t\t<key>Date Added</key><date>{date(rng, 2000)}</date>\n")
        w(f"\t\t\t<key>Bit Rate</key><integer>{rng.choice([128, 192, 256, 320])}</integer>\n")
        w(f"\t\t\t<key>Sample Rate</key><integer>44100</integer>\n")
        if rng.random() < 0.6:
            w(f"\t\t\t<key>Play Count</key><integer>{rng.randint(1, 200)}</integer>\n")
            w(f"\t\t\t<key>Play Date</key><integer>{rng.randint(3_000_000_000, 3_700_000_000)}</integer>\n")
            w(f"\t\t\t<key>Play Date UTC</key><date>{date(rng, 2010)}</date>\n")
        if rng.random() < 0.2:
            w(f"\t\t\t<key>Skip Count</key><integer>{rng.randint(1, 20)}</integer>\n")
            w(f"\t\t\t<key>Skip Date</key><date>{date(rng, 2010)}</date>\n")
        if rng.random() < 0.3:
            w(f"\t\t\t<key>Rating</key><integer>{rng.choice([20, 40, 60, 80, 100])}</integer>\n")
        if rng.random() < 0.1:
            w(f"\t\t\t<key>Comments</key><string>{esc(words(rng, 6))}</string>\n")
        w(f"\t\t\t<key>Artwork Count</key><integer>{rng.randint(0, 1)}</integer>\n")
        w(f"\t\t\t<key>Persistent ID</key><string>{rng.getrandbits(64):016X}</string>\n")
        w("\t\t\t<key>Track Type</key><string>File</string>\n")
        w(f"\t\t\t<key>Location</key><string>{esc(location)}</string>\n")
        w("\t\t\t<key>File Folder Count</key><integer>5</integer>\n\t\t\t<key>Library Folder Count</key><integer>1</integer>\n")
        w("\t\t</dict>\n")
    w("\t</dict>\n\t<key>Playlists</key>\n\t<array>\n")
    folders = []
    for p in range(args.playlists):
        # The master playlist first, then a mix like a real library's: a folder every 25th
        # playlist, some playlists inside folders, some smart, some hidden.
        folder = p > 0 and p % 25 == 1
        persistent_id = f"{rng.getrandbits(64):016X}"
        w("\t\t<dict>\n")
        w(f"\t\t\t<key>Name</key><string>{esc(words(rng, 2)) if p else 'Library'}</string>\n")
        if p == 0:
            w("\t\t\t<key>Master</key><true/>\n\t\t\t<key>Visible</key><false/>\n")
        elif rng.random() < 0.05:
            w("\t\t\t<key>Visible</key><false/>\n")
        w(f"\t\t\t<key>Playlist ID</key><integer>{100000 + p}</integer>\n")
        w(f"\t\t\t<key>Playlist Persistent ID</key><string>{persistent_id}</string>\n")
        if p > 0 and folders and rng.random() < 0.5:
            w(f"\t\t\t<key>Parent Persistent ID</key><string>{rng.choice(folders)}</string>\n")
        if folder:
            w("\t\t\t<key>Folder</key><true/>\n")
            folders.append(persistent_id)
        elif p > 0 and rng.random() < 0.2:
            w("\t\t\t<key>Smart Info</key><data>AQEAAwAAAAIAAAAZAAAAAAAAAAcAAAABAAAAAAAAAAAAAAAA</data>\n")
        w("\t\t\t<key>All Items</key><true/>\n")
        members = ids if p == 0 else [] if folder else rng.sample(ids, min(len(ids), rng.randint(0, 200)))
        if members:
            w("\t\t\t<key>Playlist Items</key>\n\t\t\t<array>\n")
            for tid in members:
                w(f"\t\t\t\t<dict>\n\t\t\t\t\t<key>Track ID</key><integer>{tid}</integer>\n\t\t\t\t</dict>\n")
            w("\t\t\t</array>\n")
        w("\t\t</dict>\n")
    w("\t</array>\n")
    w("\t<key>Music Folder</key><string>file:///home/user/Music/</string>\n</dict>\n</plist>\n")
    with open(args.output, "w", encoding="utf-8") as f:
        f.write("".join(out))


if __name__ == "__main__":
    main()
