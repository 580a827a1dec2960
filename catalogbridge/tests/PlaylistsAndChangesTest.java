import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.kestrane.itlibrary.ITLibAlbum;
import com.kestrane.itlibrary.ITLibArray;
import com.kestrane.itlibrary.ITLibArtist;
import com.kestrane.itlibrary.ITLibArtwork;
import com.kestrane.itlibrary.ITLibException;
import com.kestrane.itlibrary.ITLibMediaItem;
import com.kestrane.itlibrary.ITLibPlaylist;
import com.kestrane.itlibrary.ITLibrary;
import java.nio.file.Files;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import org.junit.jupiter.api.Test;

/** Playlists, albums, artists, artwork and change tracking through the Java peers. */
class PlaylistsAndChangesTest {
    static String track(int id, String persistentId, String more) {
        return CatalogBridgeTest.track(id, persistentId, more);
    }

    static String playlist(String more, int... members) {
        StringBuilder items = new StringBuilder("<key>Playlist Items</key><array>");
        for (int id : members) items.append("<dict><key>Track ID</key><integer>").append(id).append("</integer></dict>");
        return "<dict>" + more + items + "</array></dict>";
    }

    static String dated(String added, String modified, String played) {
        String s = "<key>Date Added</key><date>" + added + "</date>";
        if (modified != null) s += "<key>Date Modified</key><date>" + modified + "</date>";
        if (played != null) s += "<key>Play Date UTC</key><date>" + played + "</date>";
        return s;
    }

    /** A peer that takes its own reference on an array handle, given back by close(). */
    static ITLibArray retained(long handle) {
        ITLibArray array = new ITLibArray(handle);
        assertEquals(handle, array._retain());
        return array;
    }

    static long[] ids(ITLibArray array) {
        long[] out = new long[array._size()];
        for (int i = 0; i < out.length; i++) out[i] = array.getMediaItem(i).getId();
        return out;
    }

    @Test
    void theQuarterAndNineSixteenthsSecondItem() throws Exception {
        ITLibrary lib = CatalogBridgeTest.open(CatalogBridgeTest.library(
                track(1, "0000000000000001", dated("1970-01-01T00:00:00.25Z", "1970-01-01T00:00:00.5625Z", null)), ""));
        assertEquals(562, lib._getLastItemModification());  // 562.5 with the fraction dropped
        try (ITLibArray at562 = lib.getMediaItemsChangedSince(562); ITLibArray at563 = lib.getMediaItemsChangedSince(563)) {
            assertEquals(1, at562._size());  // 562.5 > 562: the comparison is not rounded
            assertEquals(0, at563._size());
        }
    }

    @Test
    void aRealChangeMovesWhatItShould() throws Exception {
        String a = track(1, "00000000000000A1", dated("2001-01-01T00:00:00Z", "2002-01-01T00:00:00Z", null));
        String b = track(2, "00000000000000B2", dated("2001-01-01T00:00:00Z", "2002-01-01T00:00:00Z", null));
        String c = track(3, "00000000000000C3", dated("2001-01-01T00:00:00Z", "2002-01-01T00:00:00Z", null));
        ITLibrary lib = CatalogBridgeTest.open(CatalogBridgeTest.library(a + b + c, playlist("", 1, 2, 3)));
        long newest = lib._getLastItemModification();
        int hash = lib.getPlaylistHash();
        long[] allIds = lib.getMediaItemIds();
        assertEquals(1009843200000L, newest);
        assertEquals(3, allIds.length);

        // Track 2 is played, track 3 modified, the playlist reordered.
        String played = track(2, "00000000000000B2", dated("2001-01-01T00:00:00Z", "2002-01-01T00:00:00Z", "2010-01-01T00:00:00Z"));
        String modified = track(3, "00000000000000C3", dated("2001-01-01T00:00:00Z", "2005-01-01T00:00:00Z", null));
        Files.writeString(CatalogBridgeTest.FILE, CatalogBridgeTest.library(a + played + modified, playlist("", 3, 2, 1)));
        assertEquals(newest, lib._getLastItemModification());  // nothing moves before the reload
        assertTrue(lib._reloadData());

        assertEquals(1262304000000L, lib._getLastItemModification());  // the play moves it
        assertNotEquals(hash, lib.getPlaylistHash());
        assertArrayEquals(allIds, lib.getMediaItemIds());  // same items, same order
        try (ITLibArray changed = lib.getMediaItemsChangedSince(newest)) {
            // Only the modified item: playing is no change of the item.
            assertArrayEquals(new long[] {lib.getMediaItemIds()[2]}, ids(changed));
        }
        try (ITLibArray playlists = lib.getAllPlaylists()) {
            ITLibPlaylist p = playlists.getPlaylist(0);
            assertArrayEquals(new long[] {allIds[2], allIds[1], allIds[0]}, p.getItemsIds());
        }
    }

