import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTimeoutPreemptively;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.kestrane.core.app.Digest;
import com.kestrane.core.osx.Appearance;
import com.kestrane.core.osx.HelpHook;
import com.kestrane.core.osx.ProcessInfo;
import com.kestrane.core.osx.UIElementColor;
import com.kestrane.core.social.SocialOSX;
import java.io.ByteArrayOutputStream;
import java.nio.charset.StandardCharsets;
import java.time.Duration;
import java.util.HexFormat;
import java.util.function.Supplier;
import org.junit.jupiter.api.Test;

/**
 * Appearance, colours, digest, sharing, help and activities through the Java peers, in a
 * sealed environment without a graphical session, session bus or default applications.
 */
class DesktopServicesTest {
    private static String md5sum(byte[] input) throws Exception {
        Process p = new ProcessBuilder("md5sum").start();
        p.getOutputStream().write(input);
        p.getOutputStream().close();
        String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.US_ASCII);
        assertEquals(0, p.waitFor());
        return out.substring(0, 32);
    }

    @Test
    void digestIsTheMd5OfThePrefixAndTheData() throws Exception {
        for (byte[] data : new byte[][] {new byte[0], "hello".getBytes(StandardCharsets.UTF_8), new byte[100_000]}) {
            ByteArrayOutputStream prefixed = new ByteArrayOutputStream();
            prefixed.write("*=47".getBytes(StandardCharsets.US_ASCII));
            prefixed.write(data);
            byte[] digest = Digest.digest(data);
            assertEquals(16, digest.length);
            assertEquals(md5sum(prefixed.toByteArray()), HexFormat.of().formatHex(digest));
        }
        assertNotEquals(md5sum("hello".getBytes(StandardCharsets.UTF_8)),
                HexFormat.of().formatHex(Digest.digest("hello".getBytes(StandardCharsets.UTF_8))));
        assertThrows(NullPointerException.class, () -> Digest.digest(null));
    }

    @Test
    void appearanceWithoutAGraphicalSessionAndColoursInRange() {
        assertEquals("Unknown", Appearance.getAppAppearanceName());
        for (Supplier<float[]> color : java.util.List.<Supplier<float[]>>of(UIElementColor::_getControlColor,
                UIElementColor::_getControlBackgroundColor, UIElementColor::_getFindHighlightColor,
                UIElementColor::_getHighlightColor, UIElementColor::_getShadowColor,
                UIElementColor::_getSelectedControlColor, UIElementColor::_getControlAccentColor)) {
            float[] c = color.get();
            assertEquals(4, c.length);
            for (float x : c) assertTrue(x >= 0 && x <= 1, () -> java.util.Arrays.toString(c));
        }
        // The light palette (no preference can be read here): an opaque white view background.
        assertArrayEquals(new float[] {1, 1, 1, 1}, UIElementColor._getControlBackgroundColor());
    }

    @Test
    void sharingWithoutHandlersAndOutsideTheIndices() {
        for (int service : new int[] {0, 1, 2, 3, -1, Integer.MIN_VALUE}) {
            assertFalse(SocialOSX.isConfigured(service));
            assertFalse(SocialOSX.canShare(service, "text"));
            SocialOSX.share(service, "text");  // nothing to start
        }
        assertFalse(SocialOSX.canShare(0, null));
        SocialOSX.share(2, null);
    }

    @Test
    void helpReturnsAtOnce() {
        assertTimeoutPreemptively(Duration.ofMillis(500), HelpHook::showHelp);  // not in a bundle: one log line
    }

    @Test
    void activitiesAreHandlesThatEndOnce() throws Exception {
        long sleep = ProcessInfo.nativeBeginActivityWithOptions(1L << 20, "playing");
        long none = ProcessInfo.nativeBeginActivityWithOptions(0, "nothing to lock");
        assertNotEquals(0, sleep);
        assertNotEquals(sleep, none);
        Thread other = new Thread(() -> ProcessInfo.nativeEndActivity(sleep));
        other.start();
        other.join();
        ProcessInfo.nativeEndActivity(sleep);  // already ended
        ProcessInfo.nativeEndActivity(0);
        ProcessInfo.nativeEndActivity(none);
        assertThrows(NullPointerException.class, () -> ProcessInfo.nativeBeginActivityWithOptions(0, null));
    }
}
