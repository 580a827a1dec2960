import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.kestrane.sonvekt.player.AVPlayer;
import java.io.FileNotFoundException;
import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.function.BooleanSupplier;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/** AVPlayer through JNI, on generated WAV files played to fakesink (KESTRANE_AUDIO_SINK). */
class AVPlayerTest {
    static Path dir;
    static String tone;

    static void writeWav(Path path, double seconds) throws IOException {
        int rate = 44100, frames = (int) (seconds * rate), bytes = frames * 2;
        ByteBuffer b = ByteBuffer.allocate(44 + bytes).order(ByteOrder.LITTLE_ENDIAN);
        b.put("RIFF".getBytes()).putInt(36 + bytes).put("WAVEfmt ".getBytes()).putInt(16).putShort((short) 1)
                .putShort((short) 1).putInt(rate).putInt(rate * 2).putShort((short) 2).putShort((short) 16)
                .put("data".getBytes()).putInt(bytes);
        for (int i = 0; i < frames; i++) b.putShort((short) (800 * Math.sin(2 * Math.PI * 440 * i / rate)));
        Files.write(path, b.array());
    }

    @BeforeAll
    static void makeFiles() throws IOException {
        dir = Files.createTempDirectory("avplayer");
        writeWav(dir.resolve("tone 2.5s.wav"), 2.5);
        tone = dir.resolve("tone 2.5s.wav").toUri().toString();
        Files.writeString(dir.resolve("notes.txt"), "This is not audio at all, only text.\n");
    }

    @AfterAll
    static void removeFiles() throws IOException {
        try (var files = Files.walk(dir)) {
            files.sorted(java.util.Comparator.reverseOrder()).forEach(p -> p.toFile().delete());
        }
    }

    static boolean eventually(BooleanSupplier condition, long millis) throws InterruptedException {
        long end = System.currentTimeMillis() + millis;
        while (System.currentTimeMillis() < end) {
            if (condition.getAsBoolean()) return true;
            Thread.sleep(10);
        }
        return condition.getAsBoolean();
    }

    @Test
    void openFailuresBecomeTheRightExceptions() {
        var missing = assertThrows(FileNotFoundException.class,
                () -> AVPlayer.open(dir.resolve("missing.wav").toUri().toString()));
        assertNotNull(missing.getMessage());
        var notMedia = assertThrows(IOException.class, () -> AVPlayer.open(dir.resolve("notes.txt").toUri().toString()));
        assertFalse(notMedia instanceof FileNotFoundException);
        assertNotNull(notMedia.getMessage());
        for (String text : new String[] {"nosuchscheme://x", "not a uri", dir.resolve("tone 2.5s.wav").toString()}) {
            long start = System.nanoTime();
            var e = assertThrows(IOException.class, () -> AVPlayer.open(text));
            assertEquals("Asset is not playable.", e.getMessage());
            assertTrue(System.nanoTime() - start < 500_000_000L, "no waiting for " + text);
        }
        assertThrows(NullPointerException.class, () -> AVPlayer.open(null));
        // An unknown host is a failure to load, not a missing local file.
        var unknownHost = assertThrows(IOException.class, () -> AVPlayer.open("http://no.such.host.invalid/a.mp3"));
        assertFalse(unknownHost instanceof FileNotFoundException, unknownHost.toString());
    }

    @Test
    void oddNumbersAreIgnoredOrHeldToTheRange() throws Exception {
        long p = AVPlayer.open(tone);
        try {
            AVPlayer.setVolume(p, 0.25f);
            AVPlayer.setVolume(p, Float.NaN);  // ignored
            assertEquals(0.25f, AVPlayer.getVolume(p));
            AVPlayer.setVolume(p, Float.POSITIVE_INFINITY);  // held to the range
            assertEquals(10f, AVPlayer.getVolume(p));
            for (float rate : new float[] {Float.NaN, Float.POSITIVE_INFINITY, Float.NEGATIVE_INFINITY}) {
                AVPlayer.playImmediatelyAtRate(p, rate);  // ignored: the states agree that nothing plays
                assertFalse(AVPlayer.isPlaying(p));
                assertEquals(0, AVPlayer.getTimeControlStatus(p));
            }
            AVPlayer.setTime(p, Long.MAX_VALUE);  // past the end: the end
            assertTrue(eventually(() -> AVPlayer.getTime(p) == 2500, 3000), "time " + AVPlayer.getTime(p));
            AVPlayer.setTime(p, -1);  // before the start: the start
            assertTrue(eventually(() -> AVPlayer.getTime(p) == 0, 3000), "time " + AVPlayer.getTime(p));
        } finally {
            AVPlayer.close(p);
        }
    }

    @Test
    void playbackSeekVolumeAndTheEnd() throws Exception {
        long p = AVPlayer.open(tone);
        try {
            assertFalse(AVPlayer.isPlaying(p));
            assertEquals(0, AVPlayer.getTime(p));
            assertEquals(1, AVPlayer.getStatus(p));
            assertEquals(2500, AVPlayer.getDuration(p));
            assertNull(AVPlayer.getError(p));

            AVPlayer.setTime(p, 250);
            assertTrue(eventually(() -> AVPlayer.getTime(p) == 250, 3000));
            AVPlayer.start(p);
            assertTrue(AVPlayer.isPlaying(p));
            assertTrue(eventually(() -> AVPlayer.getTimeControlStatus(p) == 2, 3000));
            assertNull(AVPlayer.getReasonForWaitingToPlay(p));
            Thread.sleep(500);
            long t = AVPlayer.getTime(p);
            assertTrue(t > 250 + 300 && t < 250 + 900, "time after half a second: " + t);
            AVPlayer.stop(p);
            assertFalse(AVPlayer.isPlaying(p));
            assertEquals(0, AVPlayer.getTimeControlStatus(p));

            AVPlayer.setVolume(p, 0.5f);
            assertEquals(0.5f, AVPlayer.getVolume(p));
            AVPlayer.setMuted(p, true);
            assertTrue(AVPlayer.isMuted(p));

            AVPlayer.setTime(p, 2300);
            assertTrue(eventually(() -> AVPlayer.getTime(p) == 2300, 3000));
            AVPlayer.playImmediatelyAtRate(p, 1.0f);
            assertTrue(eventually(() -> !AVPlayer.isPlaying(p), 3000));
            assertEquals(2500, AVPlayer.getTime(p));  // paused at the end

            AVPlayer.reset(p);
            assertTrue(eventually(() -> AVPlayer.getTime(p) == 0, 3000));
        } finally {
            AVPlayer.close(p);
        }
    }

    static long count(String folder) throws IOException {
        try (var s = Files.list(Path.of(folder))) {
            return s.count();
        }
    }

    @Test
    void twoHundredPlayersLeaveNoThreadsOrDescriptors() throws Exception {
        for (int i = 0; i < 3; i++) AVPlayer.close(AVPlayer.open(tone));  // warm-up
        long threads = count("/proc/self/task"), fds = count("/proc/self/fd");
        for (int i = 0; i < 200; i++) AVPlayer.close(AVPlayer.open(tone));
        // A player that left anything behind would leave 200 of it; the small slack is for the
        // JVM, which starts and stops compiler threads of its own as it likes.
        final int slack = 4;
        assertTrue(eventually(() -> {
            try {
                return count("/proc/self/task") <= threads + slack;
            } catch (IOException e) {
                return false;
            }
        }, 5000), "threads left behind");
        assertTrue(count("/proc/self/fd") <= fds + slack, "file descriptors left behind");
    }
}
