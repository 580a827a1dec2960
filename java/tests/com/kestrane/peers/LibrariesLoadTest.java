package com.kestrane.peers;

import static org.junit.jupiter.api.Assertions.assertDoesNotThrow;

import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

/**
 * Every peer class loads its library in its static initializer. A library that links against
 * something missing, or a peer that names the wrong library, fails here with
 * UnsatisfiedLinkError when the class initializes.
 */
class LibrariesLoadTest {

    @ParameterizedTest
    @ValueSource(strings = {
        "com.kestrane.core.osx.FileTag", "com.kestrane.core.OperatingSystemOSX",
        "com.kestrane.core.lang.SpellCheckerOSX", "com.kestrane.core.osx.UserNotificationCenter",
        "com.kestrane.core.osx.Appearance", "com.kestrane.core.osx.UIElementColor",
        "com.kestrane.core.app.Digest", "com.kestrane.core.social.SocialOSX",
        "com.kestrane.core.osx.HelpHook", "com.kestrane.core.osx.ProcessInfo",
        "com.kestrane.itlibrary.ITLibrary", "com.kestrane.itlibrary.ITLibArray",
        "com.kestrane.itlibrary.ITLibMediaItem", "com.kestrane.itlibrary.ITLibPlaylist",
        "com.kestrane.itlibrary.ITLibAlbum", "com.kestrane.itlibrary.ITLibArtist",
        "com.kestrane.itlibrary.ITLibArtwork", "com.kestrane.sonvekt.math.NativeFFT",
        "com.kestrane.sonvekt.math.NNLS", "com.kestrane.sonvekt.player.AVPlayer"})
    void peerClassInitializesAndLoadsItsLibrary(String className) {
        assertDoesNotThrow(() -> Class.forName(className, true, getClass().getClassLoader()));
    }
}
