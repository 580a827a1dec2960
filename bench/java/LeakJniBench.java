import com.kestrane.core.lang.SpellCheckerOSX;
import com.kestrane.core.osx.ProcessInfo;
import com.kestrane.core.osx.UserNotificationCenter;
import com.kestrane.itlibrary.ITLibArray;
import com.kestrane.itlibrary.ITLibrary;
import com.kestrane.sonvekt.math.NativeFFT;
import com.kestrane.sonvekt.player.AVPlayer;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.LinkedHashMap;
import java.util.Map;

/**
 * Create/use/destroy loops per handle kind, for bench/leak_bench.py: after a warm-up, the
 * growth of resident memory, open descriptors and threads per 1,000 cycles. Memory is measured
 * over two windows of cycles and the smaller growth counts: a leak grows both, while the
 * process's own settling (code compiled, pools filled) shows in one only.
 * Usage: LeakJniBench <tone.wav URL> <cycles> [<cycles of the slow kinds>]
 */
public final class LeakJniBench {
    interface Cycle {
        void run() throws Exception;
    }

    static long residentKb() throws IOException {
        for (String line : Files.readAllLines(Path.of("/proc/self/status"))) {
            if (line.startsWith("VmRSS:")) return Long.parseLong(line.replaceAll("[^0-9]", ""));
        }
        return -1;
    }

    static long count(String folder) throws IOException {
        try (var entries = Files.list(Path.of(folder))) {
            return entries.count();
        }
    }

    static void settle() throws InterruptedException {
        for (int i = 0; i < 3; i++) {
            System.gc();
            Thread.sleep(100);
        }
    }

    static void measure(String kind, int cycles, Cycle cycle) throws Exception {
        for (int i = 0; i < cycles; i++) cycle.run();  // warm-up: pools, caches and compiled code settle
        settle();
        long rss0 = residentKb(), fd0 = count("/proc/self/fd"), th0 = count("/proc/self/task");
        for (int i = 0; i < cycles; i++) cycle.run();
        settle();
        long rssMid = residentKb(), fdMid = count("/proc/self/fd"), thMid = count("/proc/self/task");
        for (int i = 0; i < cycles; i++) cycle.run();
        settle();
        long rss1 = residentKb(), fd1 = count("/proc/self/fd"), th1 = count("/proc/self/task");
        double perThousand = Math.min(rssMid - rss0, rss1 - rssMid) * 1000.0 / cycles;
        long fds = Math.min(fdMid - fd0, fd1 - fdMid), threads = Math.min(thMid - th0, th1 - thMid);
        System.out.printf("%-14s %7d cycles  rss %+8.1f kB per 1000  descriptors %+d  threads %+d  %s%n", kind, cycles,
                perThousand, fds, threads, perThousand < 10 && fds <= 0 && threads <= 0 ? "flat" : "GROWS");
    }

    public static void main(String[] args) throws Exception {
        String tone = args[0];
        int cycles = Integer.parseInt(args[1]);
        int slowCycles = args.length > 2 ? Integer.parseInt(args[2]) : Math.max(1000, cycles / 20);
        ITLibrary library = new ITLibrary("1.1");
        Map<String, Cycle> kinds = new LinkedHashMap<>();
        kinds.put("fft setup", () -> {
            long setup = NativeFFT.init(1024);
            NativeFFT.realFFT(setup, true, 1024, new float[1024], null);
            NativeFFT.destroy(setup);
        });
        kinds.put("library lists", () -> {
            try (ITLibArray items = library.getAllMediaItems()) {
                items.getMediaItem(0).getTitle();
            }
            try (ITLibArray playlists = library.getAllPlaylists()) {
                playlists._size();
            }
        });
        kinds.put("library reload", () -> library._reloadData());
        kinds.put("activity", () -> ProcessInfo.nativeEndActivity(ProcessInfo.nativeBeginActivityWithOptions(1L << 20, "bench")));
        kinds.put("notification", () -> UserNotificationCenter.nativeDeliverNotification("t", null, "b", null, new byte[] {1, 2}));
        kinds.put("spell check", () -> {
            SpellCheckerOSX.nativeCheck("A sentense with a mistake.", 0, "en_US");
            SpellCheckerOSX.nativeGuesses("sentense", 0, 8, "en_US");
        });
        kinds.put("player", () -> {
            long p = AVPlayer.open(tone);
            AVPlayer.start(p);
            AVPlayer.getTime(p);
            AVPlayer.close(p);
        });
        for (var kind : kinds.entrySet()) {
            // Players, reloads and spelling suggestions cost milliseconds each: fewer cycles.
            String name = kind.getKey();
            int n = name.equals("player") || name.equals("library reload") || name.equals("spell check") ? slowCycles : cycles;
            measure(kind.getKey(), n, kind.getValue());
        }
        Runtime.getRuntime().halt(0);
    }

    private LeakJniBench() {}
}
