import com.kestrane.itlibrary.ITLibArray;
import com.kestrane.itlibrary.ITLibrary;

/**
 * Change tracking from Java on the library named by KESTRANE_MUSIC_LIBRARY: nanoseconds per
 * call (best of several after warm-up) of _getLastItemModification, _getMediaItemsChangedSince
 * (with a moment before every item, so that all come back), getMediaItemIds and
 * getPlaylistHash. Prints "CHANGE_NS <what> <ns>" lines, and "ALLOC_NS mediaItemIds <ns>": what Java
 * itself takes to make a long[] of that many elements, which every getMediaItemIds call pays.
 */
public final class ChangeTrackingJniBench {
    static long[] kept;

    interface Call {
        long run() throws Exception;
    }

    static double best(Call call) throws Exception {
        double best = Double.MAX_VALUE;
        long sink = 0;
        for (int round = 0; round < 40; round++) {
            long start = System.nanoTime();
            sink += call.run();
            double ns = System.nanoTime() - start;
            if (round >= 5) best = Math.min(best, ns);
        }
        if (sink == 42) System.out.print("");
        return best;
    }

    public static void main(String[] args) throws Exception {
        ITLibrary library = new ITLibrary("1.1");
        System.out.printf("CHANGE_NS lastItemModification %.0f%n", best(library::_getLastItemModification));
        System.out.printf("CHANGE_NS mediaItemsChangedSince %.0f%n", best(() -> {
            try (ITLibArray changed = library.getMediaItemsChangedSince(Long.MIN_VALUE)) {
                return changed._size();
            }
        }));
        System.out.printf("CHANGE_NS mediaItemIds %.0f%n", best(() -> library.getMediaItemIds().length));
        int n = library.getMediaItemIds().length;
        System.out.printf("ALLOC_NS mediaItemIds %.0f%n", best(() -> (kept = new long[n]).length));
        System.out.printf("CHANGE_NS playlistHash %.0f%n", best(library::getPlaylistHash));
    }
}
