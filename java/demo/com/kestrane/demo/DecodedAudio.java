package com.kestrane.demo;

import java.io.BufferedInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.net.URI;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.concurrent.TimeUnit;
import javax.sound.sampled.AudioFormat;
import javax.sound.sampled.AudioInputStream;
import javax.sound.sampled.AudioSystem;
import javax.sound.sampled.UnsupportedAudioFileException;

/**
 * The mono samples of one track, decoded on a thread of its own while the track plays, so
 * that the spectrum can be drawn at the player's position. No peer hands out decoded audio:
 * Java reads uncompressed files (WAV, AIFF, AU) itself, and everything else is decoded by
 * GStreamer's gst-launch-1.0 (the player's own decoders) into 16-bit PCM on a pipe. Without
 * that tool a compressed track simply has no spectrum.
 */
final class DecodedAudio implements AutoCloseable {
    /** The rate the GStreamer path resamples to: plenty for a display, half the memory of 44.1 kHz. */
    static final int GSTREAMER_RATE = 22050;
    /** Ten minutes at 48 kHz: a longer track shows no spectrum past that point. */
    private static final int MAX_SAMPLES = 48000 * 600;

    private final Thread reader;
    private volatile Process process;
    private volatile int rate;
    private short[] samples = new short[1 << 16];
    private int count;
    private boolean ended;

    private DecodedAudio(String location) {
        reader = new Thread(() -> decode(location), "kestrane-demo-decoder");
        reader.setDaemon(true);
        reader.start();
    }

    /** Starts decoding the file at a file URL; the samples arrive while the caller goes on. */
    static DecodedAudio start(String location) {
        return new DecodedAudio(location);
    }

    /** The sample rate, 0 until it is known. */
    int rate() {
        return rate;
    }

    /**
     * Copies out.length samples starting at sample index first into out, as floats in [-1, 1);
     * false when they are not decoded (yet, or ever).
     */
    synchronized boolean copy(long first, float[] out) {
        if (first < 0 || first + out.length > count) return false;
        for (int i = 0; i < out.length; i++) out[i] = samples[(int) first + i] / 32768f;
        return true;
    }

    /** Whether decoding has finished, with every sample there is or with a failure. */
    synchronized boolean ended() {
        return ended;
    }

    /** Stops decoding (the GStreamer process ends with it). */
    @Override
    public void close() {
        reader.interrupt();
        Process p = process;
        if (p != null) p.destroyForcibly();
    }

    private void decode(String location) {
        try {
            Path file = Path.of(URI.create(location));
            if (!readWithJava(file)) readWithGStreamer(file);
        } catch (IOException | RuntimeException e) {
            // A track that cannot be decoded plays without a spectrum.
        } finally {
            synchronized (this) {
                ended = true;
            }
        }
    }

    /** Uncompressed audio that Java's sound API reads; false when it is in another format. */
    private boolean readWithJava(Path file) throws IOException {
        AudioInputStream source;
        try {
            source = AudioSystem.getAudioInputStream(new BufferedInputStream(Files.newInputStream(file)));
        } catch (UnsupportedAudioFileException e) {
            return false;
        }
        AudioFormat in = source.getFormat();
        AudioFormat pcm = new AudioFormat(AudioFormat.Encoding.PCM_SIGNED, in.getSampleRate(), 16,
                in.getChannels(), 2 * in.getChannels(), in.getSampleRate(), false);
        AudioInputStream converted;
        try {
            converted = AudioSystem.getAudioInputStream(pcm, source);
        } catch (IllegalArgumentException e) {
            source.close();
            return false;
        }
        try (AudioInputStream stream = converted) {
            rate = Math.round(in.getSampleRate());
            readPcm(stream, in.getChannels());
        }
        return true;
    }

    private void readWithGStreamer(Path file) throws IOException {
        // gst-launch joins its arguments into one pipeline description, so the URI is escaped
        // down to characters that description cannot read as syntax ("!", quotes, spaces).
        ProcessBuilder builder = new ProcessBuilder("gst-launch-1.0", "-q", "uridecodebin", "uri=" + safeUri(file),
                "!", "audioconvert", "!", "audioresample", "!",
                "audio/x-raw,format=S16LE,channels=1,rate=" + GSTREAMER_RATE, "!", "fdsink", "fd=1");
        builder.redirectError(ProcessBuilder.Redirect.DISCARD);
        builder.redirectInput(ProcessBuilder.Redirect.from(new java.io.File("/dev/null")));
        Process p = builder.start();
        process = p;
        rate = GSTREAMER_RATE;
        try (InputStream out = p.getInputStream()) {
            readPcm(out, 1);
        } finally {
            p.destroy();
            try {
                if (!p.waitFor(2, TimeUnit.SECONDS)) p.destroyForcibly();
            } catch (InterruptedException e) {
                p.destroyForcibly();
                Thread.currentThread().interrupt();
            }
        }
    }

    /** A file URL of the path whose every byte but letters, digits, "/", ".", "_", "-" is escaped. */
    static String safeUri(Path file) {
        StringBuilder uri = new StringBuilder("file://");
        for (byte b : file.toAbsolutePath().toString().getBytes(StandardCharsets.UTF_8)) {
            int c = b & 0xff;
            if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' || c == '.'
                    || c == '_' || c == '-') {
                uri.append((char) c);
            } else {
                uri.append('%').append(Character.toUpperCase(Character.forDigit(c >> 4, 16)))
                   .append(Character.toUpperCase(Character.forDigit(c & 15, 16)));
            }
        }
        return uri.toString();
    }

    /** Little-endian 16-bit frames of the given channels, mixed down to mono as they arrive. */
    private void readPcm(InputStream in, int channels) throws IOException {
        if (channels < 1) return;
        int frame = 2 * channels;
        byte[] buffer = new byte[frame * 4096];
        int held = 0;
        while (!Thread.currentThread().isInterrupted()) {
            int n = in.read(buffer, held, buffer.length - held);
            if (n < 0) return;
            held += n;
            int frames = held / frame;
            if (!append(buffer, frames, channels)) return;
            int rest = held - frames * frame;
            System.arraycopy(buffer, frames * frame, buffer, 0, rest);
            held = rest;
        }
    }

    /** Adds frames to the samples; false once the bound is reached. */
    private synchronized boolean append(byte[] pcm, int frames, int channels) {
        int room = MAX_SAMPLES - count;
        int take = Math.min(frames, room);
        if (count + take > samples.length) {
            samples = java.util.Arrays.copyOf(samples, Math.min(MAX_SAMPLES, Math.max(count + take, 2 * samples.length)));
        }
        for (int f = 0; f < take; f++) {
            int sum = 0;
            for (int c = 0; c < channels; c++) {
                int at = 2 * (f * channels + c);
                sum += (short) ((pcm[at] & 0xff) | (pcm[at + 1] << 8));
            }
            samples[count++] = (short) (sum / channels);
        }
        return count < MAX_SAMPLES;
    }
}
