package com.kestrane.itlibrary;

import com.kestrane.core.NativeLibraries;

/**
 * Common base of the music-library peers. The native side reads the handle from the field
 * "pointer" of the concrete class; 0 means no object.
 */
abstract class ITLibObject {
    static { NativeLibraries.load("catalogbridge"); }

    /** Address of the native object; read by the native side, written only here. */
    protected long pointer;

    ITLibObject(long pointer) {
        this.pointer = pointer;
    }

    public final long handle() {
        return pointer;
    }
}
