package com.kestrane.hostile;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.File;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Enumeration;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;
import java.util.jar.JarEntry;
import java.util.jar.JarFile;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.stream.Stream;
import org.junit.jupiter.api.DynamicTest;
import org.junit.jupiter.api.TestFactory;

/**
 * Every peer class with native methods, found in the peers' jar (a new method or class is
 * covered without editing this test), called by HostileChild in a JVM of its own under
 * -Xcheck:jni, in an environment with no desktop, no bus, no music library and no sound
 * device: each child must end by itself within its time, without a crash, without a JNI
 * warning, having thrown only exceptions the README names.
 */
class HostileCallerTest {
    static final long TIMEOUT_SECONDS = 180;
    /** GLib's criticals and errors, of any of its libraries: "GLib-CRITICAL", "GLib-GIO-ERROR", ... */
    static final Pattern GLIB_COMPLAINT = Pattern.compile("GLib(-[A-Za-z]+)?-(CRITICAL|ERROR)");

    static List<String> peerClasses() throws Exception {
        List<String> names = new ArrayList<>();
        try (JarFile jar = new JarFile(System.getProperty("kestrane.peers.jar"))) {
            for (Enumeration<JarEntry> e = jar.entries(); e.hasMoreElements();) {
                String entry = e.nextElement().getName();
                if (!entry.endsWith(".class") || entry.contains("$")) continue;
                String name = entry.substring(0, entry.length() - 6).replace('/', '.');
                Class<?> cls = Class.forName(name, false, HostileCallerTest.class.getClassLoader());
                for (Method m : cls.getDeclaredMethods()) {
                    if (Modifier.isNative(m.getModifiers())) {
                        names.add(name);
                        break;
                    }
                }
            }
        }
        return names;
    }

    @TestFactory
    Stream<DynamicTest> everyNativeMethodOfEveryPeer() throws Exception {
        List<String> classes = peerClasses();
        assertTrue(classes.size() >= 20, "peer classes found: " + classes);
        Stream<DynamicTest> alone = classes.stream().map(name -> DynamicTest.dynamicTest(name, () -> runChild(name, null)));
        // The player once more on the session bus that the suite runs on, where every player is
        // also shown on the desktop's media controls.
        String bus = System.getenv("DBUS_SESSION_BUS_ADDRESS");
        if (bus == null || !classes.contains(PLAYER)) return alone;
        return Stream.concat(alone, Stream.of(DynamicTest.dynamicTest(PLAYER + " on a session bus", () -> runChild(PLAYER, bus))));
    }

    static final String PLAYER = "com.kestrane.sonvekt.player.AVPlayer";

    /** sessionBus: the address of the bus the child is on; null for none. */
    static void runChild(String className, String sessionBus) throws Exception {
        Path home = Files.createTempDirectory("hostile-home");
        String java = Path.of(System.getProperty("java.home"), "bin", "java").toString();
        ProcessBuilder pb = new ProcessBuilder(java, "-Xcheck:jni", "-Xmx2g",
                "-Dkestrane.native.dir=" + System.getProperty("kestrane.native.dir"),
                "-cp", System.getProperty("kestrane.test.classpath"), HostileChild.class.getName(), className);
        Map<String, String> env = pb.environment();
        env.put("HOME", home.toString());
        for (String v : new String[] {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
            env.put(v, home.resolve(v.toLowerCase()).toString());
        }
        // No schemas, on a desktop that would ask GNOME's settings: the places that abort.
        env.put("XDG_DATA_DIRS", home.resolve("none").toString());
        env.put("XDG_CURRENT_DESKTOP", "GNOME");
        env.put("DBUS_SESSION_BUS_ADDRESS", sessionBus != null ? sessionBus : "unix:path=" + home.resolve("no-bus"));
        env.put("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + home.resolve("no-system-bus"));
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.put("KESTRANE_MUSIC_LIBRARY", home.resolve("no-library.xml").toString());
        env.put("KESTRANE_AUDIO_SINK", "fakesink");
        env.put("TMPDIR", home.toString());
        pb.redirectErrorStream(true);
        File log = home.resolve("child.log").toFile();
        pb.redirectOutput(log);
        Process child = pb.start();
        boolean ended = child.waitFor(TIMEOUT_SECONDS, TimeUnit.SECONDS);
        if (!ended) child.destroyForcibly().waitFor();
        String output = Files.readString(log.toPath(), StandardCharsets.UTF_8);
        assertTrue(ended, className + " hung; its output:\n" + tail(output));
        assertEquals(0, child.exitValue(), className + " ended with " + child.exitValue() + ":\n" + tail(output));
        assertFalse(output.contains("WARNING in native method"), className + " made a JNI warning:\n" + tail(output));
        // A library that leaves SIGPIPE ignored (GDBus does) leaves it ignored for every process
        // the JVM starts, whose pipelines then fail with "Broken pipe". The child reports what a
        // process it starts inherits; -Xcheck:jni's own warning only catches the change when
        // its periodic check happens to fall inside it.
        Matcher ignored = Pattern.compile("inherited SigIgn:\\s*([0-9a-f]+)").matcher(output);
        assertTrue(ignored.find(), tail(output));
        final long sigpipe = 1L << (13 - 1);
        assertEquals(0, Long.parseUnsignedLong(ignored.group(1), 16) & sigpipe, className + " left SIGPIPE ignored:\n" + tail(output));
        assertFalse(GLIB_COMPLAINT.matcher(output).find(), className + " made GLib complain:\n" + tail(output));
        assertTrue(output.contains("calls="), tail(output));
        String calls = output.substring(output.lastIndexOf("calls=") + 6).trim().split("\\s")[0];
        System.out.println(className + ": " + calls + " calls");
    }

    static String tail(String text) {
        return text.length() > 4000 ? text.substring(text.length() - 4000) : text;
    }
}
