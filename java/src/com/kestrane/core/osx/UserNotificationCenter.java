package com.kestrane.core.osx;

import com.kestrane.core.NativeLibraries;

/** Desktop notifications. */
public final class UserNotificationCenter {
    static { NativeLibraries.load("osbridge"); }

    private UserNotificationCenter() {}

    /** Every argument may be null; subtitle is accepted and not shown. */
    public static native void nativeDeliverNotification(String title, String subtitle,
            String informativeText, String soundName, byte[] image);
}
