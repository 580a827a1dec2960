import com.kestrane.itlibrary.ITLibArray;
import com.kestrane.itlibrary.ITLibMediaItem;
import com.kestrane.itlibrary.ITLibrary;
import java.util.Arrays;
import java.util.function.ToLongFunction;

/**
 * The Java side reading media-item properties of the library named by KESTRANE_MUSIC_LIBRARY:
 * nanoseconds per native call, best of several passes after warm-up.
 *   INT_NS, STRING_NS        one integer property (getYear), one short string property
 *                            (getGenre), read again and again from 1,000 items: the cost of a
 *                            call itself, with the items' data in the processor's caches
 *   INT_SWEEP_NS, STRING_SWEEP_NS   the same once over every item of the library, where
 *                            fetching each item's data from memory dominates
 *   JNI_NS_PER_CALL          ten mixed properties of every item (the application's pattern)
 *   LOAD_SECONDS             opening the library (the file read into the catalogue), once
 *   PEAK_ADDED_BYTES         the process's peak resident memory during that, above what it
 *                            held before
 * With the argument "load" only the library is opened and LOAD_SECONDS printed.
 */
public final class LibraryJniBench {
    /** Best nanoseconds per call of reader over items, repeated rounds times a pass. */
    static double best(ITLibMediaItem[] items, int rounds, int callsPerItem, ToLongFunction<ITLibMediaItem> reader) {
        double best = Double.MAX_VALUE;
        long sink = 0;
        for (int pass = 0; pass < 8; pass++) {
            long start = System.nanoTime();
            for (int r = 0; r < rounds; r++) {
                for (ITLibMediaItem item : items) sink += reader.applyAsLong(item);
            }
            double ns = (System.nanoTime() - start) / ((double) items.length * rounds * callsPerItem);
            if (pass >= 3) best = Math.min(best, ns);  // the first passes warm up the JIT
        }
        if (sink == 42) System.out.print("");
        return best;
    }

    /** A field of /proc/self/status in kilobytes, 0 when it cannot be read. */
    static long statusKilobytes(String field) {
        try {
            for (String line : java.nio.file.Files.readAllLines(java.nio.file.Path.of("/proc/self/status"))) {
                if (line.startsWith(field)) return Long.parseLong(line.substring(field.length()).replace("kB", "").trim());
            }
        } catch (java.io.IOException | NumberFormatException e) {
            // no figure
        }
        return 0;
    }

    public static void main(String[] args) throws Exception {
        Class.forName("com.kestrane.itlibrary.ITLibrary");  // the native library loads outside the timing
        // The peak from here on: writing 5 to clear_refs starts the process's peak resident
        // size again from what it holds now.
        try (java.io.FileWriter reset = new java.io.FileWriter("/proc/self/clear_refs")) {
            reset.write("5");
        } catch (java.io.IOException e) {
            // an older kernel: the peak then counts from the process's start
        }
        long residentBefore = statusKilobytes("VmRSS:");
        long loadStart = System.nanoTime();
        ITLibrary library = new ITLibrary("1.1");
        System.out.printf("LOAD_SECONDS %.4f%n", (System.nanoTime() - loadStart) / 1e9);
        System.out.printf("PEAK_ADDED_BYTES %d%n", (statusKilobytes("VmHWM:") - residentBefore) * 1024);
        if (args.length > 0 && args[0].equals("load")) return;
        try (ITLibArray all = library.getAllMediaItems()) {
            int n = all._size();
            ITLibMediaItem[] items = new ITLibMediaItem[n];
            for (int i = 0; i < n; i++) items[i] = all.getMediaItem(i);
            ITLibMediaItem[] few = Arrays.copyOf(items, Math.min(n, 1000));

            ToLongFunction<ITLibMediaItem> year = ITLibMediaItem::getYear;
            ToLongFunction<ITLibMediaItem> genre = item -> item.getGenre().length();
            System.out.printf("INT_NS %.1f%n", best(few, 100, 1, year));
            System.out.printf("STRING_NS %.1f%n", best(few, 100, 1, genre));
            System.out.printf("INT_SWEEP_NS %.1f%n", best(items, 1, 1, year));
            System.out.printf("STRING_SWEEP_NS %.1f%n", best(items, 1, 1, genre));
            System.out.printf("JNI_NS_PER_CALL %.1f%n", best(items, 1, 10, item -> item.getTitle().length()
                    + item.getGenre().length() + item._getLocation().length() + item.getId() + item.getTotalTime()
                    + item.getYear() + item._getAddedDate() + item._getModifiedDate() + item.getPlayCount()
                    + item._getArtist()));
            System.out.printf("ITEMS %d%n", n);
        }
    }
}
