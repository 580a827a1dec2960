import com.kestrane.sonvekt.player.AVPlayer;
import java.lang.management.ManagementFactory;

/**
 * What the player's calls cost from Java, and what a playing player costs the process:
 * nanoseconds per call (best of several passes after warm-up, as HandleJniBench counts them) of AVPlayer.isPlaying, getTime,
 * setVolume and a start/stop pair on an open player, then the processor time of the process
 * while it plays for the given seconds. Arguments: a file:// URL of an audio file at least
 * that long, and the seconds. Prints "PLAYER_NS <what> <ns>", "PLAYER_PLAY <start ms> <end ms>"
 * (wall clock, for a bus monitor's window) and "PLAYER_CPU <percent of one core>".
 */
public final class PlayerJniBench {
    public static void main(String[] args) throws Exception {
        long player = AVPlayer.open(args[0]);
        int seconds = Integer.parseInt(args[1]);
        System.out.printf("PLAYER_NS isPlaying %.1f%n", HandleJniBench.best(1_000_000, () -> AVPlayer.isPlaying(player) ? 1 : 0));
        System.out.printf("PLAYER_NS getTime %.1f%n", HandleJniBench.best(100_000, () -> AVPlayer.getTime(player)));
        float[] volumes = {0.5f, 0.6f};
        System.out.printf("PLAYER_NS setVolume %.1f%n", HandleJniBench.best(100_000, () -> {
            AVPlayer.setVolume(player, volumes[(int) (System.nanoTime() & 1)]);
            return 0;
        }));
        System.out.printf("PLAYER_NS start+stop %.1f%n", HandleJniBench.best(2_000, () -> {
            AVPlayer.start(player);
            AVPlayer.stop(player);
            return 0;
        }));
        AVPlayer.setTime(player, 0);
        Thread.sleep(1000);  // what the calls above left behind settles first
        var os = (com.sun.management.OperatingSystemMXBean) ManagementFactory.getOperatingSystemMXBean();
        long cpu0 = os.getProcessCpuTime(), wall0 = System.nanoTime(), start = System.currentTimeMillis();
        AVPlayer.start(player);
        Thread.sleep(seconds * 1000L);
        long cpu = os.getProcessCpuTime() - cpu0, wall = System.nanoTime() - wall0;
        System.out.printf("PLAYER_PLAY %d %d%n", start, System.currentTimeMillis());
        AVPlayer.stop(player);
        System.out.printf("PLAYER_CPU %.2f%n", 100.0 * cpu / wall);
        AVPlayer.close(player);
    }
}
