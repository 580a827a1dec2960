package com.kestrane.demo;

import com.kestrane.itlibrary.ITLibArray;
import com.kestrane.itlibrary.ITLibArtwork;
import com.kestrane.itlibrary.ITLibMediaItem;
import com.kestrane.itlibrary.ITLibPlaylist;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;

/**
 * The demo application: loads the three native libraries through their peer classes, prints
 * where each came from and what its peers declare, and runs the signal kernels once.
 */
public final class ListLibraries {
    private static final String[][] PEERS = {
        {"osbridge", "com.kestrane.core.osx.FileTag", "com.kestrane.core.OperatingSystemOSX",
         "com.kestrane.core.lang.SpellCheckerOSX", "com.kestrane.core.osx.UserNotificationCenter",
         "com.kestrane.core.osx.Appearance", "com.kestrane.core.osx.UIElementColor",
         "com.kestrane.core.app.Digest", "com.kestrane.core.social.SocialOSX",
         "com.kestrane.core.osx.HelpHook", "com.kestrane.core.osx.ProcessInfo"},
        {"catalogbridge", "com.kestrane.itlibrary.ITLibrary", "com.kestrane.itlibrary.ITLibArray",
         "com.kestrane.itlibrary.ITLibMediaItem", "com.kestrane.itlibrary.ITLibPlaylist",
         "com.kestrane.itlibrary.ITLibAlbum", "com.kestrane.itlibrary.ITLibArtist",
         "com.kestrane.itlibrary.ITLibArtwork"},
        {"dspbridge", "com.kestrane.sonvekt.math.NativeFFT", "com.kestrane.sonvekt.math.NNLS",
         "com.kestrane.sonvekt.player.AVPlayer"},
    };

    /** The properties the launcher sets about the user's environment, in its order. */
    private static final String[] ENVIRONMENT_PROPERTIES = {
        "LibraryDirectory", "DocumentsDirectory", "ApplicationSupportDirectory", "CachesDirectory",
        "ApplicationDirectory", "AutosavedInformationDirectory", "DesktopDirectory", "DownloadsDirectory",
        "MoviesDirectory", "MusicDirectory", "PicturesDirectory", "SharedPublicDirectory",
        "SystemLibraryDirectory", "SystemApplicationSupportDirectory", "SystemCachesDirectory",
        "SystemApplicationDirectory", "SystemUserDirectory", "UserHome", "SandboxEnabled", "DarkMode",
        "LaunchModifierFlags", "LaunchModifierFlagCapsLock", "LaunchModifierFlagShift",
        "LaunchModifierFlagControl", "LaunchModifierFlagOption", "LaunchModifierFlagCommand",
        "LaunchModifierFlagNumericPad", "LaunchModifierFlagHelp", "LaunchModifierFlagFunction",
    };

    /** --play: the first track plays until it ends or the process is interrupted, not two seconds. */
    private static boolean playToTheEnd;

    public static void main(String[] args) throws Exception {
        playToTheEnd = List.of(args).contains("--play");
        // With a display the demo is a window (playing the first track at once with --play);
        // without one it lists what it finds.
        if (DemoWindow.open(playToTheEnd)) return;
        showEnvironmentProperties();
        for (String[] row : PEERS) {
            int natives = 0;
            for (String className : List.of(row).subList(1, row.length)) {
                Class<?> peer = Class.forName(className);  // its static initializer loads the library
                for (Method m : peer.getDeclaredMethods()) {
                    if (Modifier.isNative(m.getModifiers())) natives++;
                }
            }
            String dir = System.getProperty("kestrane.native.dir");
            if (dir == null) dir = System.getProperty("java.library.path");
            System.out.printf("%-13s loaded from %s: %d classes declare %d native methods%n",
                    row[0], dir, row.length - 1, natives);
        }
        showSignalKernels();
        showSpellingAndNotification();
        showDesktopServices();
        showDesktopAndLibrary();
    }

