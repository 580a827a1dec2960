package com.kestrane.stress;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.kestrane.itlibrary.ITLibArray;
import com.kestrane.itlibrary.ITLibrary;
import com.kestrane.sonvekt.math.NativeFFT;
import com.kestrane.sonvekt.player.AVPlayer;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Random;
import java.util.concurrent.ConcurrentLinkedQueue;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicLong;
import org.junit.jupiter.api.Test;

/**
 * Six threads of mixed calls on all three libraries for a while (20 s, or the seconds in
 * kestrane.stress.seconds), with library reloads and players opened and closed, each result
 * checked; and the first player of fresh JVMs opened while another thread walks every
 * thread's stack, which GStreamer's segfault trap once turned into an exit.
 */
class StressTest {
    static Path dir;

    static Path wav(String name, int samples) throws Exception {
        ByteBuffer b = ByteBuffer.allocate(44 + 2 * samples).order(ByteOrder.LITTLE_ENDIAN);
        b.put("RIFF".getBytes(StandardCharsets.US_ASCII)).putInt(36 + 2 * samples)
         .put("WAVEfmt ".getBytes(StandardCharsets.US_ASCII)).putInt(16).putShort((short) 1).putShort((short) 1)
         .putInt(8000).putInt(16000).putShort((short) 2).putShort((short) 16)
         .put("data".getBytes(StandardCharsets.US_ASCII)).putInt(2 * samples);
        for (int i = 0; i < samples; i++) b.putShort((short) (3000 * Math.sin(i * 0.3)));
        Path file = dir.resolve(name);
        Files.write(file, b.array());
        return file;
    }

    /** A library file of n tracks named "Track i". */
    static void writeLibrary(Path file, int n) throws Exception {
        StringBuilder xml = new StringBuilder("<plist version=\"1.0\"><dict><key>Tracks</key><dict>");
        for (int i = 1; i <= n; i++) {
            xml.append("<key>").append(i).append("</key><dict><key>Track ID</key><integer>").append(i)
               .append("</integer><key>Name</key><string>Track ").append(i)
               .append("</string><key>Total Time</key><integer>").append(1000 * i).append("</integer></dict>");
        }
        xml.append("</dict></dict></plist>");
        Files.writeString(file, xml);
    }

    @Test
    void sixThreadsOfMixedCalls() throws Exception {
        dir = Files.createTempDirectory("stress");
        writeLibrary(Path.of(System.getenv("KESTRANE_MUSIC_LIBRARY")), 300);
        String tone = wav("tone.wav", 4000).toUri().toString();
        long seconds = Long.getLong("kestrane.stress.seconds", 20);
        long end = System.nanoTime() + TimeUnit.SECONDS.toNanos(seconds);
        ITLibrary library = new ITLibrary("1.1");
        ConcurrentLinkedQueue<Throwable> failures = new ConcurrentLinkedQueue<>();
        AtomicLong rounds = new AtomicLong();
        List<Thread> threads = new ArrayList<>();
        for (int t = 0; t < 6; t++) {
            final int kind = t % 3;
            final Random random = new Random(t);
            Thread thread = new Thread(() -> {
                try {
                    while (System.nanoTime() < end) {
                        switch (kind) {
                            case 0 -> fftRoundTrip(random);
                            case 1 -> libraryRound(library, random);
                            default -> playerRound(tone);
                        }
                        rounds.incrementAndGet();
                    }
                } catch (Throwable e) {
                    failures.add(e);
                }
            });
            thread.start();
            threads.add(thread);
        }
        for (Thread t : threads) t.join();
        if (!failures.isEmpty()) throw new AssertionError("failures: " + failures, failures.peek());
        System.out.println("stress: " + rounds.get() + " rounds on 6 threads in " + seconds + " s");
        assertTrue(rounds.get() > 60);
    }

    static void fftRoundTrip(Random random) {
        int n = 1 << (4 + random.nextInt(8));
        float[] x = new float[n];
        for (int i = 0; i < n; i++) x[i] = random.nextFloat() - 0.5f;
        long setup = NativeFFT.init(n);
        try {
            float[][] spectrum = NativeFFT.realFFT(setup, true, n, x, null);
            float[][] back = NativeFFT.realFFT(setup, false, n, spectrum[0], spectrum[1]);
            for (int i = 0; i < n; i++) {
                if (Math.abs(back[0][i] - x[i]) > 1e-4) throw new AssertionError("round trip of " + n + " at " + i);
            }
        } finally {
            NativeFFT.destroy(setup);
        }
    }

    static void libraryRound(ITLibrary library, Random random) {
        if (random.nextInt(20) == 0) assertTrue(library._reloadData());
        try (ITLibArray items = library.getAllMediaItems()) {
            assertEquals(300, items._size());
            int i = random.nextInt(300);
            var item = items.getMediaItem(i);
            assertEquals("Track " + (i + 1), item.getTitle());
            assertEquals(1000L * (i + 1), item.getTotalTime());
        }
    }

    static void playerRound(String tone) throws Exception {
        long p = AVPlayer.open(tone);
        try {
            AVPlayer.setVolume(p, 0.5f);
            AVPlayer.start(p);
            AVPlayer.setTime(p, 100);
            assertEquals(500, AVPlayer.getDuration(p));
            assertEquals(0.5f, AVPlayer.getVolume(p));
        } finally {
            AVPlayer.close(p);
        }
    }

    /** The child of firstPlayerWhileStacksAreWalked. */
    public static void main(String[] args) throws Exception {
        dir = Files.createTempDirectory("stress-child");
        String tone = wav("tone.wav", 4000).toUri().toString();
        Thread walker = new Thread(() -> {
            while (true) {
                Thread.getAllStackTraces();
                System.gc();
            }
        });
        walker.setDaemon(true);
        walker.start();
        AVPlayer.close(AVPlayer.open(tone));
        System.out.println("survived");
        Runtime.getRuntime().halt(0);
    }

    @Test
    void firstPlayerWhileStacksAreWalked() throws Exception {
        String java = Path.of(System.getProperty("java.home"), "bin", "java").toString();
        for (int run = 0; run < 5; run++) {
            Process child = new ProcessBuilder(java, "-Dkestrane.native.dir=" + System.getProperty("kestrane.native.dir"),
                    "-cp", System.getProperty("kestrane.test.classpath"), StressTest.class.getName())
                    .redirectErrorStream(true).start();
            String output = new String(child.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
            assertTrue(child.waitFor(60, TimeUnit.SECONDS));
            assertEquals(0, child.exitValue(), output);
            assertTrue(output.contains("survived"), output);
        }
    }
}
