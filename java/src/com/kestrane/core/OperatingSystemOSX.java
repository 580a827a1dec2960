package com.kestrane.core;

/** Standard folders, applications for a file, and thread priority. */
public final class OperatingSystemOSX {
    static { NativeLibraries.load("osbridge"); }

    private OperatingSystemOSX() {}

    /** The folder's absolute path, or null. Domain mask first, then the directory code. */
    public static native String findFolder(int domainMask, int directory);

    /** URLs of the applications that can open the URL, default application first; never null. */
    public static native String[] getExternalApplications(String url);

    /** Opens the file at path with the application; true on success. */
    public static native boolean openFileWithApplication(String path, String application);

    /** Sets the calling thread's priority on a 0.0 (lowest) to 1.0 (highest) scale; true on success. */
    public static native boolean setThreadPriority(float priority);
}
