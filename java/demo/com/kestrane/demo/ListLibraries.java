package com.kestrane.demo;

import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.List;

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

    public static void main(String[] args) throws Exception {
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
        showDesktopAndLibrary();
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
                if (items._size() > 0) {
                    com.kestrane.itlibrary.ITLibMediaItem first = items.getMediaItem(0);
                    System.out.printf("catalogbridge first item: \"%s\" (%d ms)%n", first.getTitle(), first.getTotalTime());
                }
            }
        } catch (com.kestrane.itlibrary.ITLibException e) {
            System.out.printf("catalogbridge no music library: %s%n", e.getMessage());
        }
    }

    /** A 440 Hz tone through the FFT, and a small non-negative fit. */
    private static void showSignalKernels() {
        int n = 4096;
        double rate = 44100;
        float[] tone = new float[n];
        for (int m = 0; m < n; m++) tone[m] = (float) Math.sin(2 * Math.PI * 440 * m / rate);
        long setup = com.kestrane.sonvekt.math.NativeFFT.init(n);
        float[][] spectrum = com.kestrane.sonvekt.math.NativeFFT.realFFT(setup, true, n, tone, null);
        com.kestrane.sonvekt.math.NativeFFT.destroy(setup);
        int peak = 0;
        double best = 0;
        for (int k = 0; k <= n / 2; k++) {
            double magnitude = Math.hypot(spectrum[0][k], spectrum[1][k]);
            if (magnitude > best) {
                best = magnitude;
                peak = k;
            }
        }
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
