import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNull;

import com.kestrane.itlibrary.ITLibArray;
import com.kestrane.itlibrary.ITLibMediaItem;
import com.kestrane.itlibrary.ITLibrary;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.FileTime;
import java.time.Instant;
import org.junit.jupiter.api.Test;

/** The library files users have, read through the Java peers. */
class LibraryFilesTest {
    static final Path FILE = CatalogBridgeTest.FILE;

    static ITLibMediaItem firstItem(ITLibrary lib) {
        try (ITLibArray items = lib.getAllMediaItems()) {
            assertEquals(1, items._size());
            return items.getMediaItem(0);
        }
    }

    static void dateFile(long secondsAgo) throws Exception {
        Files.setLastModifiedTime(FILE, FileTime.from(Instant.now().minusSeconds(secondsAgo)));
    }

    @Test
    void valuesBeyondAGettersRangeAreHeldToItAndBadOnesLeftOut() throws Exception {
        ITLibrary lib = CatalogBridgeTest.open(CatalogBridgeTest.library(CatalogBridgeTest.track(1, "0000000000000001",
                "<key>Size</key><integer>18446744073709551615</integer><key>Year</key><integer>4294969306</integer>"
                + "<key>Volume Adjustment</key><integer>-4294967296</integer><key>Play Count</key><integer>12a</integer>"
                + "<key>Date Added</key><date>2015-02-30T00:00:00Z</date><key>Name</key><string>kept</string>"), ""));
        ITLibMediaItem item = firstItem(lib);
        assertEquals(Long.MAX_VALUE, item.getFileSize());
        assertEquals("18446744073709551615", item._getProperty("Size"));
        assertEquals(Integer.MAX_VALUE, item.getYear());  // not 2010
        assertEquals(Integer.MIN_VALUE, item.getVolumeAdjustment());
        assertEquals(0, item.getPlayCount());
        assertNull(item._getProperty("Play Count"));
        assertEquals(0, item._getAddedDate());
        assertEquals("kept", item.getTitle());
    }

    @Test
    void utf16AndBinaryLibrariesRead() throws Exception {
        String name = "Caf\u00e9 \uD83C\uDFB5";
        String xml = CatalogBridgeTest.library(CatalogBridgeTest.track(1, "0000000000000001",
                "<key>Name</key><string>" + name + "</string>"), "");
        Files.createDirectories(FILE.getParent());
        Files.write(FILE, xml.replace("encoding=\"UTF-8\"", "encoding=\"UTF-16\"").getBytes(StandardCharsets.UTF_16));
        assertEquals(name, firstItem(new ITLibrary("1.1")).getTitle());

        // The same library as a binary property list, converted by Python's plistlib.
        Path xmlCopy = FILE.resolveSibling("copy.xml");
        Files.writeString(xmlCopy, xml);
        Process convert = new ProcessBuilder("python3", "-c",
                "import plistlib, sys\n"
                + "data = plistlib.load(open(sys.argv[1], 'rb'))\n"
                + "plistlib.dump(data, open(sys.argv[2], 'wb'), fmt=plistlib.FMT_BINARY)\n",
                xmlCopy.toString(), FILE.toString()).inheritIO().start();
        assertEquals(0, convert.waitFor());
        assertEquals("bplist00", new String(Files.readAllBytes(FILE), 0, 8, StandardCharsets.ISO_8859_1));
        assertEquals(name, firstItem(new ITLibrary("1.1")).getTitle());
    }

    @Test
    void librariesOnOneUnchangedFileShareTheirLists() throws Exception {
        String xml = CatalogBridgeTest.library(CatalogBridgeTest.track(1, "0000000000000001",
                "<key>Name</key><string>shared</string>"), "");
        Files.createDirectories(FILE.getParent());
        Files.writeString(FILE, xml);
        dateFile(3600);
        ITLibrary a = new ITLibrary("1.1");
        ITLibrary b = new ITLibrary("1.1");
        long list = a._getAllMediaItems();
        assertEquals(list, b._getAllMediaItems());  // one snapshot, so one list
        b._reloadData();
        assertEquals(list, b._getAllMediaItems());  // unchanged: not read again
        dateFile(1800);  // touched
        b._reloadData();
        assertNotEquals(list, b._getAllMediaItems());
    }
}
