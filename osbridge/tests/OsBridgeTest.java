import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.kestrane.core.OperatingSystemOSX;
import com.kestrane.core.osx.FileTag;
import java.nio.ByteBuffer;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.UserDefinedFileAttributeView;
import java.util.concurrent.atomic.AtomicInteger;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * The osbridge exports through the Java peers. CTest points HOME and XDG_* at a folder of the
 * build tree (KESTRANE_TEST_HOME), which this test fills before the first call.
 */
class OsBridgeTest {
    static Path home;
    static Path music;

    @BeforeAll
    static void prepareHome() throws Exception {
        home = Path.of(System.getenv("KESTRANE_TEST_HOME"));
        Files.createDirectories(home.resolve("config"));
        Files.writeString(home.resolve("config/user-dirs.dirs"), "XDG_MUSIC_DIR=\"$HOME/Musik\"\n");
        music = home.resolve("Musik");
        Files.createDirectories(music);
    }

    private static Path newFile(String name) throws Exception {
        Path p = music.resolve(name);
        Files.deleteIfExists(p);
        Files.writeString(p, "audio");
        return p;
    }

    private static void writeXmlPlist(Path file, String key, String value) throws Exception {
        String xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\">" + value + "</plist>";
        Files.getFileAttributeView(file, UserDefinedFileAttributeView.class)
                .write("kestrane." + key, ByteBuffer.wrap(xml.getBytes(StandardCharsets.UTF_8)));
    }

    @Test
    void tagsRoundTripInOrder() throws Exception {
        String url = newFile("tagged song.flac").toUri().toString();  // percent-escaped space
        String[] tags = {"Röck", "with, comma", "🎵 notes"};
        assertTrue(FileTag.setResourceValueForKey(url, tags, FileTag.TAG_NAMES));
        assertArrayEquals(tags, (String[]) FileTag.getResourceValueForKey(url, FileTag.TAG_NAMES));
        assertTrue(FileTag.setResourceValueForKey(url, new String[0], FileTag.TAG_NAMES));
        assertArrayEquals(new String[0], (String[]) FileTag.getResourceValueForKey(url, FileTag.TAG_NAMES));
        // An element holding U+0000 is refused, and nothing is written.
        assertTrue(FileTag.setResourceValueForKey(url, tags, FileTag.TAG_NAMES));
        assertFalse(FileTag.setResourceValueForKey(url, new String[] {"ab\0cd", "x"}, FileTag.TAG_NAMES));
        assertArrayEquals(tags, (String[]) FileTag.getResourceValueForKey(url, FileTag.TAG_NAMES));
    }

    @Test
    void numbersAndOtherKinds() throws Exception {
        Path file = newFile("values.flac");
        String url = file.toUri().toString();
        assertTrue(FileTag.setResourceValueForKey(url, -7, "rating"));
        assertEquals(-7, FileTag.getResourceValueForKey(url, "rating"));
        writeXmlPlist(file, "ratio", "<real>1.9</real>");
        assertEquals(1, FileTag.getResourceValueForKey(url, "ratio"));
        writeXmlPlist(file, "flag", "<true/>");
        assertEquals(1, FileTag.getResourceValueForKey(url, "flag"));
        writeXmlPlist(file, "off", "<false/>");
        assertEquals(0, FileTag.getResourceValueForKey(url, "off"));
        writeXmlPlist(file, "label", "<string>Live</string>");
        assertNull(FileTag.getResourceValueForKey(url, "label"));
        writeXmlPlist(file, "when", "<date>2020-01-01T00:00:00Z</date>");
        assertNull(FileTag.getResourceValueForKey(url, "when"));
        assertNull(FileTag.getResourceValueForKey(url, "never-set"));
        assertEquals(5, FileTag.getResourceValueForKey(url, "NSURLFileSizeKey"));
        assertNull(FileTag.getResourceValueForKey(url, "NSURLNameKey"));  // a string
        assertFalse(FileTag.setResourceValueForKey(url, 1, "NSURLFileSizeKey"));
    }

