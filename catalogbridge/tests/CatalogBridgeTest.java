import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.kestrane.itlibrary.ITLibAlbum;
import com.kestrane.itlibrary.ITLibArray;
import com.kestrane.itlibrary.ITLibArtist;
import com.kestrane.itlibrary.ITLibArtwork;
import com.kestrane.itlibrary.ITLibException;
import com.kestrane.itlibrary.ITLibMediaItem;
import com.kestrane.itlibrary.ITLibrary;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicLong;
import java.util.concurrent.atomic.AtomicReference;
import java.util.concurrent.atomic.AtomicReference;
import org.junit.jupiter.api.Test;

/** The music library through the Java peers; CTest names the library file (KESTRANE_MUSIC_LIBRARY). */
class CatalogBridgeTest {
    static final Path FILE = Path.of(System.getenv("KESTRANE_MUSIC_LIBRARY"));

    static String library(String tracks, String playlists) {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>\n"
                + "<key>Application Version</key><string>12.9.5</string>\n"
                + "<key>Show Content Ratings</key><true/>\n"
                + "<key>Music Folder</key><string>file:///home/user/Music/</string>\n"
                + "<key>Tracks</key><dict>" + tracks + "</dict>\n"
                + "<key>Playlists</key><array>" + playlists + "</array></dict></plist>\n";
    }

    static String track(int id, String persistentId, String more) {
        return "<key>" + id + "</key><dict><key>Track ID</key><integer>" + id + "</integer>"
                + "<key>Persistent ID</key><string>" + persistentId + "</string>" + more + "</dict>";
    }

    static ITLibrary open(String content) throws Exception {
        Files.createDirectories(FILE.getParent());
        Files.writeString(FILE, content, StandardCharsets.UTF_8);
        return new ITLibrary("1.1");
    }

    static final String FULL = "<key>Name</key><string>Lied &amp; Tanz \uD83C\uDFB5</string>"
            + "<key>Sort Name</key><string>Lied</string><key>Artist</key><string>Ärzte</string>"
            + "<key>Album</key><string>Best Of</string><key>Composer</key><string>Bach</string>"
            + "<key>Sort Composer</key><string>Bach, J.</string><key>Genre</key><string>Pop</string>"
            + "<key>Kind</key><string>MPEG audio file</string><key>Size</key><integer>5000000000</integer>"
            + "<key>Total Time</key><integer>234567</integer><key>Start Time</key><integer>1000</integer>"
            + "<key>Stop Time</key><integer>200000</integer><key>Track Number</key><integer>5</integer>"
            + "<key>Year</key><integer>1999</integer><key>BPM</key><integer>128</integer>"
            + "<key>Date Modified</key><date>2020-02-29T12:34:56Z</date>"
            + "<key>Date Added</key><date>1969-12-31T23:59:59Z</date>"
            + "<key>Bit Rate</key><integer>320</integer><key>Sample Rate</key><integer>44100</integer>"
            + "<key>Volume Adjustment</key><integer>-20</integer><key>Normalization</key><integer>1234</integer>"
            + "<key>Play Count</key><integer>42</integer><key>Play Date UTC</key><date>2021-01-01T00:00:00Z</date>"
            + "<key>Skip Count</key><integer>3</integer><key>Skip Date</key><date>2021-06-01T00:00:00Z</date>"
            + "<key>Release Date</key><date>1999-05-01T07:00:00Z</date><key>Rating</key><integer>80</integer>"
            + "<key>Rating Computed</key><true/><key>Artwork Count</key><integer>1</integer>"
            + "<key>Track Type</key><string>File</string>"
            + "<key>Location</key><string>file:///music/Lied%20%26%20Tanz.mp3</string>"
            + "<key>Comments</key><string>nice</string><key>Grouping</key><string>G</string>"
            + "<key>Category</key><string>Cat</string><key>Description</key><string>Desc</string>"
            + "<key>Content Rating</key><string>us-tv|TV-PG|400|</string><key>Purchased</key><true/>"
            + "<key>Protected</key><true/><key>Has Video</key><true/><key>Music Video</key><true/>"
            + "<key>Explicit</key><true/><key>Disabled</key><true/><key>Apple Music</key><true/>"
            + "<key>Unplayed</key><true/>";

