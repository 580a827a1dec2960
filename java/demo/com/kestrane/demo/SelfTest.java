package com.kestrane.demo;

import java.awt.Point;
import java.awt.Rectangle;
import java.awt.Robot;
import java.awt.image.BufferedImage;
import java.io.File;
import java.lang.management.ManagementFactory;
import java.util.concurrent.atomic.AtomicReference;
import javax.imageio.ImageIO;
import javax.swing.SwingUtilities;

/**
 * The window's self-check, for tests and measurements (KESTRANE_DEMO_SELFTEST_DIR names a
 * folder): once the window is up it takes a screenshot, plays a track, takes another
 * once the spectrum moves, prints what a test needs to read the pictures ("selftest ..."
 * lines: the window's size, the table's rows, where the spectrum is) and ends the program.
 * KESTRANE_DEMO_SELFTEST_ROW names the row to play (0 by default);
 * KESTRANE_DEMO_SELFTEST_PLAY_SECONDS keeps playing that long first, and the CPU time the
 * process spent meanwhile is printed.
 */
final class SelfTest {
    private static final long SIGNAL_TIMEOUT_MILLIS = 20_000;

    private final File folder;
    private final double playSeconds;
    private final int row;

    private SelfTest(File folder, double playSeconds, int row) {
        this.folder = folder;
        this.playSeconds = playSeconds;
        this.row = row;
    }

    static SelfTest fromEnvironment() {
        String dir = System.getenv("KESTRANE_DEMO_SELFTEST_DIR");
        if (dir == null || dir.isEmpty()) return null;
        double seconds = 0;
        int row = 0;
        try {
            seconds = Double.parseDouble(System.getenv().getOrDefault("KESTRANE_DEMO_SELFTEST_PLAY_SECONDS", "0"));
            row = Integer.parseInt(System.getenv().getOrDefault("KESTRANE_DEMO_SELFTEST_ROW", "0"));
        } catch (NumberFormatException e) {
            // Not a number: the defaults.
        }
        return new SelfTest(new File(dir), Double.isFinite(seconds) ? Math.max(0, Math.min(600, seconds)) : 0, row);
    }

    /** Called on the event thread once the window is visible; the checks run on a thread of their own. */
    void start(DemoWindow window, String lookAndFeel) {
        long shownAfter = ManagementFactory.getRuntimeMXBean().getUptime();
        Thread t = new Thread(() -> {
            int code = 1;
            try {
                code = run(window, lookAndFeel, shownAfter);
            } catch (Exception | Error e) {
                System.out.println("selftest failed: " + e);
            }
            System.out.flush();
            window.quit(code);
        }, "kestrane-demo-selftest");
        t.setDaemon(true);
        t.start();
    }

    private int run(DemoWindow window, String lookAndFeel, long shownAfter) throws Exception {
        Robot robot = new Robot();
        robot.waitForIdle();
        long deadline = System.currentTimeMillis() + 5000;
        while (window.palette() == null && System.currentTimeMillis() < deadline) Thread.sleep(50);
        robot.waitForIdle();
        Thread.sleep(300);
        robot.waitForIdle();

        DemoWindow.Palette palette = window.palette();
        System.out.println("selftest window shown " + shownAfter + " ms after the JVM started");
        System.out.println("selftest look and feel: " + lookAndFeel);
        System.out.println("selftest appearance: " + (palette == null ? "unknown" : (palette.dark() ? "dark" : "light")
                + String.format(" background #%06x", palette.background().getRGB() & 0xffffff)));
        AtomicReference<Rectangle> frame = new AtomicReference<>();
        AtomicReference<Rectangle> spectrum = new AtomicReference<>();
        int[] table = new int[7];
        SwingUtilities.invokeAndWait(() -> {
            Point origin = window.frame().getLocationOnScreen();
            frame.set(new Rectangle(origin, window.frame().getSize()));
            Point at = window.spectrum().getLocationOnScreen();
            spectrum.set(new Rectangle(at.x - origin.x, at.y - origin.y, window.spectrum().getWidth(),
                    window.spectrum().getHeight()));
            table[0] = window.table().getRowCount();
            table[1] = window.table().getColumnCount();
            Point rows = window.table().getLocationOnScreen();
            table[2] = rows.x - origin.x;
            table[3] = rows.y - origin.y;
            table[4] = window.table().getWidth();
            table[5] = window.table().getParent().getHeight();
            table[6] = window.table().getRowHeight();
        });
        System.out.printf("selftest window size %dx%d%n", frame.get().width, frame.get().height);
        System.out.printf("selftest table %d rows %d columns%n", table[0], table[1]);
        System.out.printf("selftest table rows at %d %d size %d %d, %d high each%n", table[2], table[3], table[4], table[5],
                table[6]);
        Rectangle s = spectrum.get();
        System.out.printf("selftest spectrum at %d %d size %d %d%n", s.x, s.y, s.width, s.height);
        capture(robot, frame.get(), "idle");

        if (row < 0 || row >= table[0]) {
            System.out.println("selftest no row " + row + " to play");
            return 1;
        }
        System.out.println("selftest playing: " + window.titleOf(row));
        window.playFromEventThread(row);
        long started = System.currentTimeMillis();
        while (!window.spectrum().showsSignal() && System.currentTimeMillis() - started < SIGNAL_TIMEOUT_MILLIS) {
            Thread.sleep(20);
        }
        System.out.println("selftest spectrum " + (window.spectrum().showsSignal()
                ? "moved " + (System.currentTimeMillis() - started) + " ms after play" : "stayed blank"));
        com.sun.management.OperatingSystemMXBean os =
                (com.sun.management.OperatingSystemMXBean) ManagementFactory.getOperatingSystemMXBean();
        long cpu0 = os.getProcessCpuTime(), wall0 = System.nanoTime();
        Thread.sleep(Math.max(400, (long) (playSeconds * 1000)));
        long cpu = os.getProcessCpuTime() - cpu0, wall = System.nanoTime() - wall0;
        System.out.printf("selftest cpu while playing: %.1f%% of one core over %d ms%n", 100.0 * cpu / wall, wall / 1_000_000);
        robot.waitForIdle();
        System.out.println("selftest cover: " + (window.coverShown() == null ? "none" : window.coverShown() + " picture"));
        capture(robot, frame.get(), "playing");
        return 0;
    }

    private void capture(Robot robot, Rectangle frame, String name) throws java.io.IOException {
        BufferedImage picture = robot.createScreenCapture(frame);
        File file = new File(folder, "window-" + name + ".png");
        ImageIO.write(picture, "png", file);
        System.out.println("selftest screenshot " + name + ": " + file.getAbsolutePath());
    }
}
