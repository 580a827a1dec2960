import com.kestrane.sonvekt.math.NativeFFT;
import com.kestrane.sonvekt.player.AVPlayer;

/**
 * What a handle costs a call: nanoseconds per call (best of several passes after warm-up) of
 * AVPlayer.getStatus and AVPlayer.isMuted on an open player, and of NativeFFT.realFFT at the
 * smallest size, where the call's own work is least. The first argument is a file:// URL of
 * an audio file. Prints "HANDLE_NS <what> <ns>" lines.
 */
public final class HandleJniBench {
    interface Call {
        long run();
    }

    static double best(int calls, Call call) {
        double best = Double.MAX_VALUE;
        long sink = 0;
        for (int pass = 0; pass < 8; pass++) {
            long start = System.nanoTime();
            for (int i = 0; i < calls; i++) sink += call.run();
            double ns = (System.nanoTime() - start) / (double) calls;
            if (pass >= 3) best = Math.min(best, ns);
        }
        if (sink == 42) System.out.print("");
        return best;
    }

    public static void main(String[] args) throws Exception {
        long player = AVPlayer.open(args[0]);
        System.out.printf("HANDLE_NS AVPlayer.getStatus %.1f%n", best(1_000_000, () -> AVPlayer.getStatus(player)));
        System.out.printf("HANDLE_NS AVPlayer.isMuted %.1f%n", best(200_000, () -> AVPlayer.isMuted(player) ? 1 : 0));
        AVPlayer.close(player);
        long setup = NativeFFT.init(4);
        float[] x = {1, 2, 3, 4};
        System.out.printf("HANDLE_NS NativeFFT.realFFT(N=4) %.1f%n",
                best(1_000_000, () -> NativeFFT.realFFT(setup, true, 4, x, null)[0].length));
        NativeFFT.destroy(setup);
    }
}