    @Test
    void hashExamplesAndTheirEdges() throws Exception {
        String tracks = track(1, "0000000100000002", "") + track(2, "00000005FFFFFFFF", "") + track(3, "0000000000000007", "");
        assertEquals(1, CatalogBridgeTest.open(CatalogBridgeTest.library(tracks, playlist("", 1, 1))).getPlaylistHash());
        assertEquals(7 ^ 5, CatalogBridgeTest.open(CatalogBridgeTest.library(tracks, playlist("", 3, 2))).getPlaylistHash());
        assertEquals(0, CatalogBridgeTest.open(CatalogBridgeTest.library(tracks,
                playlist("<key>Visible</key><false/>", 1, 2))).getPlaylistHash());
        assertEquals(0, CatalogBridgeTest.open(CatalogBridgeTest.library(tracks, playlist("") + playlist(""))).getPlaylistHash());
        assertEquals(0, CatalogBridgeTest.open(CatalogBridgeTest.library(tracks,
                playlist("", 1, 2, 3) + playlist("", 1, 2, 3))).getPlaylistHash());
        // A visible playlist without an item list is passed over; the others still count.
        assertEquals(1, CatalogBridgeTest.open(CatalogBridgeTest.library(tracks,
                "<dict><key>Name</key><string>bare</string></dict>" + playlist("", 1, 1))).getPlaylistHash());
    }

    @Test
    void aLibraryWithoutItemsIsNotReloadedByTheseExports() throws Exception {
        ITLibrary lib = CatalogBridgeTest.open(CatalogBridgeTest.library("", ""));
        Files.writeString(CatalogBridgeTest.FILE, CatalogBridgeTest.library(track(1, "0000000000000001",
                dated("2001-01-01T00:00:00Z", null, null)), ""));
        assertEquals(0, lib._getLastItemModification());
        assertEquals(0, lib.getMediaItemIds().length);
        assertEquals(0, lib.getPlaylistHash());
        try (ITLibArray changed = lib.getMediaItemsChangedSince(Long.MIN_VALUE)) {
            assertEquals(0, changed._size());
        }
        try (ITLibArray items = lib.getAllMediaItems()) {
            assertEquals(1, items._size());  // this one reloads when empty
        }
    }

    @Test
    void zeroHandlesThrowOrGiveEmptyResults() {
        ITLibrary none = ITLibrary.ofHandle(0);
        assertEquals("Failed get last modification date. No library.",
                assertThrows(ITLibException.class, none::_getLastItemModification).getMessage());
        assertEquals("Failed to compute playlist hash. No library.",
                assertThrows(ITLibException.class, none::getPlaylistHash).getMessage());
        long empty = none._getMediaItemsChangedSince(0);
        assertNotEquals(0, empty);  // an empty list, not none
        try (ITLibArray list = retained(empty)) {
            assertEquals(0, list._size());
        }
        assertArrayEquals(new long[0], none.getMediaItemIds());
        ITLibPlaylist p = new ITLibPlaylist(0);
        assertEquals(0, p.getId());
        assertEquals(0, p._getParentId());
        assertFalse(p.isVisible());
        assertNull(p.getName());
        assertEquals(0, p._getItems());
        assertArrayEquals(new long[0], p.getItemsIds());
        assertEquals(0, p._getKind());
        ITLibArtwork art = new ITLibArtwork(0);
        assertArrayEquals(new byte[0], art.getImageData());  // empty, never null
        assertEquals(0, art._getImageDataFormat());
        assertNull(new ITLibAlbum(0).getTitle());
        assertEquals(0, new ITLibAlbum(0).getTrackCount());
        assertNull(new ITLibArtist(0).getName());
        assertEquals(0, new ITLibArtist(0).getId());
    }

