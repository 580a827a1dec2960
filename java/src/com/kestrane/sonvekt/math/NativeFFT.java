package com.kestrane.sonvekt.math;

import com.kestrane.core.NativeLibraries;

/** Single-precision real FFT over a reusable setup. */
public final class NativeFFT {
    static { NativeLibraries.load("dspbridge"); }

    private NativeFFT() {}

    /** A setup for numberOfSamples points (a power of two, at least 4); free it with destroy. */
    public static native long init(int numberOfSamples);

    public static native void destroy(long setup);

    /**
     * Forward: real holds N samples; returns {re[N], im[N]} of the DFT. Inverse: real and imag
     * hold the half spectrum; returns {x[N], zeros[N]}.
     */
    public static native float[][] realFFT(long setup, boolean forward, int numberOfSamples,
            float[] real, float[] imag);
}
