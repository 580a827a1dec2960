package com.kestrane.hostile;

import java.io.IOException;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Set;
import java.util.concurrent.atomic.AtomicBoolean;

/**
 * Calls every native method of one peer class the way a hostile caller would: each parameter
 * in turn takes nulls, zeros, -1, the extremes of its type, NaN and infinities, empty and short
 * arrays, empty strings, strings with U+0000 and lone surrogates, a 1 MB string and odd URLs,
 * while the others keep ordinary values; then every parameter takes its odd values together.
 * Runs in a JVM of its own (see HostileCallerTest), so that a crash names its class.
 *
 * Then, for a class that takes handles, every method gets handles nobody should hand it:
 * garbage numbers, handles whose objects have ended (of every kind, the catalogue's included)
 * and live handles of other kinds; each must answer as the same call with handle 0 does, and
 * the live objects must be untouched afterwards. References are given back more often than
 * they were taken, and ended while other threads still call.
 *
 * Prints "calls=N" and exits 0 when every call returned or threw an exception that the
 * README names; prints the call and exits 3 otherwise.
 */
public final class HostileChild {
    /** The exception classes the README names for the libraries' exports. */
    static final Set<String> ALLOWED = Set.of("java.lang.NullPointerException", "java.lang.IllegalArgumentException",
            "java.lang.IndexOutOfBoundsException", "java.io.IOException", "java.io.FileNotFoundException",
            "com.kestrane.itlibrary.ITLibException", "java.lang.OutOfMemoryError");

    static final String MEGABYTE = "a".repeat(1 << 20);
    static int calls = 0;

    static Object[] oddValues(Class<?> type) {
        if (type == String.class) {
            return new Object[] {null, "", "\0", "a\0b", "\uD800", "x\uDC00y", MEGABYTE, "file:", "file://",
                "file://otherhost/x", "http://", "http://127.0.0.1:9/closed-port.mp3", "/tmp/plain/path", "file:///nonexistent/\0x", "NSURLTagNamesKey"};
        }
        if (type == int.class) return new Object[] {0, -1, 1, 3, Integer.MIN_VALUE, Integer.MAX_VALUE};
        if (type == long.class) return new Object[] {0L, -1L, 1L, Long.MIN_VALUE, Long.MAX_VALUE};
        if (type == float.class) {
            return new Object[] {0f, -1f, Float.NaN, Float.POSITIVE_INFINITY, Float.NEGATIVE_INFINITY, Float.MAX_VALUE};
        }
        if (type == double.class) return new Object[] {0d, -1d, Double.NaN, Double.POSITIVE_INFINITY};
        if (type == boolean.class) return new Object[] {false, true};
        if (type == byte[].class) return new Object[] {null, new byte[0], new byte[1], new byte[1 << 20]};
        if (type == float[].class) return new Object[] {null, new float[0], new float[3], new float[16]};
        if (type == String[].class) return new Object[] {null, new String[0], new String[] {null}, new String[] {"\0"}};
        return new Object[] {null};
    }

    static Object ordinary(Class<?> type) {
        if (type == String.class) return "x";
        if (type == int.class) return 16;
        if (type == long.class) return 0L;
        if (type == float.class) return 1f;
        if (type == double.class) return 1d;
        if (type == boolean.class) return true;
        if (type == byte[].class) return new byte[] {1, 2, 3};
        if (type == float[].class) return new float[16];
        if (type == String[].class) return new String[] {"x"};
        return null;
    }

    /** An instance whose native handle is 0, made without running a constructor. */
    static Object unopened(Class<?> cls) throws Exception {
        var field = Class.forName("sun.misc.Unsafe").getDeclaredField("theUnsafe");
        field.setAccessible(true);
        Object unsafe = field.get(null);
        return unsafe.getClass().getMethod("allocateInstance", Class.class).invoke(unsafe, cls);
    }

    static void call(Method m, Object target, Object[] args) {
        calls++;
        try {
            m.invoke(target, args);
        } catch (InvocationTargetException e) {
            Throwable cause = e.getCause();
            if (!ALLOWED.contains(cause.getClass().getName())) {
                System.out.println("UNEXPECTED " + cause + " from " + m + " with " + describe(args));
                cause.printStackTrace(System.out);
                System.exit(3);
            }
        } catch (IllegalAccessException e) {
            throw new IllegalStateException(e);
        }
    }

    static String describe(Object[] args) {
        List<String> out = new ArrayList<>();
        for (Object a : args) {
            String text = a instanceof float[] f ? "float[" + f.length + "]"
                    : a instanceof byte[] b ? "byte[" + b.length + "]"
                    : a instanceof String[] s ? Arrays.toString(s) : String.valueOf(a);
            out.add(text.length() > 40 ? text.substring(0, 40) + "...(" + text.length() + ")" : text);
        }
        return out.toString();
    }

