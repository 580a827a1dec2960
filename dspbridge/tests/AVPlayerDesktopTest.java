import static org.junit.jupiter.api.Assertions.assertTrue;

import com.kestrane.sonvekt.player.AVPlayer;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.function.BooleanSupplier;
import org.junit.jupiter.api.Test;

/**
 * AVPlayer driven from the desktop's media controls (playerctl) while the Java side reads it
 * through its own calls; run on a private session bus (dbus-run-session) with fakesink.
 */
class AVPlayerDesktopTest {
    static String playerctl(String... args) throws IOException, InterruptedException {
        List<String> command = new ArrayList<>(List.of("playerctl"));
        command.addAll(List.of(args));
        Process process = new ProcessBuilder(command).redirectError(ProcessBuilder.Redirect.DISCARD).start();
        String out = new String(process.getInputStream().readAllBytes(), StandardCharsets.UTF_8).strip();
        process.waitFor();
        return out;
    }

    static boolean within(long millis, BooleanSupplier condition) throws InterruptedException {
        long end = System.nanoTime() + millis * 1_000_000L;
        while (System.nanoTime() < end) {
            if (condition.getAsBoolean()) return true;
            Thread.sleep(10);
        }
        return condition.getAsBoolean();
    }

    interface Step {
        void run() throws Exception;
    }

    record Case(String what, Step step, BooleanSupplier seen, String status) {}

    @Test
    void theDesktopDrivesThePlayerAndFollowsIt() throws Exception {
        Path dir = Files.createTempDirectory("avplayer-desktop");
        Path wav = dir.resolve("tone.wav");
        AVPlayerTest.writeWav(wav, 2.5);
        long p = AVPlayer.open(wav.toUri().toString());
        try {
            // The name is taken on the service's own thread, soon after open returns.
            assertTrue(within(5000, () -> {
                try {
                    return playerctl("-l").endsWith(".instance" + ProcessHandle.current().pid());
                } catch (Exception e) {
                    return false;
                }
            }));
            Case[] cases = {
                new Case("play-pause", () -> playerctl("play-pause"), () -> AVPlayer.isPlaying(p), "Playing"),
                new Case("play-pause", () -> playerctl("play-pause"), () -> !AVPlayer.isPlaying(p), "Paused"),
                new Case("position 1", () -> playerctl("position", "1"), () -> AVPlayer.getTime(p) == 1000, "Paused"),
                new Case("volume 0.5", () -> playerctl("volume", "0.5"), () -> AVPlayer.getVolume(p) == 0.5f, "Paused"),
                new Case("start", () -> AVPlayer.start(p), () -> true, "Playing"),
                new Case("stop", () -> AVPlayer.stop(p), () -> true, "Paused"),
            };
            for (Case c : cases) {
                c.step().run();
                // playerctl returns once the player has answered, so the Java side sees the
                // change at once; a second is the bound the desktop is promised.
                assertTrue(within(1000, c.seen()), c.what());
                assertTrue(within(5000, () -> {
                    try {
                        return playerctl("status").equals(c.status());
                    } catch (Exception e) {
                        return false;
                    }
                }), c.what() + ": " + playerctl("status"));
            }
        } finally {
            AVPlayer.close(p);
        }
        assertTrue(within(5000, () -> {
            try {
                return playerctl("-l").isEmpty();
            } catch (Exception e) {
                return false;
            }
        }), "the name goes with the last player");
        Files.delete(wav);
        Files.delete(dir);
    }
}
