package com.kestrane.demo;

import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.List;

/**
 * Loads the three native libraries through their peer classes and prints, for each, where it
 * was loaded from and which of its peers' native methods it already provides.
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
            String dir = System.getProperty("kestrane.native.dir", "java.library.path");
            System.out.printf("%-13s loaded from %s: %d classes declare %d native methods%n",
                    row[0], dir, row.length - 1, natives);
        }
    }
}
