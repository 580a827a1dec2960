package com.kestrane.core.social;

import com.kestrane.core.NativeLibraries;

/** Sharing a text through one of three services (0, 1, 2). */
public final class SocialOSX {
    static { NativeLibraries.load("osbridge"); }

    private SocialOSX() {}

    public static native boolean isConfigured(int service);
    public static native boolean canShare(int service, String text);
    public static native void share(int service, String text);
}
