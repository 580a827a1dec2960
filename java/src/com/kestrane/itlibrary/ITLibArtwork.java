package com.kestrane.itlibrary;

/** Artwork of a media item: encoded image bytes and their format code (int). */
public final class ITLibArtwork extends ITLibObject {

    public ITLibArtwork(long handle) {
        super(handle);
    }

    public native byte[] getImageData();
    public native int _getImageDataFormat();
    public native long _retain();
    public native void _release();
}
