package com.kestrane.sonvekt.player;

import com.kestrane.core.NativeLibraries;

/** A media player addressed by a handle; times in milliseconds. Status results as int. */
public final class AVPlayer {
    static { NativeLibraries.load("dspbridge"); }

    private AVPlayer() {}

    /** Opens a media URL (a file:// URL for files); waits up to 10 seconds for it to load. */
    public static native long open(String url) throws java.io.IOException;

    public static native void start(long handle);
    public static native void stop(long handle);
    public static native void playImmediatelyAtRate(long handle, float rate);
    public static native void reset(long handle);
    public static native boolean isPlaying(long handle);
    public static native void setMuted(long handle, boolean muted);
    public static native boolean isMuted(long handle);
    public static native void setVolume(long handle, float volume);
    public static native float getVolume(long handle);
    public static native void setTime(long handle, long millis);
    public static native long getTime(long handle);
    public static native long getDuration(long handle);
    public static native void close(long handle);
    public static native int getStatus(long handle);
    public static native String getError(long handle);
    public static native int getTimeControlStatus(long handle);
    public static native String getReasonForWaitingToPlay(long handle);
}
