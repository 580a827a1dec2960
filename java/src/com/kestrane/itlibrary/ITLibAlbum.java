package com.kestrane.itlibrary;

/** An album shared by its tracks. Counts, numbers and rating as int. */
public final class ITLibAlbum extends ITLibObject {

    public ITLibAlbum(long handle) {
        super(handle);
    }

    public native long getId();
    public native String getTitle();
    public native String getSortTitle();
    public native int getTrackCount();
    public native int getRating();
    public native boolean isRatingComputed();
    public native boolean isGapless();
    public native int getDiscNumber();
    public native int getDiscCount();
    public native boolean isCompilation();
    public native String getAlbumArtist();
    public native String getSortAlbumArtist();
    public native long _retain();
    public native void _release();
}
