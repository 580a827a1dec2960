package com.kestrane.itlibrary;

/**
 * One track (or video) of the library. Integer widths: times in milliseconds and the file
 * size as long; every other whole number and enumeration code as int. Dates are long
 * milliseconds since 1970, 0 for none.
 */
public final class ITLibMediaItem extends ITLibObject {

    public ITLibMediaItem(long handle) {
        super(handle);
    }

    public native long getId();
    public native String getTitle();
    public native String getSortTitle();
    public native long _getArtist();
    public native long _getAlbum();
    public native String getComposer();
    public native String getSortComposer();
    public native int getRating();
    public native boolean isRatingComputed();
    public native long getStartTime();
    public native long getStopTime();
    public native String getGenre();
    public native String getKind();
    public native int _getMediaKind();
    public native int _getLyricsContentRating();
    public native long getTotalTime();
    public native int getTrackNumber();
    public native String getCategory();
    public native String getDescription();
    public native String getContentRating();
    public native long _getAddedDate();
    public native long _getModifiedDate();
    public native int getBitRate();
    public native int getSampleRate();
    public native int getBeatsPerMinute();
    public native int getPlayCount();
    public native long _getLastPlayedDate();
    public native String _getLocation();
    public native int _getLocationType();
    public native boolean isArtworkAvailable();
    public native long _getArtwork();
    public native String getComments();
    public native boolean isPurchased();
    public native boolean isDRMProtected();
    public native boolean hasVideo();
    public native long _getReleaseDate();
    public native int getYear();
    public native int getSkipCount();
    public native long _getSkipDate();
    public native int getVolumeAdjustment();
    public native int getVolumeNormalizationEnergy();
    public native boolean isUserDisabled();
    public native String getGrouping();
    public native long getFileSize();
    public native boolean isCloud();
    public native int _getPlayStatus();
    public native String _getProperty(String key);
}
