package com.kestrane.hostile;

import com.kestrane.core.osx.ProcessInfo;
import com.kestrane.itlibrary.ITLibAlbum;
import com.kestrane.itlibrary.ITLibArray;
import com.kestrane.itlibrary.ITLibArtist;
import com.kestrane.itlibrary.ITLibArtwork;
import com.kestrane.itlibrary.ITLibMediaItem;
import com.kestrane.itlibrary.ITLibPlaylist;
import com.kestrane.itlibrary.ITLibrary;
import com.kestrane.sonvekt.math.NativeFFT;
import com.kestrane.sonvekt.player.AVPlayer;
import java.lang.reflect.Field;
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
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Objects;

/**
 * Handles nobody should hand a native method: garbage numbers, handles of objects that have
 * ended, and live handles of other kinds, for every method of a class that takes handles (in its
 * peer's "pointer" field or as a long parameter). Each call must answer exactly as the same call
 * with handle 0 (the same value, or an exception of the same class; handles returned compare as
 * zero or not), and the live objects must work as before once every call is done.
 */
final class HandleMisuse {
    /** The kind of handle each class takes; methods of other classes take none. */
    static final Map<Class<?>, String> OWN_KIND = Map.of(ITLibrary.class, "library", ITLibArray.class, "array",
            ITLibMediaItem.class, "item", ITLibPlaylist.class, "playlist", ITLibAlbum.class, "album",
            ITLibArtist.class, "artist", ITLibArtwork.class, "artwork", NativeFFT.class, "fft",
            AVPlayer.class, "player", ProcessInfo.class, "activity");

    static boolean takesHandles(Class<?> cls) {
        return OWN_KIND.containsKey(cls);
    }

    /** Live handles by kind, kept alive until the end. */
    final Map<String, Long> live = new LinkedHashMap<>();
    /** Numbers that name no live object of any kind, with what they are. */
    final Map<String, Long> dead = new LinkedHashMap<>();
    ITLibrary library;
    ITLibArray items;
    Path libraryFile;
    String artworkUrl;

    void run(Class<?> cls) throws Exception {
        makeHandles();
        String own = OWN_KIND.get(cls);
        Map<String, Long> bad = new LinkedHashMap<>(dead);
        live.forEach((kind, handle) -> {
            if (!kind.equals(own)) bad.put("live " + kind, handle);
        });
        for (Method m : cls.getDeclaredMethods()) {
            if (!Modifier.isNative(m.getModifiers()) || m.getName().equals("init") || m.getName().equals("open")) continue;
            m.setAccessible(true);
            if (Modifier.isStatic(m.getModifiers())) {
                Class<?>[] types = m.getParameterTypes();
                for (int i = 0; i < types.length; i++) {
                    if (types[i] != long.class || m.getName().equals("nativeBeginActivityWithOptions")) continue;
                    for (Map.Entry<String, Long> b : bad.entrySet()) {
                        Object[] args = ordinaryArgs(types);
                        Object[] zero = args.clone();
                        zero[i] = 0L;
                        args[i] = b.getValue();
                        sameAsZero(m, null, zero, null, args, b.getKey());
                    }
                }
            } else {
                Object zeroPeer = peer(cls, 0);
                for (Map.Entry<String, Long> b : bad.entrySet()) {
                    Object[] args = ordinaryArgs(m.getParameterTypes());
                    sameAsZero(m, zeroPeer, args, peer(cls, b.getValue()), args.clone(), b.getKey());
                }
            }
        }
        if (cls == ITLibArray.class || cls == ITLibAlbum.class || cls == ITLibArtist.class || cls == ITLibArtwork.class) {
            overRelease(cls);
        }
        checkLiveObjectsStillWork();
    }

    static Object[] ordinaryArgs(Class<?>[] types) {
        Object[] args = new Object[types.length];
        for (int i = 0; i < types.length; i++) args[i] = HostileChild.ordinary(types[i]);
        return args;
    }

    static Object peer(Class<?> cls, long handle) throws Exception {
        Object peer = HostileChild.unopened(cls);
        Field pointer = cls.getSuperclass().getDeclaredField("pointer");
        pointer.setAccessible(true);
        pointer.setLong(peer, handle);
        return peer;
    }

    /** The call's value, or its exception's class. */
    static Object outcome(Method m, Object receiver, Object[] args) {
        HostileChild.calls++;
        try {
            Object value = m.invoke(receiver, args);
            // Handles come back new from some calls (an empty list for no library): compare
            // them as zero or not.
            if (value instanceof Long l && m.getName().startsWith("_") && m.getReturnType() == long.class
                    && !m.getName().contains("Id") && !m.getName().contains("Date") && !m.getName().contains("Modification")) {
                return l == 0 ? "no handle" : "a handle";
            }
            return value;
        } catch (InvocationTargetException e) {
            Throwable cause = e.getCause();
            if (!HostileChild.ALLOWED.contains(cause.getClass().getName())) {
                fail("UNEXPECTED " + cause + " from " + m);
            }
            return cause.getClass();
        } catch (IllegalAccessException e) {
            throw new IllegalStateException(e);
        }
    }

