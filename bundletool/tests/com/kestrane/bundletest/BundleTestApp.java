package com.kestrane.bundletest;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import javax.swing.JFrame;
import javax.swing.SwingUtilities;

/**
 * The application that the bundle tool's tests package: prints one line naming its runtime,
 * writes its arguments to the file that BUNDLE_TEST_OUT names, and with "--window" shows a
 * window for a few seconds so that its X11 class can be read.
 */
public final class BundleTestApp {
    public static void main(String[] args) throws IOException, InterruptedException {
        System.out.println("BundleTestApp running on Java " + Runtime.version().feature() + " from " + System.getProperty("java.home"));
        String out = System.getenv("BUNDLE_TEST_OUT");
        if (out != null) Files.write(Path.of(out), List.of(args), StandardCharsets.UTF_8);
        if (args.length > 0 && args[0].equals("--window")) {
            SwingUtilities.invokeLater(() -> {
                JFrame frame = new JFrame("BundleTestApp window");
                frame.setSize(200, 100);
                frame.setVisible(true);
            });
            Thread.sleep(20000);
            System.exit(0);
        }
    }
}