    @Test
    void missingFilesAndTextsThatAreNotFileUrls() throws Exception {
        String missing = music.resolve("missing.flac").toUri().toString();
        assertFalse(FileTag.setResourceValueForKey(missing, 3, "rating"));
        assertFalse(FileTag.setResourceValueForKey(missing, new String[] {"a"}, FileTag.TAG_NAMES));
        assertNull(FileTag.getResourceValueForKey(missing, FileTag.TAG_NAMES));
        String plainPath = newFile("plain.flac").toString();
        assertFalse(FileTag.setResourceValueForKey(plainPath, 3, "rating"));
        assertNull(FileTag.getResourceValueForKey(plainPath, FileTag.TAG_NAMES));
        assertNull(FileTag.getResourceValueForKey("::not a url::", FileTag.TAG_NAMES));
    }

    @Test
    void nullsThrowNullPointerException() throws Exception {
        String url = newFile("n.flac").toUri().toString();
        assertThrows(NullPointerException.class, () -> FileTag.getResourceValueForKey(null, "k"));
        assertThrows(NullPointerException.class, () -> FileTag.getResourceValueForKey(url, null));
        assertThrows(NullPointerException.class, () -> FileTag.setResourceValueForKey(url, 1, null));
        assertThrows(NullPointerException.class, () -> FileTag.setResourceValueForKey(url, (String[]) null, "k"));
        var e = assertThrows(NullPointerException.class,
                () -> FileTag.setResourceValueForKey(url, new String[] {"a", null}, "k"));
        assertTrue(e.getMessage().contains("values[1]"));
        assertThrows(NullPointerException.class, () -> OperatingSystemOSX.getExternalApplications(null));
        assertThrows(NullPointerException.class, () -> OperatingSystemOSX.openFileWithApplication(null, "x"));
        assertThrows(NullPointerException.class, () -> OperatingSystemOSX.openFileWithApplication("/x", null));
    }

    @Test
    void standardFolders() {
        assertEquals(music.toString(), OperatingSystemOSX.findFolder(1, 18));
        assertEquals(home.resolve("data").toString(), OperatingSystemOSX.findFolder(1, 14));
        assertEquals(home.resolve(".cache").toString(), OperatingSystemOSX.findFolder(3, 13));  // user before local
        assertEquals("/var/cache", OperatingSystemOSX.findFolder(2, 13));
        assertNull(OperatingSystemOSX.findFolder(2, 18));
        assertNull(OperatingSystemOSX.findFolder(1, 4242));
    }

    @Test
    void applicationsOfNothingAndOpeningWhatIsMissing() {
        assertArrayEquals(new String[0], OperatingSystemOSX.getExternalApplications("not a url"));
        assertArrayEquals(new String[0], OperatingSystemOSX.getExternalApplications("nohandler-kestrane://x"));
        assertFalse(OperatingSystemOSX.openFileWithApplication(music.resolve("missing.flac").toString(), "Player"));
    }

    private static int myNice() throws Exception {
        String stat = Files.readString(Path.of("/proc/thread-self/stat"));
        String[] fields = stat.substring(stat.lastIndexOf(')') + 2).split(" ");
        return Integer.parseInt(fields[16]);  // field 19 of the whole line
    }

    @Test
    void threadPriorityChangesOnlyTheCallingThread() throws Exception {
        int before = myNice();
        AtomicInteger lowered = new AtomicInteger(Integer.MIN_VALUE);
        Thread worker = new Thread(() -> {
            try {
                assertTrue(OperatingSystemOSX.setThreadPriority(0.25f));
                lowered.set(myNice());
            } catch (Exception e) {
                throw new RuntimeException(e);
            }
        });
        worker.start();
        worker.join();
        assertEquals(10, lowered.get());
        assertEquals(before, myNice());
    }
}
