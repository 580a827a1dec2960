package com.kestrane.core.lang;

import com.kestrane.core.NativeLibraries;

/** Spell checking with the process's one shared checker. */
public final class SpellCheckerOSX {
    static { NativeLibraries.load("osbridge"); }

    private SpellCheckerOSX() {}

    /** {location, length} of the first misspelled word at or after start; {-1, 0} for none. */
    public static native int[] nativeCheck(String text, int start, String language);

    /** Guesses for the word at the range; sets the checker's current language. Never null. */
    public static native String[] nativeGuesses(String text, int location, int length, String language);
}
