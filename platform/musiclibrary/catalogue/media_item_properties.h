// Every property of a media item that the Java side reads, once. The media item's accessors
// and the catalogue bridge's exports are both made from this table, so a new property is one
// line here (plus its key in track_keys.h when the key is new), its native method in the Java
// peer, and its test.
//
//   STORED(peerMethod, Kind, accessor, key)   the value under one key of the track
//   DERIVED(peerMethod, Kind, accessor)       computed from several keys (media_item.cpp)
//
// peerMethod is the Java peer's method as its exported name spells it (an underscore in the
// Java name is written _1). Kinds, and what an absent value reads as:
//   Text     a string                                        absent
//   Integer  a whole number (the Java method's width keeps its low bits)   0
//   Flag     yes or no                                       false
//   Date     seconds since 1970-01-01 00:00:00 UTC           absent
#pragma once

#define KESTRANE_MEDIA_ITEM_PROPERTIES(STORED, DERIVED)                                  \
    STORED(getTitle, Text, title, name)                                                 \
    STORED(getSortTitle, Text, sortTitle, sortName)                                     \
    STORED(getComposer, Text, composer, composer)                                       \
    STORED(getSortComposer, Text, sortComposer, sortComposer)                           \
    STORED(getGenre, Text, genre, genre)                                                \
    STORED(getKind, Text, kind, kind)                                                   \
    STORED(getCategory, Text, category, category)                                       \
    STORED(getDescription, Text, description, description)                             \
    STORED(getContentRating, Text, contentRating, contentRating)                        \
    STORED(getComments, Text, comments, comments)                                       \
    STORED(getGrouping, Text, grouping, grouping)                                       \
    DERIVED(_1getLocation, Text, location)                                              \
    STORED(getRating, Integer, rating, rating)                                          \
    STORED(getStartTime, Integer, startTime, startTime)                                 \
    STORED(getStopTime, Integer, stopTime, stopTime)                                    \
    STORED(getTotalTime, Integer, totalTime, totalTime)                                 \
    STORED(getTrackNumber, Integer, trackNumber, trackNumber)                           \
    STORED(getBitRate, Integer, bitrate, bitRate)                                       \
    STORED(getSampleRate, Integer, sampleRate, sampleRate)                              \
    STORED(getBeatsPerMinute, Integer, beatsPerMinute, bpm)                             \
    STORED(getPlayCount, Integer, playCount, playCount)                                 \
    STORED(getYear, Integer, year, year)                                                \
    STORED(getSkipCount, Integer, skipCount, skipCount)                                 \
    STORED(getVolumeAdjustment, Integer, volumeAdjustment, volumeAdjustment)            \
    STORED(getVolumeNormalizationEnergy, Integer, volumeNormalizationEnergy, normalization) \
    STORED(getFileSize, Integer, fileSize, size)                                        \
    STORED(isRatingComputed, Flag, isRatingComputed, ratingComputed)                    \
    STORED(isPurchased, Flag, isPurchased, purchased)                                   \
    STORED(isDRMProtected, Flag, isDRMProtected, protectedContent)                      \
    STORED(hasVideo, Flag, isVideo, hasVideo)                                           \
    STORED(isUserDisabled, Flag, isUserDisabled, disabled)                              \
    STORED(_1getAddedDate, Date, addedDate, dateAdded)                                  \
    STORED(_1getModifiedDate, Date, modifiedDate, dateModified)                         \
    STORED(_1getLastPlayedDate, Date, lastPlayedDate, playDateUTC)                      \
    STORED(_1getReleaseDate, Date, releaseDate, releaseDate)                            \
    STORED(_1getSkipDate, Date, skipDate, skipDate)                                     \
    DERIVED(isArtworkAvailable, Flag, hasArtworkAvailable)                              \
    DERIVED(isCloud, Flag, isCloud)                                                     \
    DERIVED(_1getMediaKind, Integer, mediaKind)                                         \
    DERIVED(_1getLyricsContentRating, Integer, lyricsContentRating)                     \
    DERIVED(_1getLocationType, Integer, locationType)                                   \
    DERIVED(_1getPlayStatus, Integer, playStatus)