    static void sameAsZero(Method m, Object zeroReceiver, Object[] zeroArgs, Object receiver, Object[] args, String what) {
        Object expected = outcome(m, zeroReceiver, zeroArgs);
        Object got = outcome(m, receiver, args);
        if (!Objects.deepEquals(normal(expected), normal(got))) {
            fail(m + " with " + what + " answered " + describe(got) + " where handle 0 answers " + describe(expected));
        }
    }

    static Object normal(Object o) {
        return o instanceof Object[] a ? Arrays.deepToString(a) : o;
    }

    static String describe(Object o) {
        return String.valueOf(normal(o));
    }

    static void fail(String message) {
        System.out.println(message);
        System.exit(3);
    }

    /** A live object of every kind, and handles of every kind whose objects have ended. */
    void makeHandles() throws Exception {
        Path folder = Files.createTempDirectory("handles");
        Path wav = folder.resolve("cover.wav");
        Files.write(wav, wavWithCover());
        artworkUrl = wav.toUri().toString();
        libraryFile = Path.of(System.getenv("KESTRANE_MUSIC_LIBRARY"));
        Files.writeString(libraryFile, libraryText(artworkUrl, "first"));
        library = new ITLibrary("1.1");
        live.put("library", library.handle());

        // Every catalogue object of a load that the library then replaces, and that nothing
        // holds any more once this thread's last object is of the new load.
        ITLibArray oldItems = library.getAllMediaItems();
        ITLibMediaItem oldItem = oldItems.getMediaItem(0);
        dead.put("item of a replaced load", oldItem.handle());
        dead.put("album of a replaced load", oldItem._getAlbum());
        dead.put("artist of a replaced load", oldItem._getArtist());
        dead.put("list of a replaced load", oldItems.handle());
        try (ITLibArray oldPlaylists = library.getAllPlaylists()) {
            dead.put("playlist of a replaced load", oldPlaylists._get(0));
        }
        Files.writeString(libraryFile, libraryText(artworkUrl, "second, longer"));
        if (!library._reloadData()) fail("reload failed");
        oldItems.close();

        items = library.getAllMediaItems();
        live.put("array", items.handle());
        ITLibMediaItem item = items.getMediaItem(0);
        live.put("item", item.handle());
        ITLibArray playlists = library.getAllPlaylists();  // kept, with its playlists
        live.put("playlist", playlists._get(0));
        live.put("album", new ITLibAlbum(item._getAlbum())._retain());
        live.put("artist", new ITLibArtist(item._getArtist())._retain());
        long artwork = library._artworkForMediaFile(artworkUrl);
        if (artwork == 0) fail("no artwork in " + artworkUrl);
        live.put("artwork", new ITLibArtwork(artwork)._retain());
        live.put("fft", NativeFFT.init(64));
        live.put("player", AVPlayer.open(HostileChild.tone().toUri().toString()));
        live.put("activity", ProcessInfo.nativeBeginActivityWithOptions(1L << 20, "handles"));

        // A list made for one caller and artwork, once this thread's next object replaced them.
        dead.put("released list", library._getMediaItemsChangedSince(-1));
        library._getAllPlaylists();
        dead.put("released artwork", library._artworkForMediaFile(artworkUrl));
        library._getAllPlaylists();

        // Ended objects of the kinds the Java side ends itself, each followed by a new object of
        // the same kind that may take its place.
        long fft = NativeFFT.init(64);
        NativeFFT.destroy(fft);
        dead.put("ended fft setup", fft);
        long player = AVPlayer.open(HostileChild.tone().toUri().toString());
        AVPlayer.close(player);
        dead.put("closed player", player);
        long activity = ProcessInfo.nativeBeginActivityWithOptions(1L << 20, "ended");
        ProcessInfo.nativeEndActivity(activity);
        dead.put("ended activity", activity);
        long replacement = NativeFFT.init(64);
        NativeFFT.destroy(fft);  // a second end of the first setup must leave the new one alone
        if (NativeFFT.realFFT(replacement, true, 64, new float[64], null).length != 2) fail("a stale end ended a new setup");
        NativeFFT.destroy(replacement);

        // Garbage: small numbers, addresses, and near misses of live handles.
        long someLive = live.get("item");
        dead.put("eight", 8L);
        dead.put("an address", 0x7f00_1234_5000L);
        dead.put("negative", -8L);
        dead.put("a live handle plus one", someLive + 1);
        dead.put("a live handle's next generation", someLive + (1L << 24));
        dead.put("a live handle's slot as another kind", someLive ^ (1L << 59));
    }