    @Test
    void playlistsFormATreeThroughTheirParentIds() throws Exception {
        String playlists =
                "<dict><key>Name</key><string>Library</string><key>Master</key><true/><key>Visible</key><false/>"
                + "<key>Playlist Persistent ID</key><string>0000000000000010</string>"
                + "<key>Playlist Items</key><array><dict><key>Track ID</key><integer>1</integer></dict></array></dict>"
                + "<dict><key>Name</key><string>Music</string><key>Playlist Persistent ID</key><string>0000000000000011</string>"
                + "<key>Distinguished Kind</key><integer>4</integer><key>Music</key><true/></dict>"
                + "<dict><key>Name</key><string>Folder</string><key>Folder</key><true/>"
                + "<key>Playlist Persistent ID</key><string>F000000000000012</string></dict>"
                + "<dict><key>Name</key><string>Smart one</string><key>Smart Info</key><data>AAE=</data>"
                + "<key>Playlist Persistent ID</key><string>0000000000000013</string>"
                + "<key>Parent Persistent ID</key><string>F000000000000012</string></dict>"
                + "<dict><key>Name</key><string>Hidden child</string><key>Visible</key><false/>"
                + "<key>Playlist Persistent ID</key><string>0000000000000014</string>"
                + "<key>Parent Persistent ID</key><string>F000000000000012</string></dict>"
                + "<dict><key>Playlist Persistent ID</key><string>0000000000000015</string></dict>";
        ITLibrary lib = CatalogBridgeTest.open(CatalogBridgeTest.library(track(1, "0000000000000001", ""), playlists));
        Map<Long, List<String>> children = new HashMap<>();
        Map<String, ITLibPlaylist> byName = new HashMap<>();
        try (ITLibArray all = lib.getAllPlaylists()) {
            for (int i = 0; i < all._size(); i++) {
                ITLibPlaylist p = all.getPlaylist(i);
                children.computeIfAbsent(p._getParentId(), k -> new ArrayList<>()).add(p.getName());
                byName.put(String.valueOf(p.getName()), p);
            }
            ITLibPlaylist folder = byName.get("Folder");
            assertTrue(folder.getId() > 0 && (folder.getId() & (1L << 62)) != 0);  // F0.. has bit 63 set: inverted
            assertEquals(List.of("Smart one", "Hidden child"), children.get(folder.getId()));
            assertEquals(folder.getId(), byName.get("Smart one")._getParentId());
            assertEquals(java.util.Arrays.asList("Library", "Music", "Folder", null), children.get(0L));
            assertNull(byName.get("null").getName());
            assertTrue(byName.get("Library").isMaster());
            assertFalse(byName.get("Library").isVisible());
            assertTrue(byName.get("Music").isVisible());
            assertEquals(3, byName.get("Music")._getDistinguishedKind());
            assertEquals(3, folder._getKind());
            assertEquals(1, byName.get("Smart one")._getKind());
            assertEquals(0, byName.get("Music")._getItems());
            try (ITLibArray items = retained(byName.get("Library")._getItems())) {
                assertEquals(1, items._size());
                assertEquals(Long.MIN_VALUE + 1, items.getMediaItem(0).getId());
            }
        }
    }

    @Test
    void albumsAndArtistsTakeTheirValuesFromTheirTracks() throws Exception {
        String first = "<key>Name</key><string>one</string><key>Artist</key><string>Ärzte</string>"
                + "<key>Sort Artist</key><string>Aerzte</string><key>Album</key><string>Best Of</string>"
                + "<key>Album Artist</key><string>Various</string><key>Sort Album Artist</key><string>Various Sort</string>"
                + "<key>Sort Album</key><string>Best</string><key>Track Count</key><integer>12</integer>"
                + "<key>Album Rating</key><integer>60</integer><key>Album Rating Computed</key><true/>"
                + "<key>Part Of Gapless Album</key><true/><key>Disc Number</key><integer>2</integer>"
                + "<key>Disc Count</key><integer>3</integer><key>Compilation</key><true/>";
        String second = first.replace("<string>one</string>", "<string>two</string>")
                .replace("<integer>12</integer>", "<integer>99</integer>");
        ITLibrary lib = CatalogBridgeTest.open(CatalogBridgeTest.library(
                track(1, "0000000000000001", first) + track(2, "0000000000000002", second), ""));
        try (ITLibArray items = lib.getAllMediaItems()) {
            ITLibMediaItem one = items.getMediaItem(0), two = items.getMediaItem(1);
            assertEquals(one._getAlbum(), two._getAlbum());  // shared
            ITLibAlbum album = new ITLibAlbum(one._getAlbum());
            album._retain();
            try {
                assertEquals("Best Of", album.getTitle());
                assertEquals("Best", album.getSortTitle());
                assertEquals(12, album.getTrackCount());  // the first track's value
                assertEquals(60, album.getRating());
                assertTrue(album.isRatingComputed());
                assertTrue(album.isGapless());
                assertEquals(2, album.getDiscNumber());
                assertEquals(3, album.getDiscCount());
                assertTrue(album.isCompilation());
                assertEquals("Various", album.getAlbumArtist());
                assertEquals("Various Sort", album.getSortAlbumArtist());
                assertNotEquals(0, album.getId());
            } finally {
                album._release();
            }
            ITLibArtist artist = new ITLibArtist(two._getArtist());
            assertEquals("Ärzte", artist.getName());
            assertEquals("Aerzte", artist.getSortName());
            assertNotEquals(0, artist.getId());
            assertEquals(0, one._getArtwork());  // no file behind it
            assertNotNull(one.getTitle());
        }
    }
}