    static void hostileCalls(Class<?> cls) throws Exception {
        Object target = null;
        for (Method m : cls.getDeclaredMethods()) {
            if (!Modifier.isNative(m.getModifiers())) continue;
            m.setAccessible(true);
            if (!Modifier.isStatic(m.getModifiers()) && target == null) target = unopened(cls);
            Object receiver = Modifier.isStatic(m.getModifiers()) ? null : target;
            Class<?>[] types = m.getParameterTypes();
            Object[] base = new Object[types.length];
            for (int i = 0; i < types.length; i++) base[i] = ordinary(types[i]);
            call(m, receiver, base.clone());
            // One parameter at a time.
            for (int i = 0; i < types.length; i++) {
                for (Object odd : oddValues(types[i])) {
                    Object[] args = base.clone();
                    args[i] = odd;
                    call(m, receiver, args);
                }
            }
            // All together: the k-th odd value of every parameter.
            for (int k = 0; k < 15 && types.length > 1; k++) {
                Object[] args = new Object[types.length];
                for (int i = 0; i < types.length; i++) {
                    Object[] odd = oddValues(types[i]);
                    args[i] = odd[k % odd.length];
                }
                call(m, receiver, args);
            }
        }
    }

    /** A short WAV file for the player's lifecycle. */
    static Path tone() throws IOException {
        int rate = 8000, samples = 4000;
        ByteBuffer b = ByteBuffer.allocate(44 + 2 * samples).order(ByteOrder.LITTLE_ENDIAN);
        b.put("RIFF".getBytes(StandardCharsets.US_ASCII)).putInt(36 + 2 * samples)
         .put("WAVEfmt ".getBytes(StandardCharsets.US_ASCII)).putInt(16).putShort((short) 1).putShort((short) 1)
         .putInt(rate).putInt(2 * rate).putShort((short) 2).putShort((short) 16)
         .put("data".getBytes(StandardCharsets.US_ASCII)).putInt(2 * samples);
        for (int i = 0; i < samples; i++) b.putShort((short) (3000 * Math.sin(i * 0.3)));
        Path file = Files.createTempFile("hostile", ".wav");
        Files.write(file, b.array());
        return file;
    }

    /** Runs body on four threads while end runs once on this one, halfway. */
    static void endDuringCalls(Runnable body, Runnable end) throws Exception {
        AtomicBoolean stop = new AtomicBoolean();
        List<Thread> threads = new ArrayList<>();
        for (int t = 0; t < 4; t++) {
            Thread thread = new Thread(() -> {
                while (!stop.get()) body.run();
            });
            thread.start();
            threads.add(thread);
        }
        Thread.sleep(50);
        end.run();
        Thread.sleep(50);
        stop.set(true);
        for (Thread t : threads) t.join();
        calls += 8;
    }

    /** Double ends, use after end, and an end while other threads still call. */
    static void lifecycle(String name) throws Exception {
        switch (name) {
            case "com.kestrane.sonvekt.math.NativeFFT" -> {
                for (int round = 0; round < 20; round++) {
                    long setup = com.kestrane.sonvekt.math.NativeFFT.init(64);
                    float[] samples = new float[64];
                    endDuringCalls(() -> {
                        try {
                            com.kestrane.sonvekt.math.NativeFFT.realFFT(setup, true, 64, samples, null);
                        } catch (IllegalArgumentException expected) {
                            // the setup has ended
                        }
                    }, () -> com.kestrane.sonvekt.math.NativeFFT.destroy(setup));
                    com.kestrane.sonvekt.math.NativeFFT.destroy(setup);
                }
            }
            case "com.kestrane.sonvekt.player.AVPlayer" -> {
                String url = tone().toUri().toString();
                for (int round = 0; round < 5; round++) {
                    long p = com.kestrane.sonvekt.player.AVPlayer.open(url);
                    endDuringCalls(() -> {
                        com.kestrane.sonvekt.player.AVPlayer.start(p);
                        com.kestrane.sonvekt.player.AVPlayer.getTime(p);
                        com.kestrane.sonvekt.player.AVPlayer.setTime(p, 100);
                        com.kestrane.sonvekt.player.AVPlayer.stop(p);
                    }, () -> com.kestrane.sonvekt.player.AVPlayer.close(p));
                    com.kestrane.sonvekt.player.AVPlayer.close(p);
                    com.kestrane.sonvekt.player.AVPlayer.start(p);
                }
            }
            case "com.kestrane.core.osx.ProcessInfo" -> {
                long a = com.kestrane.core.osx.ProcessInfo.nativeBeginActivityWithOptions(1L << 20, "hostile");
                com.kestrane.core.osx.ProcessInfo.nativeEndActivity(a);
                com.kestrane.core.osx.ProcessInfo.nativeEndActivity(a);
                calls += 3;
            }
            default -> { }
        }
    }

    public static void main(String[] args) throws Exception {
        Class<?> cls = Class.forName(args[0]);
        hostileCalls(cls);
        lifecycle(args[0]);
        if (HandleMisuse.takesHandles(cls)) new HandleMisuse().run(cls);
        System.out.println("inherited " + ignoredSignalsOfAChild());
        System.out.println("calls=" + calls);
        System.out.flush();
        Runtime.getRuntime().halt(0);  // no finalisation races with threads still in native code
    }

    /** The "SigIgn:" line of a process this JVM starts: the dispositions children inherit. */
    static String ignoredSignalsOfAChild() throws Exception {
        Process sh = new ProcessBuilder("/bin/sh", "-c", "grep '^SigIgn:' /proc/$$/status").redirectErrorStream(true).start();
        String line = new String(sh.getInputStream().readAllBytes(), StandardCharsets.UTF_8).trim();
        sh.waitFor();
        return line;
    }

    private HostileChild() {}

}
