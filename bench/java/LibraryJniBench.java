import com.kestrane.itlibrary.ITLibArray;
import com.kestrane.itlibrary.ITLibMediaItem;
import com.kestrane.itlibrary.ITLibrary;

/**
 * The Java side reading ten properties of every media item of the library named by
 * KESTRANE_MUSIC_LIBRARY: nanoseconds per native call (best of several passes after warm-up).
 */
public final class LibraryJniBench {
    public static void main(String[] args) throws Exception {
        ITLibrary library = new ITLibrary("1.1");
        try (ITLibArray items = library.getAllMediaItems()) {
            int n = items._size();
            double best = Double.MAX_VALUE;
            long sink = 0;
            for (int pass = 0; pass < 6; pass++) {
                long start = System.nanoTime();
                for (int i = 0; i < n; i++) {
                    ITLibMediaItem item = items.getMediaItem(i);  // one call (_get)
                    String title = item.getTitle();
                    String genre = item.getGenre();
                    String location = item._getLocation();
                    sink += item.getId() + item.getTotalTime() + item.getYear() + item._getAddedDate()
                            + item._getModifiedDate() + item.getPlayCount() + item._getArtist();
                    sink += title.length() + genre.length() + location.length();
                }
                long calls = 11L * n;  // _get and ten properties per item
                double ns = (System.nanoTime() - start) / (double) calls;
                if (pass >= 2) best = Math.min(best, ns);
            }
            System.out.printf("JNI_NS_PER_CALL %.1f%nITEMS %d%nSINK %d%n", best, n, sink % 10);
        }
    }
}
