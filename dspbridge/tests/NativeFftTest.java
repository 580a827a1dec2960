import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.kestrane.sonvekt.math.NativeFFT;
import java.util.Random;
import java.util.concurrent.atomic.AtomicReference;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

class NativeFftTest {
    private static final int N = 64;
    private static final int H = N / 2;
    private long setup;

    @BeforeEach
    void makeSetup() {
        setup = NativeFFT.init(N);
    }

    @AfterEach
    void destroySetup() {
        NativeFFT.destroy(setup);
    }

    private static void assertAll(float[] values, float expected, double tolerance) {
        for (int i = 0; i < values.length; i++) assertEquals(expected, values[i], tolerance, "index " + i);
    }

    @Test
    void initAcceptsPowersOfTwoFromFourAndRejectsTheRestWithItsMessages() {
        long four = NativeFFT.init(4);
        assertNotEquals(0L, four);
        NativeFFT.destroy(four);
        NativeFFT.destroy(0L);  // a zero handle does nothing
        for (int n : new int[] {3, 0, -8, Integer.MIN_VALUE}) {
            var e = assertThrows(IllegalArgumentException.class, () -> NativeFFT.init(n));
            assertEquals("Number of samples is less than 4.", e.getMessage());
        }
        for (int n : new int[] {6, 12, 1000}) {
            var e = assertThrows(IllegalArgumentException.class, () -> NativeFFT.init(n));
            assertEquals("Number of samples is not a power of 2.", e.getMessage());
        }
    }

    @Test
    void forwardOfClassicSignals() {
        float[] impulse = new float[N];
        impulse[0] = 1;
        float[][] r = NativeFFT.realFFT(setup, true, N, impulse, null);  // imag may be null
        assertAll(r[0], 1f, 1e-6);
        assertAll(r[1], 0f, 0);

        float[] ones = new float[N];
        java.util.Arrays.fill(ones, 1f);
        r = NativeFFT.realFFT(setup, true, N, ones, null);
        assertEquals(N, r[0][0], 1e-4);
        for (int k = 1; k < N; k++) assertEquals(0f, r[0][k], 1e-4);
        assertAll(r[1], 0f, 1e-4);

        float[] alternating = new float[N];
        for (int m = 0; m < N; m++) alternating[m] = (m % 2 == 0) ? 1f : -1f;
        r = NativeFFT.realFFT(setup, true, N, alternating, null);
        for (int k = 0; k < N; k++) assertEquals(k == H ? N : 0f, r[0][k], 1e-4, "bin " + k);
        assertAll(r[1], 0f, 1e-4);

        float[] cosine = new float[N];
        for (int m = 0; m < N; m++) cosine[m] = (float) Math.cos(2 * Math.PI * m / N);
        r = NativeFFT.realFFT(setup, true, N, cosine, null);
        assertEquals(N / 2f, r[0][1], 1e-4);
        assertEquals(N / 2f, r[0][N - 1], 1e-4);
        for (int k = 2; k < N - 1; k++) assertEquals(0f, r[0][k], 1e-4, "bin " + k);
    }

    @Test
    void forwardMatchesTheDftAndMirrorsTheUpperHalfExactly() {
        Random random = new Random(1);
        float[] x = new float[N];
        for (int m = 0; m < N; m++) x[m] = random.nextFloat() * 2 - 1;
        float[][] r = NativeFFT.realFFT(setup, true, N, x, null);
        for (int k = 0; k < N; k++) {
            double re = 0, im = 0;
            for (int m = 0; m < N; m++) {
                re += x[m] * Math.cos(-2 * Math.PI * k * m / N);
                im += x[m] * Math.sin(-2 * Math.PI * k * m / N);
            }
            assertEquals(re, r[0][k], 1e-4, "re " + k);
            assertEquals(im, r[1][k], 1e-4, "im " + k);
        }
        for (int k = 1; k < H; k++) {
            assertEquals(Float.floatToRawIntBits(r[0][k]), Float.floatToRawIntBits(r[0][N - k]));
            assertEquals(Float.floatToRawIntBits(-r[1][k]), Float.floatToRawIntBits(r[1][N - k]));
        }
        assertEquals(Float.floatToRawIntBits(0f), Float.floatToRawIntBits(r[1][0]));
        assertEquals(Float.floatToRawIntBits(0f), Float.floatToRawIntBits(r[1][H]));
    }

