package com.kestrane.demo;

import com.kestrane.sonvekt.math.NativeFFT;
import java.awt.Color;
import java.awt.Dimension;
import java.awt.Graphics;
import java.awt.Graphics2D;
import java.awt.RenderingHints;
import javax.swing.JComponent;

/**
 * The live spectrum: bars on a logarithmic frequency scale, rising at once and falling back
 * slowly, as level meters do. The analysis runs on the caller's thread (the demo's poller,
 * never the event thread); painting only reads the last bars.
 */
final class SpectrumView extends JComponent {
    private static final long serialVersionUID = 1L;
    static final int WINDOW = 2048;
    private static final int BARS = 48;
    private static final double LOWEST_HZ = 40;
    private static final double FLOOR_DB = -70;
    /** How much of its height a bar keeps per analysis when the signal drops (about 30 a second). */
    private static final float FALL = 0.82f;

    private final float[] hann = new float[WINDOW];
    private final float[] frame = new float[WINDOW];
    private volatile float[] bars = new float[BARS];
    private volatile Color bar = new Color(0x3584e4);

    SpectrumView() {
        for (int i = 0; i < WINDOW; i++) hann[i] = (float) (0.5 - 0.5 * Math.cos(2 * Math.PI * i / (WINDOW - 1)));
        setPreferredSize(new Dimension(640, 140));
        setOpaque(true);
    }

    void setBarColor(Color c) {
        bar = c;
        repaint();
    }

    /** Whether any bar is up: what a frozen or blank spectrum lacks. */
    boolean showsSignal() {
        for (float b : bars) if (b > 0.05f) return true;
        return false;
    }

    /**
     * Analyses the WINDOW samples at sample index `first` of the audio (or decays the bars when
     * they are not there) with the FFT setup given. Not on the event thread.
     */
    void analyse(long setup, DecodedAudio audio, long first) {
        float[] next = bars.clone();
        boolean have = audio != null && audio.rate() > 0 && audio.copy(Math.max(0, first), frame);
        if (!have) {
            for (int b = 0; b < BARS; b++) next[b] *= FALL;
            publish(next);
            return;
        }
        for (int i = 0; i < WINDOW; i++) frame[i] *= hann[i];
        float[][] spectrum = NativeFFT.realFFT(setup, true, WINDOW, frame, null);
        double rate = audio.rate();
        double top = rate / 2;
        // A full-scale sine through the Hann window peaks at a quarter of the window's length.
        double fullScale = WINDOW / 4.0;
        for (int b = 0; b < BARS; b++) {
            double from = LOWEST_HZ * Math.pow(top / LOWEST_HZ, (double) b / BARS);
            double to = LOWEST_HZ * Math.pow(top / LOWEST_HZ, (double) (b + 1) / BARS);
            int k0 = (int) Math.floor(from * WINDOW / rate), k1 = Math.max(k0, (int) Math.ceil(to * WINDOW / rate) - 1);
            double peak = 0;
            for (int k = k0; k <= k1 && k <= WINDOW / 2; k++) {
                peak = Math.max(peak, Math.hypot(spectrum[0][k], spectrum[1][k]));
            }
            double db = 20 * Math.log10(Math.max(peak / fullScale, 1e-9));
            float level = (float) Math.max(0, Math.min(1, (db - FLOOR_DB) / -FLOOR_DB));
            next[b] = Math.max(level, next[b] * FALL);
        }
        publish(next);
    }

    private void publish(float[] next) {
        bars = next;
        repaint();
    }

    @Override
    protected void paintComponent(Graphics g) {
        Graphics2D g2 = (Graphics2D) g.create();
        try {
            g2.setColor(getBackground());
            g2.fillRect(0, 0, getWidth(), getHeight());
            g2.setRenderingHint(RenderingHints.KEY_ANTIALIASING, RenderingHints.VALUE_ANTIALIAS_ON);
            float[] b = bars;
            double slot = (double) getWidth() / b.length;
            g2.setColor(bar);
            for (int i = 0; i < b.length; i++) {
                int h = Math.round(b[i] * (getHeight() - 4));
                if (h <= 0) continue;
                int x = (int) Math.round(i * slot) + 1;
                int w = Math.max(1, (int) Math.round((i + 1) * slot) - x - 1);
                g2.fillRect(x, getHeight() - h, w, h);
            }
        } finally {
            g2.dispose();
        }
    }
}
