package com.kestrane.core.osx;

import com.kestrane.core.NativeLibraries;

/** Process activities: begin returns a handle that must be ended exactly once. */
public final class ProcessInfo {
    static { NativeLibraries.load("osbridge"); }

    private ProcessInfo() {}

    public static native long nativeBeginActivityWithOptions(long options, String reason);
    public static native void nativeEndActivity(long handle);
}
