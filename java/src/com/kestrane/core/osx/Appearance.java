package com.kestrane.core.osx;

import com.kestrane.core.NativeLibraries;

/** The application's current appearance (light or dark look). */
public final class Appearance {
    static { NativeLibraries.load("osbridge"); }

    private Appearance() {}

    /** The appearance's name, "Unknown" when it cannot be told, or null. */
    public static native String getAppAppearanceName();
}
