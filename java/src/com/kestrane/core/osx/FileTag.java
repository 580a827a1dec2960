package com.kestrane.core.osx;

import com.kestrane.core.NativeLibraries;

/** Resource values (tags and other named values) of a file, addressed by a file URL. */
public final class FileTag {
    static { NativeLibraries.load("osbridge"); }

    private FileTag() {}

    /** The resource tag names of a file, a list of strings. */
    public static final String TAG_NAMES = "NSURLTagNamesKey";

    /** An Integer, a String[] or null. */
    public static native Object getResourceValueForKey(String url, String key);

    /** True when the value was stored. */
    public static native boolean setResourceValueForKey(String url, int value, String key);

    /** True when the list was stored. */
    public static native boolean setResourceValueForKey(String url, String[] values, String key);
}