    @Test
    void everyPropertyOfAFullyPopulatedTrack() throws Exception {
        ITLibrary lib = open(library(track(7, "FFFFFFFFFFFFFFFF", FULL), ""));
        assertEquals(1, lib.getAPIMajorVersion());
        assertEquals(1, lib.getAPIMinorVersion());
        assertEquals("12.9.5", lib.getApplicationVersion());
        assertEquals("file:///home/user/Music/", lib._getMusicFolderLocation());
        assertTrue(lib.isShowContentRating());
        try (ITLibArray items = lib.getAllMediaItems()) {
            assertEquals(1, items._size());
            ITLibMediaItem t = items.getMediaItem(0);
            assertEquals(Long.MAX_VALUE, t.getId());  // FFFFFFFFFFFFFFFF with bit 63 inverted
            assertEquals("Lied & Tanz \uD83C\uDFB5", t.getTitle());
            assertEquals("Lied", t.getSortTitle());
            assertEquals("Bach", t.getComposer());
            assertEquals("Bach, J.", t.getSortComposer());
            assertEquals(80, t.getRating());
            assertTrue(t.isRatingComputed());
            assertEquals(1000, t.getStartTime());
            assertEquals(200000, t.getStopTime());
            assertEquals("Pop", t.getGenre());
            assertEquals("MPEG audio file", t.getKind());
            assertEquals(7, t._getMediaKind());  // music video
            assertEquals(1, t._getLyricsContentRating());
            assertEquals(234567, t.getTotalTime());
            assertEquals(5, t.getTrackNumber());
            assertEquals("Cat", t.getCategory());
            assertEquals("Desc", t.getDescription());
            assertEquals("us-tv|TV-PG|400|", t.getContentRating());
            assertEquals(-1000, t._getAddedDate());  // before 1970
            assertEquals(1582979696000L, t._getModifiedDate());
            assertEquals(320, t.getBitRate());
            assertEquals(44100, t.getSampleRate());
            assertEquals(128, t.getBeatsPerMinute());
            assertEquals(42, t.getPlayCount());
            assertEquals(1609459200000L, t._getLastPlayedDate());
            assertEquals("file:///music/Lied%20%26%20Tanz.mp3", t._getLocation());
            assertEquals(1, t._getLocationType());
            assertTrue(t.isArtworkAvailable());
            assertEquals(0, t._getArtwork());
            assertEquals("nice", t.getComments());
            assertTrue(t.isPurchased());
            assertTrue(t.isDRMProtected());
            assertTrue(t.hasVideo());
            assertEquals(925542000000L, t._getReleaseDate());
            assertEquals(1999, t.getYear());
            assertEquals(3, t.getSkipCount());
            assertEquals(1622505600000L, t._getSkipDate());
            assertEquals(-20, t.getVolumeAdjustment());
            assertEquals(1234, t.getVolumeNormalizationEnergy());
            assertTrue(t.isUserDisabled());
            assertEquals("G", t.getGrouping());
            assertEquals(5000000000L, t.getFileSize());
            assertTrue(t.isCloud());
            assertEquals(2, t._getPlayStatus());
            assertEquals("128", t._getProperty("BPM"));
            assertEquals("1969-12-31 23:59:59 +0000", t._getProperty("Date Added"));
            assertEquals("Pop", t._getProperty("Genre"));
            assertNull(t._getProperty("No Such Key"));
            assertThrows(NullPointerException.class, () -> t._getProperty(null));

            ITLibArtist artist = new ITLibArtist(t._getArtist());
            assertNotEquals(0, artist.handle());
            assertEquals(artist.handle(), artist._retain());
            artist._release();
            ITLibAlbum album = new ITLibAlbum(t._getAlbum());
            assertNotEquals(0, album.handle());
            assertEquals(album.handle(), album._retain());
            album._release();
        }
    }

    // Short texts read again and again come back whole, whichever thread reads them and however
    // often threads come and go: the empty text, a prefix of another, non-ASCII, the longest
    // text that is kept per thread and one byte more.
    @Test
    void repeatedTextsReadTheSameFromThreadsThatComeAndGo() throws Exception {
        String[] genres = {"", "Pop", "Pops", "\u00e9t\u00e9 \uD83C\uDFB5", "x".repeat(32), "y".repeat(33), "Pop"};
        StringBuilder tracks = new StringBuilder();
        for (int i = 0; i < 60; i++) {
            tracks.append(track(i + 1, String.format("%016X", i + 1),
                    "<key>Genre</key><string>" + genres[i % genres.length] + "</string>"));
        }
        ITLibrary lib = open(library(tracks.toString(), ""));
        for (int round = 0; round < 6; round++) {
            AtomicReference<Throwable> failure = new AtomicReference<>();
            Thread[] readers = new Thread[2];
            for (int t = 0; t < readers.length; t++) {
                readers[t] = new Thread(() -> {
                    try (ITLibArray all = lib.getAllMediaItems()) {
                        for (int pass = 0; pass < 3; pass++) {
                            for (int i = 0; i < all._size(); i++) {
                                assertEquals(genres[i % genres.length], all.getMediaItem(i).getGenre(), "item " + i);
                            }
                        }
                    } catch (Throwable e) {
                        failure.set(e);
                    }
                });
                readers[t].start();
            }
            for (Thread reader : readers) reader.join();
            if (failure.get() != null) throw new AssertionError(failure.get());
        }
    }

