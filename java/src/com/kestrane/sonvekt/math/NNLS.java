package com.kestrane.sonvekt.math;

import com.kestrane.core.NativeLibraries;

/** Non-negative least squares: minimises |A x - b| subject to x >= 0. */
public final class NNLS {
    static { NativeLibraries.load("dspbridge"); }

    private NNLS() {}

    /** A is column-major with leading dimension mda; a and b are overwritten. 1 solved, 2 bad size, 3 iteration limit. */
    public static native int solve(float[] a, int mda, int m, int n, float[] b, float[] x);
}