    /** Appearance, two colours, a digest, and an activity held while a tone plays. */
    private static void showDesktopServices() throws Exception {
        System.out.printf("osbridge      appearance: %s%n", com.kestrane.core.osx.Appearance.getAppAppearanceName());
        System.out.printf("osbridge      control accent colour: %s, view background: %s%n",
                java.util.Arrays.toString(com.kestrane.core.osx.UIElementColor._getControlAccentColor()),
                java.util.Arrays.toString(com.kestrane.core.osx.UIElementColor._getControlBackgroundColor()));
        byte[] digest = com.kestrane.core.app.Digest.digest("Kestrane".getBytes(java.nio.charset.StandardCharsets.UTF_8));
        System.out.printf("osbridge      digest of \"Kestrane\": %s%n", java.util.HexFormat.of().formatHex(digest));

        long activity = com.kestrane.core.osx.ProcessInfo.nativeBeginActivityWithOptions(
                (1L << 20) | (1L << 40), "Playing a tone");
        java.nio.file.Path wav = java.nio.file.Files.createTempFile("kestrane-tone", ".wav");
        try {
            writeTone(wav, 440, 1.0);
            long player = com.kestrane.sonvekt.player.AVPlayer.open(wav.toUri().toString());
            try {
                com.kestrane.sonvekt.player.AVPlayer.start(player);
                Thread.sleep(1000);
                System.out.printf("osbridge      held an activity while a tone played for %d ms%n",
                        com.kestrane.sonvekt.player.AVPlayer.getTime(player));
            } finally {
                com.kestrane.sonvekt.player.AVPlayer.close(player);
            }
        } catch (java.io.IOException e) {
            System.out.printf("osbridge      held an activity; the tone could not play: %s%n", e.getMessage());
        } finally {
            com.kestrane.core.osx.ProcessInfo.nativeEndActivity(activity);
            java.nio.file.Files.deleteIfExists(wav);
        }
    }

    /** A 16-bit mono WAV file of a sine tone. */
    private static void writeTone(java.nio.file.Path file, double hz, double seconds) throws java.io.IOException {
        int rate = 44100, samples = (int) (rate * seconds);
        java.nio.ByteBuffer b = java.nio.ByteBuffer.allocate(44 + 2 * samples).order(java.nio.ByteOrder.LITTLE_ENDIAN);
        b.put("RIFF".getBytes(java.nio.charset.StandardCharsets.US_ASCII)).putInt(36 + 2 * samples)
         .put("WAVEfmt ".getBytes(java.nio.charset.StandardCharsets.US_ASCII)).putInt(16).putShort((short) 1)
         .putShort((short) 1).putInt(rate).putInt(2 * rate).putShort((short) 2).putShort((short) 16)
         .put("data".getBytes(java.nio.charset.StandardCharsets.US_ASCII)).putInt(2 * samples);
        for (int i = 0; i < samples; i++) b.putShort((short) (8000 * Math.sin(2 * Math.PI * hz * i / rate)));
        java.nio.file.Files.write(file, b.array());
    }

    /** One sentence checked word by word, and one desktop notification. */
    private static void showSpellingAndNotification() {
        String sentence = "This sentense has two mistaks in it.";
        StringBuilder found = new StringBuilder();
        for (int start = 0;;) {
            int[] range = com.kestrane.core.lang.SpellCheckerOSX.nativeCheck(sentence, start, "en_US");
            if (range[0] < 0) break;
            String word = sentence.substring(range[0], range[0] + range[1]);
            String[] guesses = com.kestrane.core.lang.SpellCheckerOSX.nativeGuesses(sentence, range[0], range[1], null);
            found.append(found.length() == 0 ? "" : ", ").append(word)
                 .append(" -> ").append(guesses.length > 0 ? guesses[0] : "?");
            start = range[0] + range[1];
        }
        System.out.printf("osbridge      spelling of \"%s\": %s%n", sentence, found.length() == 0 ? "no mistakes" : found);
        com.kestrane.core.osx.UserNotificationCenter.nativeDeliverNotification(
                "Kestrane", null, "The demo ran its checks.", null, null);
        System.out.println("osbridge      notification sent");
    }

    /** What the launcher told the application about the environment (absent: not set). */
    private static void showEnvironmentProperties() {
        StringBuilder absent = new StringBuilder();
        for (String name : ENVIRONMENT_PROPERTIES) {
            String value = System.getProperty(name);
            if (value != null) {
                System.out.printf("launcher      %s=%s%n", name, value);
            } else {
                absent.append(absent.length() == 0 ? "" : ", ").append(name);
            }
        }
        if (absent.length() > 0) System.out.printf("launcher      not set: %s%n", absent);
    }

    /** The user's music folder, and the music library found there (or why none was found). */
    private static void showDesktopAndLibrary() {
        System.out.printf("osbridge      music folder: %s%n", com.kestrane.core.OperatingSystemOSX.findFolder(1, 18));
        try {
            com.kestrane.itlibrary.ITLibrary library = new com.kestrane.itlibrary.ITLibrary("1.1");
            try (com.kestrane.itlibrary.ITLibArray items = library.getAllMediaItems();
                 com.kestrane.itlibrary.ITLibArray playlists = library.getAllPlaylists()) {
                System.out.printf("catalogbridge music library: %d media items, %d playlists%n",
                        items._size(), playlists._size());
                showTracksAlbumsArtists(items);
                showPlaylistTree(playlists);
                showAlbumArtwork(items);
                analyseAndPlay(items);
            }
        } catch (com.kestrane.itlibrary.ITLibException e) {
            System.out.printf("catalogbridge no music library: %s%n", e.getMessage());
        }
    }

