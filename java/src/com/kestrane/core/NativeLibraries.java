package com.kestrane.core;

/** Loads the native libraries of this layer once per class loader. */
public final class NativeLibraries {
    private NativeLibraries() {}

    /**
     * Loads lib{name}.so. When the system property "kestrane.native.dir" names a folder, the
     * library is taken from there (tests and the demo use the build folder); otherwise
     * java.library.path is searched, which the launcher points at the bundle's Contents/MacOS.
     */
    public static void load(String name) {
        String dir = System.getProperty("kestrane.native.dir");
        if (dir != null && !dir.isEmpty()) {
            System.load(new java.io.File(dir, System.mapLibraryName(name)).getAbsolutePath());
        } else {
            System.loadLibrary(name);
        }
    }
}