    @Test
    void realLongerThanNUsesTheFirstNAndShorterIsRefused() {
        float[] impulse = new float[N + 5];
        impulse[0] = 1;
        java.util.Arrays.fill(impulse, N, N + 5, 1000f);
        float[][] r = NativeFFT.realFFT(setup, true, N, impulse, null);
        assertEquals(N, r[0].length);
        assertAll(r[0], 1f, 1e-6);
        var e = assertThrows(IllegalArgumentException.class,
                () -> NativeFFT.realFFT(setup, true, N, new float[N - 1], null));
        assertEquals("Number of samples must not be less than input array length.", e.getMessage());
    }

    @Test
    void inverseOfDcGivesOnesAndIgnoresEveryValueItDoesNotUse() {
        float[] re = new float[N], im = new float[N];
        re[0] = N;
        float[][] r = NativeFFT.realFFT(setup, false, N, re, im);
        assertAll(r[0], 1f, 1e-6);
        assertAll(r[1], 0f, 0);

        Random random = new Random(2);
        float[] spectrumRe = new float[N], spectrumIm = new float[N];
        for (int k = 0; k < N; k++) {
            spectrumRe[k] = random.nextFloat();
            spectrumIm[k] = random.nextFloat();
        }
        float[] expected = NativeFFT.realFFT(setup, false, N, spectrumRe.clone(), spectrumIm.clone())[0];
        float[] changedRe = spectrumRe.clone(), changedIm = spectrumIm.clone();
        changedIm[0] = 99;
        changedIm[H] = -99;
        for (int k = H + 1; k < N; k++) {
            changedRe[k] = 1234;
            changedIm[k] = -4321;
        }
        assertArrayEquals(expected, NativeFFT.realFFT(setup, false, N, changedRe, changedIm)[0]);
    }

    @Test
    void roundTripReturnsTheInputAtManySizesFromOneSetup() {
        long big = NativeFFT.init(1 << 16);
        try {
            Random random = new Random(3);
            for (int n = 4; n <= 1 << 16; n *= 2) {
                float[] x = new float[n];
                for (int m = 0; m < n; m++) x[m] = random.nextFloat() * 2 - 1;
                float[][] spectrum = NativeFFT.realFFT(big, true, n, x, null);
                float[][] back = NativeFFT.realFFT(big, false, n, spectrum[0], spectrum[1]);
                assertArrayEquals(x, back[0], 1e-5f, "n=" + n);
            }
        } finally {
            NativeFFT.destroy(big);
        }
    }

    @Test
    void inverseWithShortImagIsRejected() {
        for (int length : new int[] {0, N / 2, N - 1}) {
            assertThrows(IllegalArgumentException.class,
                    () -> NativeFFT.realFFT(setup, false, N, new float[N], new float[length]));
        }
    }

    @Test
    void wrongCallsThrowInsteadOfTouchingMemory() {
        var npe = assertThrows(NullPointerException.class, () -> NativeFFT.realFFT(setup, true, N, null, null));
        assertTrue(npe.getMessage().contains("real"));
        npe = assertThrows(NullPointerException.class, () -> NativeFFT.realFFT(setup, false, N, new float[N], null));
        assertTrue(npe.getMessage().contains("imag"));
        assertThrows(IllegalArgumentException.class, () -> NativeFFT.realFFT(0L, true, N, new float[N], null));
        assertThrows(IllegalArgumentException.class, () -> NativeFFT.realFFT(setup, true, 2 * N, new float[2 * N], null));
        assertThrows(IllegalArgumentException.class, () -> NativeFFT.realFFT(setup, true, 48, new float[N], null));
        assertThrows(IllegalArgumentException.class, () -> NativeFFT.realFFT(setup, true, 2, new float[N], null));
    }

    @Test
    void largeTransformsRunOnAThreadWithASmallStack() throws Exception {
        final int n = 1 << 20;
        AtomicReference<Throwable> failure = new AtomicReference<>();
        AtomicReference<float[][]> result = new AtomicReference<>();
        Thread small = new Thread(null, () -> {
            try {
                long s = NativeFFT.init(n);
                float[] impulse = new float[n];
                impulse[0] = 1;
                result.set(NativeFFT.realFFT(s, true, n, impulse, null));
                NativeFFT.destroy(s);
            } catch (Throwable t) {
                failure.set(t);
            }
        }, "small-stack", 256 * 1024);
        small.start();
        small.join();
        if (failure.get() != null) throw new AssertionError(failure.get());
        assertAll(result.get()[0], 1f, 1e-6);
    }
}
