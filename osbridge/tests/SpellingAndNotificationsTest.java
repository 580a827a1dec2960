import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTimeoutPreemptively;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.kestrane.core.lang.SpellCheckerOSX;
import com.kestrane.core.osx.UserNotificationCenter;
import java.time.Duration;
import java.util.Arrays;
import org.junit.jupiter.api.Test;

/** Spelling with the system's en_US and de_DE dictionaries, and notifications without a bus. */
class SpellingAndNotificationsTest {
    @Test
    void checkFindsUtf16RangesAndGuessesAreNeverNull() {
        String text = "\uD83C\uDFB5 Ths is fine";
        assertArrayEquals(new int[] {3, 3}, SpellCheckerOSX.nativeCheck(text, 0, "en_US"));
        assertArrayEquals(new int[] {-1, 0}, SpellCheckerOSX.nativeCheck(text, 4, "en_US"));  // no wrap
        String[] guesses = SpellCheckerOSX.nativeGuesses("speling", 0, 7, "en_US");
        assertTrue(Arrays.asList(guesses).contains("spelling"), Arrays.toString(guesses));
        assertNotNull(SpellCheckerOSX.nativeGuesses("", 0, 0, null));
        // The language of guesses lasts: a null-language check is German afterwards.
        SpellCheckerOSX.nativeGuesses("Strase", 0, 6, "de_DE");
        assertArrayEquals(new int[] {-1, 0}, SpellCheckerOSX.nativeCheck("Die Straße ist schön", 0, null));
        SpellCheckerOSX.nativeGuesses("x", 0, 1, "en_US");
    }

    @Test
    void offsetsOutsideTheTextAreRejected() {
        assertThrows(IndexOutOfBoundsException.class, () -> SpellCheckerOSX.nativeCheck("abc", 4, null));
        assertThrows(IndexOutOfBoundsException.class, () -> SpellCheckerOSX.nativeCheck("abc", -1, null));
        assertThrows(IndexOutOfBoundsException.class, () -> SpellCheckerOSX.nativeGuesses("abc", 2, 2, null));
        assertThrows(IndexOutOfBoundsException.class, () -> SpellCheckerOSX.nativeGuesses("abc", 0, -1, null));
        NullPointerException e = assertThrows(NullPointerException.class, () -> SpellCheckerOSX.nativeCheck(null, 0, null));
        assertEquals("text must not be null", e.getMessage());
    }

    @Test
    void aNotificationWithoutABusReturnsAtOnce() {
        assertTimeoutPreemptively(Duration.ofSeconds(1), () -> {
            UserNotificationCenter.nativeDeliverNotification(null, null, null, null, null);
            UserNotificationCenter.nativeDeliverNotification("t", "unused", "body", "bell", new byte[] {1, 2, 3});
        });
    }
}
