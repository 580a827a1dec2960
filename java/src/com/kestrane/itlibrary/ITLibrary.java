package com.kestrane.itlibrary;

/** The user's music library. Integer widths: API versions as int. */
public final class ITLibrary extends ITLibObject {

    /** Opens the library for an API version such as "1.1". */
    public ITLibrary(String apiVersion) throws ITLibException {
        super(0);
        this.pointer = init(apiVersion);
    }

    /** A peer around an existing handle (0 for none). */
    public static ITLibrary ofHandle(long handle) {
        ITLibrary library = new ITLibrary();
        library.pointer = handle;
        return library;
    }

    private ITLibrary() {
        super(0);
    }

    private static native long init(String apiVersion) throws ITLibException;

    public native String _getMusicFolderLocation();
    public native boolean isShowContentRating();
    public native String getApplicationVersion();
    public native int getAPIMajorVersion();
    public native int getAPIMinorVersion();
    public native boolean _reloadData();
    public native void _unloadData();

    public native long _getAllMediaItems();
    public native long _getAllPlaylists();
    public native long _getMediaItem(long persistentId);
    public native long _artworkForMediaFile(String url);

    public native long _getLastItemModification() throws ITLibException;
    public native long _getMediaItemsChangedSince(long sinceMillis);
    public native long[] getMediaItemIds();
    public native int getPlaylistHash() throws ITLibException;

    /** All media items; the array holds a reference of its own until closed. */
    public ITLibArray getAllMediaItems() {
        return ITLibArray.retained(_getAllMediaItems());
    }

    public ITLibArray getAllPlaylists() {
        return ITLibArray.retained(_getAllPlaylists());
    }

    public ITLibArray getMediaItemsChangedSince(long sinceMillis) {
        return ITLibArray.retained(_getMediaItemsChangedSince(sinceMillis));
    }
}
