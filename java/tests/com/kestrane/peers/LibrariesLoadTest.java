package com.kestrane.peers;

import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import org.junit.jupiter.api.Test;

/**
 * The three libraries load side by side into one JVM the way an application bundle loads them:
 * by name from java.library.path, which the launcher points at Contents/MacOS, rather than from
 * the build folder that the other suites name. That every peer class initializes and loads its
 * own library is the hostile-caller suite's check (it finds the classes itself), and that every
 * class's natives are exported is the export check's.
 */
class LibrariesLoadTest {

    @Test
    void theThreeLibrariesLoadTogetherFromTheLibraryPath() throws Exception {
        System.clearProperty("kestrane.native.dir");
        for (String peer : List.of("com.kestrane.core.app.Digest", "com.kestrane.itlibrary.ITLibrary",
                "com.kestrane.sonvekt.math.NativeFFT")) {
            Class.forName(peer, true, getClass().getClassLoader());
        }
        String maps = Files.readString(Path.of("/proc/self/maps"));
        Path dir = Path.of(System.getProperty("java.library.path")).toRealPath();
        for (String library : List.of("libosbridge.so", "libcatalogbridge.so", "libdspbridge.so")) {
            assertTrue(maps.contains(dir.resolve(library).toString()), library + " was not loaded from " + dir);
        }
    }
}
