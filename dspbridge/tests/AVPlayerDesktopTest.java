import static org.junit.jupiter.api.Assertions.assertTrue;

import com.kestrane.sonvekt.player.AVPlayer;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.concurrent.Callable;
import org.junit.jupiter.api.Test;

/**
 * AVPlayer driven from the desktop's media controls (playerctl) while the Java side reads it
 * through its own calls; run on a private session bus (dbus-run-session) with fakesink.
 */
class AVPlayerDesktopTest {
    static String playerctl(String... args) throws Exception {
        String[] command = new String[args.length + 1];
        command[0] = "playerctl";
        System.arraycopy(args, 0, command, 1, args.length);
        Process process = new ProcessBuilder(command).redirectError(ProcessBuilder.Redirect.DISCARD).start();
        String out = new String(process.getInputStream().readAllBytes(), StandardCharsets.UTF_8).strip();
        process.waitFor();
        return out;
    }

    static boolean within(long millis, Callable<Boolean> condition) throws Exception {
        long end = System.nanoTime() + millis * 1_000_000L;
        while (System.nanoTime() < end && !condition.call()) Thread.sleep(10);
        return condition.call();
    }

    record Case(String what, Callable<?> step, Callable<Boolean> seen, String status) {}

    @Test
    void theDesktopDrivesThePlayerAndFollowsIt() throws Exception {
        Path wav = Files.createTempFile("avplayer-desktop", ".wav");
        AVPlayerTest.writeWav(wav, 2.5);
        long p = AVPlayer.open(wav.toUri().toString());
        try {
            // The name is taken on the service's own thread, soon after open returns.
            assertTrue(within(5000, () -> playerctl("-l").endsWith(".instance" + ProcessHandle.current().pid())));
            Case[] cases = {
                new Case("play-pause", () -> playerctl("play-pause"), () -> AVPlayer.isPlaying(p), "Playing"),
                new Case("play-pause", () -> playerctl("play-pause"), () -> !AVPlayer.isPlaying(p), "Paused"),
                new Case("position 1", () -> playerctl("position", "1"), () -> AVPlayer.getTime(p) == 1000, "Paused"),
                new Case("volume 0.5", () -> playerctl("volume", "0.5"), () -> AVPlayer.getVolume(p) == 0.5f, "Paused"),
                new Case("start", () -> { AVPlayer.start(p); return null; }, () -> true, "Playing"),
                new Case("stop", () -> { AVPlayer.stop(p); return null; }, () -> true, "Paused"),
            };
            for (Case c : cases) {
                c.step().call();
                // playerctl returns once the player has answered, so the Java side sees the
                // change at once; a second is the bound the desktop is promised.
                assertTrue(within(1000, c.seen()), c.what());
                assertTrue(within(5000, () -> playerctl("status").equals(c.status())), c.what() + ": " + playerctl("status"));
            }
        } finally {
            AVPlayer.close(p);
            Files.delete(wav);
        }
        assertTrue(within(5000, () -> playerctl("-l").isEmpty()), "the name goes with the last player");
    }
}