    private static final int MAX_TRACK_LINES = 15;

    /** The tracks (the first few), and the albums and artists they share. */
    private static void showTracksAlbumsArtists(ITLibArray items) {
        java.util.Map<String, Integer> albums = new java.util.TreeMap<>();
        java.util.Set<String> artists = new java.util.TreeSet<>();
        for (int i = 0; i < items._size(); i++) {
            ITLibMediaItem item = items.getMediaItem(i);
            String album = null, artist = null;
            long albumHandle = item._getAlbum();
            if (albumHandle != 0) album = new com.kestrane.itlibrary.ITLibAlbum(albumHandle).getTitle();
            long artistHandle = item._getArtist();
            if (artistHandle != 0) artist = new com.kestrane.itlibrary.ITLibArtist(artistHandle).getName();
            if (album != null) albums.merge(album, 1, Integer::sum);
            if (artist != null) artists.add(artist);
            if (i < MAX_TRACK_LINES) {
                System.out.printf("catalogbridge   track %2d: %-16s %-20s %-16s %5d ms  %s%n", i + 1, item.getTitle(),
                        artist, album, item.getTotalTime(), item.getKind());
            }
        }
        if (items._size() > MAX_TRACK_LINES) System.out.printf("catalogbridge   ... %d more tracks%n", items._size() - MAX_TRACK_LINES);
        System.out.printf("catalogbridge albums: %s%n", albums);
        System.out.printf("catalogbridge artists: %s%n", artists);
    }