    /** Gives back more references than were taken: what the library holds must stay. */
    void overRelease(Class<?> cls) throws Exception {
        Method retain = cls.getDeclaredMethod("_retain");
        Method release = cls.getDeclaredMethod("_release");
        String kind = OWN_KIND.get(cls);
        // The library's own list and artwork no one else holds; albums and artists are the live ones.
        long handle = kind.equals("array") ? library._getAllMediaItems()
                : kind.equals("artwork") ? library._artworkForMediaFile(artworkUrl) : live.get(kind);
        Object peer = peer(cls, handle);
        for (int i = 0; i < 5; i++) release.invoke(peer);  // never taken
        if ((long) retain.invoke(peer) != handle) fail("_retain of a live " + kind + " did not return its handle");
        for (int i = 0; i < 5; i++) release.invoke(peer);  // taken once
        for (Long d : dead.values()) {
            release.invoke(peer(cls, d));
            if ((long) retain.invoke(peer(cls, d)) != 0) fail("_retain of a dead handle gave a handle");
        }
        HostileChild.calls += 12 + 2 * dead.size();
        // An end while other threads still read the list.
        if (cls == ITLibArray.class) {
            for (int round = 0; round < 10; round++) {
                ITLibArray list = library.getMediaItemsChangedSince(-1);
                HostileChild.endDuringCalls(() -> {
                    for (int i = 0; i < list._size(); i++) new ITLibMediaItem(list._get(i)).getTitle();
                }, () -> {
                    list.close();
                    library._getAllPlaylists();  // this thread's hold on the list goes too
                });
            }
        }
    }

    /** Everything live must still answer as live after the misuse. */
    void checkLiveObjectsStillWork() {
        if (library.getAllMediaItems()._size() != 2) fail("the library lost its items");
        ITLibMediaItem item = new ITLibMediaItem(live.get("item"));
        if (!"first track".equals(item.getTitle())) fail("a live item reads " + item.getTitle());
        if (items._size() != 2) fail("a retained list lost its items");
        if (!"Album".equals(new ITLibAlbum(live.get("album")).getTitle())) fail("a live album broke");
        if (!"Artist".equals(new ITLibArtist(live.get("artist")).getName())) fail("a live artist broke");
        if (new ITLibPlaylist(live.get("playlist")).getName() == null) fail("a live playlist broke");
        if (new ITLibArtwork(live.get("artwork")).getImageData().length == 0) fail("live artwork broke");
        if (NativeFFT.realFFT(live.get("fft"), true, 64, new float[64], null).length != 2) fail("a live setup broke");
        if (AVPlayer.getStatus(live.get("player")) != 1) fail("a live player broke");
        HostileChild.calls += 9;
        NativeFFT.destroy(live.get("fft"));
        AVPlayer.close(live.get("player"));
        ProcessInfo.nativeEndActivity(live.get("activity"));
    }

    static String libraryText(String artworkUrl, String version) {
        String track = "<key>%d</key><dict><key>Track ID</key><integer>%d</integer><key>Name</key><string>%s</string>"
                + "<key>Artist</key><string>Artist</string><key>Album</key><string>Album</string>"
                + "<key>Persistent ID</key><string>%016X</string><key>Location</key><string>%s</string></dict>";
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
                + "<key>Application Version</key><string>" + version + "</string><key>Tracks</key><dict>"
                + String.format(track, 1, 1, "first track", 1, artworkUrl) + String.format(track, 2, 2, "second track", 2, artworkUrl)
                + "</dict><key>Playlists</key><array><dict><key>Name</key><string>List</string>"
                + "<key>Playlist Persistent ID</key><string>00000000000000AA</string><key>Playlist Items</key><array>"
                + "<dict><key>Track ID</key><integer>1</integer></dict></array></dict></array></dict></plist>";
    }

    /** A short WAV file whose ID3v2 chunk holds a PNG front cover. */
    static byte[] wavWithCover() throws Exception {
        byte[] png = {(byte) 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 0};
        byte[] mime = "image/png\0".getBytes(StandardCharsets.US_ASCII);
        int frameSize = 1 + mime.length + 1 + 1 + png.length;
        ByteBuffer id3 = ByteBuffer.allocate(10 + 10 + frameSize).order(ByteOrder.BIG_ENDIAN);
        id3.put("ID3".getBytes(StandardCharsets.US_ASCII)).put((byte) 3).put((byte) 0).put((byte) 0);
        int tagSize = 10 + frameSize;  // synchsafe, small enough for one byte group each
        id3.put((byte) ((tagSize >> 21) & 0x7F)).put((byte) ((tagSize >> 14) & 0x7F)).put((byte) ((tagSize >> 7) & 0x7F))
           .put((byte) (tagSize & 0x7F));
        id3.put("APIC".getBytes(StandardCharsets.US_ASCII)).putInt(frameSize).putShort((short) 0);
        id3.put((byte) 0).put(mime).put((byte) 3).put((byte) 0).put(png);
        byte[] tone = Files.readAllBytes(HostileChild.tone());
        byte[] tag = id3.array();
        int padded = tag.length + (tag.length & 1);
        ByteBuffer wav = ByteBuffer.allocate(tone.length + 8 + padded).order(ByteOrder.LITTLE_ENDIAN);
        wav.put(tone, 0, 4).putInt(tone.length - 8 + 8 + padded).put(tone, 8, tone.length - 8);
        wav.put("id3 ".getBytes(StandardCharsets.US_ASCII)).putInt(tag.length).put(tag);
        if (padded != tag.length) wav.put((byte) 0);
        return wav.array();
    }
}