    @Test
    void missingAndEmptyValuesAndPersistentIds() throws Exception {
        ITLibrary lib = open(library(
                track(1, "0000000000000001", "<key>Name</key><string>first</string>")
                + track(2, "8000000000000005", "<key>Name</key><string></string>")
                + track(3, "8000000000000000", "")
                + track(4, "0000000000000001", "<key>Name</key><string>second with the same id</string>"), ""));
        assertEquals("first", ITLibMediaItem.class.cast(new ITLibMediaItem(lib._getMediaItem(Long.MIN_VALUE + 1))).getTitle());
        ITLibMediaItem five = new ITLibMediaItem(lib._getMediaItem(5));
        assertEquals("", five.getTitle());  // empty, not null
        assertEquals(5, five.getId());
        ITLibMediaItem three = new ITLibMediaItem(lib._getMediaItem(0));  // 2^63 maps to 0 like no ID
        assertNull(three.getTitle());
        assertEquals(0, three.getId());
        assertEquals(0, lib._getMediaItem(12345));
        assertEquals(0, three._getAddedDate());
        assertEquals(0, three._getArtist());
        assertEquals(2, three._getMediaKind());  // a plain audio track is a song
    }

    @Test
    void zeroHandlesAnswerWithZeros() throws Exception {
        ITLibrary none = ITLibrary.ofHandle(0);
        assertNull(none.getApplicationVersion());
        assertNull(none._getMusicFolderLocation());
        assertFalse(none.isShowContentRating());
        assertFalse(none._reloadData());
        none._unloadData();
        assertEquals(0, none.getAPIMajorVersion());
        assertEquals(0, none.getAPIMinorVersion());
        assertEquals(0, none._getAllMediaItems());
        assertEquals(0, none._getAllPlaylists());
        assertEquals(0, none._getMediaItem(1));
        assertEquals(0, none._artworkForMediaFile("file:///x.mp3"));
        ITLibArray array = new ITLibArray(0);
        assertEquals(0, array._size());
        assertEquals(0, array._get(0));
        assertEquals(0, array._retain());
        array._release();
        assertEquals(0, new ITLibAlbum(0)._retain());
        assertEquals(0, new ITLibArtist(0)._retain());
        assertEquals(0, new ITLibArtwork(0)._retain());
        new ITLibAlbum(0)._release();
        // Every property export of a media item answers a zero handle with its kind's zero.
        ITLibMediaItem zero = new ITLibMediaItem(0);
        int checked = 0;
        for (java.lang.reflect.Method m : ITLibMediaItem.class.getDeclaredMethods()) {
            if (!java.lang.reflect.Modifier.isNative(m.getModifiers()) || m.getParameterCount() != 0) continue;
            Object result = m.invoke(zero);
            if (result instanceof Boolean b) assertFalse(b, m.getName());
            else if (result instanceof Number n) assertEquals(0L, n.longValue(), m.getName());
            else assertNull(result, m.getName());
            checked++;
        }
        assertTrue(checked >= 46, "property natives checked: " + checked);
        ITLibMediaItem item = new ITLibMediaItem(0);
        assertEquals(0, item.getId());
        assertNull(item.getTitle());
        assertNull(item._getLocation());
        assertNull(item._getProperty("Name"));
        assertEquals(0, item.getRating());
        assertEquals(0, item.getFileSize());
        assertEquals(0, item._getAddedDate());
        assertEquals(0, item._getAlbum());
        assertEquals(0, item._getMediaKind());
        assertFalse(item.isCloud());
        assertFalse(item.hasVideo());
    }

