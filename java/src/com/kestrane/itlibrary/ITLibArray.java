package com.kestrane.itlibrary;

/** An ordered list of media items or playlists. Size as int, like the index. */
public final class ITLibArray extends ITLibObject implements AutoCloseable {

    public ITLibArray(long handle) {
        super(handle);
    }

    /** Takes a reference on a handle that came without one. */
    static ITLibArray retained(long handle) {
        ITLibArray array = new ITLibArray(handle);
        array.pointer = array._retain();
        return array;
    }

    public native int _size();
    public native long _get(int index);
    public native long _retain();
    public native void _release();

    public ITLibMediaItem getMediaItem(int index) {
        return new ITLibMediaItem(_get(index));
    }

    public ITLibPlaylist getPlaylist(int index) {
        return new ITLibPlaylist(_get(index));
    }

    /** Gives back the reference taken by retained(). */
    @Override
    public void close() {
        _release();
        pointer = 0;
    }
}
