package com.kestrane.itlibrary;

/** An artist shared by its tracks. */
public final class ITLibArtist extends ITLibObject {

    public ITLibArtist(long handle) {
        super(handle);
    }

    public native long getId();
    public native String getName();
    public native String getSortName();
    public native long _retain();
    public native void _release();
}