    @Test
    void arrayIndexEdges() throws Exception {
        ITLibrary lib = open(library(track(1, "00000000000000AA", ""), ""));
        try (ITLibArray items = lib.getAllMediaItems()) {
            assertEquals(1, items._size());
            assertNotEquals(0, items._get(0));
            assertEquals(0, items._get(-1));
            assertEquals(0, items._get(1));
        }
        try (ITLibArray playlists = lib.getAllPlaylists()) {
            assertEquals(0, playlists._size());
            assertEquals(0, playlists._get(0));
        }
    }

    @Test
    void openFailuresThrowITLibExceptionWithTheReason() throws Exception {
        Files.createDirectories(FILE.getParent());
        Files.writeString(FILE, library("", ""));
        ITLibException refused = assertThrows(ITLibException.class, () -> new ITLibrary("3.0"));
        assertTrue(refused.getMessage().contains("1.0 and 1.1"), refused.getMessage());
        Files.delete(FILE);
        ITLibException missing = assertThrows(ITLibException.class, () -> new ITLibrary("1.1"));
        assertTrue(missing.getMessage().contains(FILE.toString()), missing.getMessage());
        Files.writeString(FILE, "<plist><dict>\n<key>Tracks</key>\n<dict><key>1</key><string>x</dict></dict></plist>");
        ITLibException malformed = assertThrows(ITLibException.class, () -> new ITLibrary("1.0"));
        assertTrue(malformed.getMessage().contains("line 3, column"), malformed.getMessage());
        assertThrows(NullPointerException.class, () -> new ITLibrary(null));
    }

    @Test
    void anEmptyFirstFetchReloadsOnce() throws Exception {
        ITLibrary lib = open(library("", ""));
        Files.writeString(FILE, library(track(1, "0000000000000001", "") + track(2, "0000000000000002", ""), ""));
        try (ITLibArray items = lib.getAllMediaItems()) {
            assertEquals(2, items._size());  // empty at first: reloaded, and the new list returned
        }
        Files.writeString(FILE, library(track(1, "0000000000000001", ""), ""));
        try (ITLibArray items = lib.getAllMediaItems()) {
            assertEquals(2, items._size());  // not empty: no reload
        }
        assertTrue(lib._reloadData());
        try (ITLibArray items = lib.getAllMediaItems()) {
            assertEquals(1, items._size());
        }
    }

    @Test
    void reloadsWhileFourThreadsReadForTwoSeconds() throws Exception {
        StringBuilder tracks = new StringBuilder();
        for (int i = 0; i < 500; i++) {
            tracks.append(track(i, String.format("%016X", 1000 + i), "<key>Name</key><string>track " + i
                    + "</string><key>Artist</key><string>artist " + (i % 9) + "</string><key>Album</key><string>album "
                    + (i % 13) + "</string><key>Date Added</key><date>2001-01-01T00:00:00Z</date>"));
        }
        ITLibrary lib = open(library(tracks.toString(), ""));
        AtomicBoolean stop = new AtomicBoolean();
        AtomicLong reads = new AtomicLong();
        AtomicReference<Throwable> failure = new AtomicReference<>();
        List<Thread> threads = new ArrayList<>();
        for (int t = 0; t < 4; t++) {
            threads.add(new Thread(() -> {
                try {
                    while (!stop.get()) {
                        try (ITLibArray items = lib.getAllMediaItems()) {
                            int n = items._size();
                            for (int i = 0; i < n; i++) {
                                ITLibMediaItem item = items.getMediaItem(i);
                                if (!item.getTitle().startsWith("track ") || item._getAddedDate() != 978307200000L
                                        || item._getArtist() == 0) {
                                    throw new AssertionError("wrong values at " + i);
                                }
                                reads.incrementAndGet();
                            }
                        }
                    }
                } catch (Throwable e) {
                    failure.compareAndSet(null, e);
                }
            }));
        }
        threads.add(new Thread(() -> {
            // The same race runs in C++ under the sanitizers (library_test) and, mixed with other
            // calls, in the stress test; here it is the peers' references that are raced.
            long end = System.currentTimeMillis() + 2_000;
            int i = 0;
            while (System.currentTimeMillis() < end) {
                if (i++ % 10 == 9) lib._unloadData();
                else lib._reloadData();
            }
            stop.set(true);
        }));
        threads.forEach(Thread::start);
        for (Thread t : threads) t.join();
        if (failure.get() != null) throw new AssertionError(failure.get());
        assertTrue(reads.get() > 2_000, "reads: " + reads.get());
    }
}
