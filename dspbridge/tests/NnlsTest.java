import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.kestrane.sonvekt.math.NNLS;
import org.junit.jupiter.api.Test;

class NnlsTest {

    @Test
    void emptyDimensionsReturnTwoAndTouchNothing() {
        float[] a = {1, 2, 3, 4}, b = {5, 6}, x = {7, 8};
        assertEquals(2, NNLS.solve(a, 2, 0, 2, b, x));
        assertEquals(2, NNLS.solve(a, 2, 2, 0, b, x));
        assertEquals(2, NNLS.solve(a, 2, -1, 2, b, x));
        assertArrayEquals(new float[] {1, 2, 3, 4}, a);
        assertArrayEquals(new float[] {5, 6}, b);
        assertArrayEquals(new float[] {7, 8}, x);
    }

    @Test
    void oneByOne() {
        float[] x = {42};
        assertEquals(1, NNLS.solve(new float[] {2}, 1, 1, 1, new float[] {6}, x));
        assertEquals(3f, x[0], 1e-6);
        assertEquals(1, NNLS.solve(new float[] {2}, 1, 1, 1, new float[] {-6}, x));
        assertEquals(0f, x[0]);
    }

    @Test
    void identityClipsNegativesAndLeavesTheTransformedSystem() {
        float[] a = {1, 0, 0, 0, 1, 0, 0, 0, 1};
        float[] b = {1, -2, 3};
        float[] x = new float[3];
        assertEquals(1, NNLS.solve(a, 3, 3, 3, b, x));
        assertArrayEquals(new float[] {1, 0, 3}, x, 1e-6f);
        assertArrayEquals(new float[] {3, 1, -2}, b, 1e-6f);
        assertArrayEquals(new float[] {0, 1, 0, 0, 0, 1, 1, 0, 0}, a, 1e-6f);
    }

    @Test
    void identicalColumnsGiveTheWholeWeightToTheFirst() {
        float[] x = new float[2];
        assertEquals(1, NNLS.solve(new float[] {1, 1, 1, 1}, 2, 2, 2, new float[] {1, 1}, x));
        assertEquals(1f, x[0], 1e-6);
        assertEquals(0f, x[1]);
    }

    @Test
    void aZeroColumnNeverEntersAndRowsBelowMAreUntouched() {
        // mda = 4, m = 2: rows 3 and 4 of each column hold markers that must survive.
        float[] a = {0, 0, 77, 78, 1, 2, 79, 80};
        float[] b = {1, 2};
        float[] x = {5, 5};
        assertEquals(1, NNLS.solve(a, 4, 2, 2, b, x));
        assertEquals(0f, x[0]);
        assertEquals(1f, x[1], 1e-6);
        assertEquals(77f, a[2]);
        assertEquals(78f, a[3]);
        assertEquals(79f, a[6]);
        assertEquals(80f, a[7]);
    }

    @Test
    void wrongArraysThrowInsteadOfReadingOrWritingPastThem() {
        float[] a = new float[6], b = new float[3], x = new float[2];
        assertTrue(assertThrows(NullPointerException.class, () -> NNLS.solve(null, 3, 3, 2, b, x)).getMessage().contains("a"));
        assertThrows(NullPointerException.class, () -> NNLS.solve(a, 3, 3, 2, null, x));
        assertThrows(NullPointerException.class, () -> NNLS.solve(a, 3, 3, 2, b, null));
        assertThrows(IllegalArgumentException.class, () -> NNLS.solve(new float[5], 3, 3, 2, b, x));
        assertThrows(IllegalArgumentException.class, () -> NNLS.solve(a, 3, 3, 2, new float[2], x));
        assertThrows(IllegalArgumentException.class, () -> NNLS.solve(a, 3, 3, 2, b, new float[1]));
        assertThrows(IllegalArgumentException.class, () -> NNLS.solve(a, 2, 3, 2, b, x));
        // mda*(n-1)+m exactly is enough.
        assertEquals(1, NNLS.solve(new float[] {1, 0, 0, 0, 1, 0}, 3, 3, 2, new float[] {1, 1, 1}, new float[2]));
    }

    @Test
    void largeProblemsUseHeapWorkStorage() {
        // Every kind of work storage beyond its stack bound of 1024 elements; one column in ten
        // enters the solution, so that the solver's iterations stay few.
        int m = 1200, n = 1100;
        float[] a = new float[m * n];
        for (int k = 0; k < n; k++) a[k * m + k] = 1;  // identity on top
        float[] b = new float[m];
        for (int r = 0; r < n; r++) b[r] = (r % 10 == 7) ? r : -r;
        float[] x = new float[n];
        assertEquals(1, NNLS.solve(a, m, m, n, b, x));
        for (int k = 0; k < n; k++) assertEquals(k % 10 == 7 ? k : 0, x[k], 1e-3, "x" + k);
    }
}
