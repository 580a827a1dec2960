package com.kestrane.core.app;

import com.kestrane.core.NativeLibraries;

/** The application's salted MD5 digest. */
public final class Digest {
    static { NativeLibraries.load("osbridge"); }

    private Digest() {}

    /** 16 bytes: MD5 of a fixed 4-byte prefix followed by data. */
    public static native byte[] digest(byte[] data);
}
