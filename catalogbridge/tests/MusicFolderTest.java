import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.kestrane.itlibrary.ITLibArray;
import com.kestrane.itlibrary.ITLibMediaItem;
import com.kestrane.itlibrary.ITLibPlaylist;
import com.kestrane.itlibrary.ITLibrary;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Comparator;
import java.util.stream.Stream;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * A music folder (KESTRANE_MUSIC_LIBRARY names a folder) through the Java peers: tracks with
 * the same properties as an exported library's, the master playlist, a playlist file, and a
 * reload that sees a new file while the others keep their IDs.
 */
class MusicFolderTest {
    static Path music;

    /** A 16-bit mono WAV file of one second of a tone. */
    static void writeWav(Path file, double hz) throws Exception {
        int rate = 8000, samples = rate;
        ByteBuffer b = ByteBuffer.allocate(44 + 2 * samples).order(ByteOrder.LITTLE_ENDIAN);
        b.put("RIFF".getBytes(StandardCharsets.US_ASCII)).putInt(36 + 2 * samples)
         .put("WAVEfmt ".getBytes(StandardCharsets.US_ASCII)).putInt(16).putShort((short) 1).putShort((short) 1)
         .putInt(rate).putInt(2 * rate).putShort((short) 2).putShort((short) 16)
         .put("data".getBytes(StandardCharsets.US_ASCII)).putInt(2 * samples);
        for (int i = 0; i < samples; i++) b.putShort((short) (8000 * Math.sin(2 * Math.PI * hz * i / rate)));
        Files.createDirectories(file.getParent());
        Files.write(file, b.array());
    }

    @BeforeAll
    static void makeFolder() throws Exception {
        music = Path.of(System.getenv("KESTRANE_MUSIC_LIBRARY"));
        if (Files.exists(music)) {
            try (Stream<Path> all = Files.walk(music)) {
                all.sorted(Comparator.reverseOrder()).forEach(p -> p.toFile().delete());
            }
        }
        writeWav(music.resolve("Singer/First Song.wav"), 440);
        writeWav(music.resolve("Singer/Second Song.wav"), 660);
        Files.writeString(music.resolve("Road Trip.m3u8"), "#EXTM3U\nSinger/Second Song.wav\nSinger/missing.wav\n");
    }

    @Test
    void tracksPlaylistsAndAReload() throws Exception {
        ITLibrary library = new ITLibrary("1.1");
        try (ITLibArray items = library.getAllMediaItems(); ITLibArray playlists = library.getAllPlaylists()) {
            assertEquals(2, items._size());
            ITLibMediaItem first = items.getMediaItem(0);
            assertEquals("First Song", first.getTitle());
            assertEquals("WAV audio file", first.getKind());
            assertEquals(1000, first.getTotalTime(), 50);
            assertEquals(8000, first.getSampleRate());
            assertEquals("file://" + music.resolve("Singer/First%20Song.wav"), first._getLocation());
            assertEquals(1, first._getLocationType());  // a file
            assertEquals("File", first._getProperty("Track Type"));
            assertEquals(0, first._getAlbum());  // no album tag
            assertEquals(2, playlists._size());
            ITLibPlaylist master = playlists.getPlaylist(0);
            assertTrue(master.isMaster());
            ITLibPlaylist trip = playlists.getPlaylist(1);
            assertEquals("Road Trip", trip.getName());
            try (ITLibArray tripItems = new ITLibArray(new ITLibArray(trip._getItems())._retain())) {
                assertEquals(1, tripItems._size());
                assertEquals("Second Song", tripItems.getMediaItem(0).getTitle());
            }
            long firstId = first.getId();

            writeWav(music.resolve("Singer/Third Song.wav"), 880);
            library._reloadData();
            try (ITLibArray again = library.getAllMediaItems()) {
                assertEquals(3, again._size());
                assertEquals(firstId, again.getMediaItem(0).getId());
                assertNotEquals(firstId, again.getMediaItem(2).getId());
            }
        }
    }
}