    /** The spectrum peak of the first WAV track, and two seconds of the first track played. */
    private static void analyseAndPlay(ITLibArray items) {
        String played = null;
        boolean analysed = false;
        for (int i = 0; i < items._size(); i++) {
            String location = items.getMediaItem(i)._getLocation();
            if (location == null || !location.startsWith("file:")) continue;
            if (played == null) played = location;
            if (!analysed && location.toLowerCase(java.util.Locale.ROOT).endsWith(".wav")) {
                analysed = spectrumPeakOf(items.getMediaItem(i).getTitle(), location);
            }
        }
        if (!analysed) System.out.println("dspbridge     no WAV track to analyse");
        if (played == null) return;
        try {
            long player = com.kestrane.sonvekt.player.AVPlayer.open(played);
            try {
                com.kestrane.sonvekt.player.AVPlayer.start(player);
                if (playToTheEnd) {
                    // The desktop's media controls (playerctl play-pause) may pause and resume it
                    // meanwhile: only the end of the track ends the wait.
                    System.out.printf("dspbridge     playing %s until it ends (Ctrl-C to quit); try playerctl play-pause%n", played);
                    long end = com.kestrane.sonvekt.player.AVPlayer.getDuration(player);
                    while (com.kestrane.sonvekt.player.AVPlayer.isPlaying(player)
                            || com.kestrane.sonvekt.player.AVPlayer.getTime(player) < end) {
                        Thread.sleep(200);
                    }
                } else {
                    Thread.sleep(2000);
                }
                System.out.printf("dspbridge     played %s for %d ms%n", played, com.kestrane.sonvekt.player.AVPlayer.getTime(player));
            } finally {
                com.kestrane.sonvekt.player.AVPlayer.close(player);
            }
        } catch (java.io.IOException e) {
            System.out.printf("dspbridge     cannot play %s: %s%n", played, e.getMessage());
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    /** The FFT peak of the first 4096 samples of a 16-bit PCM WAV file; false when it is not one. */
    private static boolean spectrumPeakOf(String title, String location) {
        try {
            byte[] bytes = java.nio.file.Files.readAllBytes(java.nio.file.Path.of(java.net.URI.create(location)));
            java.nio.ByteBuffer b = java.nio.ByteBuffer.wrap(bytes).order(java.nio.ByteOrder.LITTLE_ENDIAN);
            int channels = b.getShort(22), rate = b.getInt(24), bits = b.getShort(34);
            int data = 12;
            while (data + 8 <= bytes.length && !new String(bytes, data, 4, java.nio.charset.StandardCharsets.US_ASCII).equals("data")) {
                data += 8 + b.getInt(data + 4);
            }
            int n = 4096;
            if (bits != 16 || data + 8 + 2 * channels * n > bytes.length) return false;
            float[] samples = new float[n];
            for (int m = 0; m < n; m++) samples[m] = b.getShort(data + 8 + 2 * channels * m) / 32768f;
            int peak = peakBin(samples);
            System.out.printf("dspbridge     spectrum peak of \"%s\": bin %d = %.1f Hz%n", title, peak, peak * (double) rate / n);
            return true;
        } catch (java.io.IOException | RuntimeException e) {
            return false;
        }
    }

    private static final String[] KINDS = {"regular", "smart", "genius", "folder", "genius mix"};
    private static final String[] FORMATS = {"none", "bitmap", "JPEG", "JPEG 2000", "GIF", "PNG", "BMP", "TIFF", "PICT", "WebP"};
    private static final int MAX_TREE_LINES = 40;

    /** The playlists as the tree their parent IDs make. */
    private static void showPlaylistTree(ITLibArray playlists) {
        Map<Long, List<ITLibPlaylist>> children = new HashMap<>();
        for (int i = 0; i < playlists._size(); i++) {
            ITLibPlaylist p = playlists.getPlaylist(i);
            children.computeIfAbsent(p._getParentId(), k -> new ArrayList<>()).add(p);
        }
        System.out.println("catalogbridge playlists:");
        int shown = printTree(children, 0L, 1, 0);
        if (shown < playlists._size()) System.out.printf("                ... and %d more%n", playlists._size() - shown);
    }

    private static int printTree(Map<Long, List<ITLibPlaylist>> children, long parent, int depth, int shown) {
        for (ITLibPlaylist p : children.getOrDefault(parent, List.of())) {
            if (shown >= MAX_TREE_LINES) return shown;
            int kind = p._getKind();
            System.out.printf("              %s%s (%s%s, %d items)%n", "  ".repeat(depth), p.getName(),
                    kind >= 0 && kind < KINDS.length ? KINDS[kind] : "kind " + kind,
                    p.isVisible() ? "" : ", hidden", p.getItemsIds().length);
            shown = printTree(children, p.getId(), depth + 1, shown + 1);
        }
        return shown;
    }

    private static final int MAX_ARTWORK_LINES = 5;

    /** The artwork of the first track of each album (a few) that has one: embedded, or its folder's cover. */
    private static void showAlbumArtwork(ITLibArray items) {
        java.util.Set<String> shown = new java.util.HashSet<>();
        int tried = 0;
        for (int i = 0; i < items._size() && tried < 200 && shown.size() < MAX_ARTWORK_LINES; i++) {
            ITLibMediaItem item = items.getMediaItem(i);
            if (!item.isArtworkAvailable()) continue;
            long albumHandle = item._getAlbum();
            String album = albumHandle != 0 ? new com.kestrane.itlibrary.ITLibAlbum(albumHandle).getTitle() : null;
            if (shown.contains(String.valueOf(album))) continue;
            tried++;
            long handle = item._getArtwork();
            if (handle == 0) continue;
            shown.add(String.valueOf(album));
            ITLibArtwork artwork = new ITLibArtwork(handle);
            int format = artwork._getImageDataFormat();
            System.out.printf("catalogbridge artwork of \"%s\" (%s): %s, %d bytes%n", item.getTitle(), album,
                    format >= 0 && format < FORMATS.length ? FORMATS[format] : "format " + format,
                    artwork.getImageData().length);
        }
        if (shown.isEmpty()) System.out.println("catalogbridge no track has a picture, in its file or its folder");
    }

    /** The bin of the largest magnitude in the spectrum of samples (a power of two long). */
    private static int peakBin(float[] samples) {
        int n = samples.length;
        long setup = com.kestrane.sonvekt.math.NativeFFT.init(n);
        float[][] spectrum;
        try {
            spectrum = com.kestrane.sonvekt.math.NativeFFT.realFFT(setup, true, n, samples, null);
        } finally {
            com.kestrane.sonvekt.math.NativeFFT.destroy(setup);
        }
        int peak = 0;
        double best = 0;
        for (int k = 0; k <= n / 2; k++) {
            double magnitude = Math.hypot(spectrum[0][k], spectrum[1][k]);
            if (magnitude > best) {
                best = magnitude;
                peak = k;
            }
        }
        return peak;
    }

    /** A 440 Hz tone through the FFT, and a small non-negative fit. */
    private static void showSignalKernels() {
        int n = 4096;
        double rate = 44100;
        float[] tone = new float[n];
        for (int m = 0; m < n; m++) tone[m] = (float) Math.sin(2 * Math.PI * 440 * m / rate);
        int peak = peakBin(tone);
        System.out.printf("dspbridge     FFT of a 440 Hz tone (%d samples at %.0f Hz): peak in bin %d = %.1f Hz%n",
                n, rate, peak, peak * rate / n);

        // b = 2*column0 + 0.5*column2; the negative-weight direction (column 1) is refused.
        float[] a = {1, 0, 0, 1,  -1, 1, 0, 0,  0, 0, 1, 1};
        float[] b = {2, 0, 0.5f, 2.5f};
        float[] x = new float[3];
        int mode = com.kestrane.sonvekt.math.NNLS.solve(a, 4, 4, 3, b, x);
        System.out.printf("dspbridge     NNLS fit (mode %d): x = [%.3f, %.3f, %.3f]%n", mode, x[0], x[1], x[2]);
    }
}
