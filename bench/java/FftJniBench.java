import com.kestrane.sonvekt.math.NativeFFT;

/**
 * Times NativeFFT.realFFT called from a Java loop after warm-up: nanoseconds per call, for
 * the sizes given on the command line. Prints "JNI_NS <direction> <N> <ns>" lines.
 */
public final class FftJniBench {
    public static void main(String[] args) {
        for (String arg : args) {
            int n = Integer.parseInt(arg);
            long setup = NativeFFT.init(n);
            float[] x = new float[n];
            for (int i = 0; i < n; i++) x[i] = (float) Math.sin(0.1 * i);
            float[][] spectrum = NativeFFT.realFFT(setup, true, n, x, null);
            int calls = Math.max(200, (int) (200_000_000L / ((long) n * 20)));
            for (boolean forward : new boolean[] {true, false}) {
                double best = Double.MAX_VALUE;
                for (int round = 0; round < 7; round++) {  // the first rounds warm up the JIT
                    long start = System.nanoTime();
                    float sink = 0;
                    for (int c = 0; c < calls; c++) {
                        float[][] r = forward ? NativeFFT.realFFT(setup, true, n, x, null)
                                              : NativeFFT.realFFT(setup, false, n, spectrum[0], spectrum[1]);
                        sink += r[0][c % n];
                    }
                    double ns = (System.nanoTime() - start) / (double) calls;
                    if (round >= 2) best = Math.min(best, ns);
                    if (sink == 12345.678f) System.out.print("");
                }
                System.out.printf("JNI_NS %s %d %.1f%n", forward ? "Forward" : "Inverse", n, best);
            }
            NativeFFT.destroy(setup);
        }
    }
}
