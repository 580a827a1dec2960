package com.kestrane.core.osx;

import com.kestrane.core.NativeLibraries;

/** System colours of interface elements as {red, green, blue, alpha} in sRGB. */
public final class UIElementColor {
    static { NativeLibraries.load("osbridge"); }

    private UIElementColor() {}

    public static native float[] _getControlColor();
    public static native float[] _getControlBackgroundColor();
    public static native float[] _getFindHighlightColor();
    public static native float[] _getHighlightColor();
    public static native float[] _getShadowColor();
    public static native float[] _getSelectedControlColor();
    public static native float[] _getControlAccentColor();
}
