import com.kestrane.sonvekt.math.NativeFFT;

/**
 * Times NativeFFT.realFFT called from a Java loop after warm-up: nanoseconds per call, for
 * the sizes given on the command line. Prints "JNI_NS <direction> <N> <ns>" lines, and
 * "ALLOC_NS <N> <ns>": what Java itself takes to allocate a result of the same shape (a
 * float[2][] and two new float[N], which the JVM zeroes), the part of every call that no
 * native code can save.
 */
public final class FftJniBench {
    static float[][] kept;

    interface Call {
        float[][] run(int c);
    }

    static double best(int calls, Call call) {
        double best = Double.MAX_VALUE;
        for (int round = 0; round < 7; round++) {  // the first rounds warm up the JIT
            long start = System.nanoTime();
            float sink = 0;
            for (int c = 0; c < calls; c++) {
                float[][] r = call.run(c);
                sink += r[0][c % r[0].length];
                kept = r;  // escapes, so the allocation cannot be optimised away
            }
            double ns = (System.nanoTime() - start) / (double) calls;
            if (round >= 2) best = Math.min(best, ns);
            if (sink == 12345.678f) System.out.print("");
        }
        return best;
    }

    public static void main(String[] args) {
        for (String arg : args) {
            int n = Integer.parseInt(arg);
            long setup = NativeFFT.init(n);
            float[] x = new float[n];
            for (int i = 0; i < n; i++) x[i] = (float) Math.sin(0.1 * i);
            float[][] spectrum = NativeFFT.realFFT(setup, true, n, x, null);
            int calls = Math.max(200, (int) (200_000_000L / ((long) n * 20)));
            double forward = best(calls, c -> NativeFFT.realFFT(setup, true, n, x, null));
            double inverse = best(calls, c -> NativeFFT.realFFT(setup, false, n, spectrum[0], spectrum[1]));
            double alloc = best(calls, c -> {
                float[][] r = new float[2][];
                r[0] = new float[n];
                r[1] = new float[n];
                return r;
            });
            System.out.printf("JNI_NS Forward %d %.1f%nJNI_NS Inverse %d %.1f%nALLOC_NS %d %.1f%n", n, forward, n, inverse,
                    n, alloc);
            NativeFFT.destroy(setup);
        }
    }
}
