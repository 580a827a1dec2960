package com.kestrane.core.osx;

import com.kestrane.core.NativeLibraries;

/** Opens the application's help without waiting. */
public final class HelpHook {
    static { NativeLibraries.load("osbridge"); }

    private HelpHook() {}

    public static native void showHelp();
}
