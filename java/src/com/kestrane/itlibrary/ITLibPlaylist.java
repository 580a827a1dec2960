package com.kestrane.itlibrary;

/** A playlist; valid while the array or library it came from lives. Kinds as int. */
public final class ITLibPlaylist extends ITLibObject {

    public ITLibPlaylist(long handle) {
        super(handle);
    }

    public native long getId();
    public native long _getParentId();
    public native boolean isVisible();
    public native String getName();
    public native boolean isMaster();
    public native long _getItems();
    public native long[] getItemsIds();
    public native int _getDistinguishedKind();
    public native int _getKind();
}
