package com.kestrane.itlibrary;

/** An error of the music library, thrown by the native side with a message. */
public class ITLibException extends Exception {
    private static final long serialVersionUID = 1L;

    public ITLibException(String message) {
        super(message);
    }
}
