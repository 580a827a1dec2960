package com.kestrane.demo;

import com.kestrane.core.osx.Appearance;
import com.kestrane.core.osx.UIElementColor;
import com.kestrane.core.osx.UserNotificationCenter;
import com.kestrane.itlibrary.ITLibAlbum;
import com.kestrane.itlibrary.ITLibArray;
import com.kestrane.itlibrary.ITLibArtist;
import com.kestrane.itlibrary.ITLibArtwork;
import com.kestrane.itlibrary.ITLibException;
import com.kestrane.itlibrary.ITLibMediaItem;
import com.kestrane.itlibrary.ITLibPlaylist;
import com.kestrane.itlibrary.ITLibrary;
import com.kestrane.sonvekt.math.NativeFFT;
import com.kestrane.sonvekt.player.AVPlayer;
import java.awt.AWTError;
import java.awt.BorderLayout;
import java.awt.Color;
import java.awt.Dimension;
import java.awt.GraphicsEnvironment;
import java.awt.HeadlessException;
import java.awt.Image;
import java.awt.event.MouseAdapter;
import java.awt.image.BufferedImage;
import java.awt.event.MouseEvent;
import java.awt.event.WindowAdapter;
import java.awt.event.WindowEvent;
import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.Executors;
import java.util.concurrent.ScheduledExecutorService;
import java.util.concurrent.TimeUnit;
import javax.imageio.ImageIO;
import javax.imageio.ImageReadParam;
import javax.imageio.ImageReader;
import javax.imageio.stream.ImageInputStream;
import javax.swing.BorderFactory;
import javax.swing.ImageIcon;
import javax.swing.JButton;
import javax.swing.JComponent;
import javax.swing.JFrame;
import javax.swing.JLabel;
import javax.swing.JPanel;
import javax.swing.JScrollPane;
import javax.swing.JSlider;
import javax.swing.JSplitPane;
import javax.swing.JTable;
import javax.swing.JTree;
import javax.swing.ListSelectionModel;
import javax.swing.SwingConstants;
import javax.swing.SwingUtilities;
import javax.swing.UIManager;
import javax.swing.plaf.basic.BasicTreeUI;
import javax.swing.table.AbstractTableModel;
import javax.swing.tree.DefaultMutableTreeNode;
import javax.swing.tree.DefaultTreeCellRenderer;

/**
 * The demo as a desktop window: the library as a table, the playlists as a tree, the selected
 * track's cover, a player with a position slider, and the playing track's spectrum.
 *
 * Threads: Swing objects are touched on the event thread only. Calls into the libraries that
 * may block (the library's artwork, the player, the notification's D-Bus call, the appearance
 * read from the desktop portal) run on two threads of the demo's own: "catalogue" for the music
 * library and the desktop, "player" for the player, its poll and the spectrum's analysis.
 */
final class DemoWindow {
    /** One row of the table, read once from the library so that painting makes no native call. */
    record Track(int index, String title, String artist, String album, long millis, String kind, String location) {}

    private static final String[] COLUMNS = {"Title", "Artist", "Album", "Length", "Kind"};
    private static final long POLL_MILLIS = 33;

    private final List<Track> tracks;
    private final ITLibArray items;  // kept open for the artwork of the selected track
    private final DefaultMutableTreeNode playlistRoot;
    private final String libraryProblem;
    private final SelfTest selfTest;

    private final ScheduledExecutorService catalogue = Executors.newSingleThreadScheduledExecutor(daemon("kestrane-demo-catalogue"));
    private final ScheduledExecutorService player = Executors.newSingleThreadScheduledExecutor(daemon("kestrane-demo-player"));

    // Event thread only.
    private JFrame frame;
    private JTable table;
    private JTree tree;
    private JLabel cover;
    private JLabel status;
    private JButton playPause;
    private JSlider position;
    private JLabel time;
    private SpectrumView spectrum;
    private boolean sliderFromPlayer;

    // Player thread only.
    private long handle;
    private long fftSetup;
    private DecodedAudio audio;
    private int playingRow = -1;
    private boolean wantPlaying;

    private DemoWindow(List<Track> tracks, ITLibArray items, DefaultMutableTreeNode playlistRoot, String libraryProblem,
                       SelfTest selfTest) {
        this.tracks = tracks;
        this.items = items;
        this.playlistRoot = playlistRoot;
        this.libraryProblem = libraryProblem;
        this.selfTest = selfTest;
    }

    /** Whether the environment names a display: an X11 one, or a Wayland one (reached through XWayland). */
    static boolean displayNamed() {
        if ("true".equalsIgnoreCase(System.getProperty("java.awt.headless"))) return false;
        return !System.getenv().getOrDefault("DISPLAY", "").isEmpty()
                || !System.getenv().getOrDefault("WAYLAND_DISPLAY", "").isEmpty();
    }

    /**
     * Opens the window when there is a display it can reach and returns true (the window then
     * keeps the program running); false, having shown nothing, when there is none. With
     * playFirst the first track starts once the window shows.
     */
    static boolean open(boolean playFirst) {
        if (!displayNamed()) return false;
        try {
            // Java's toolkit speaks X11 only: a Wayland session without DISPLAY (no XWayland) is
            // headless to it.
            if (GraphicsEnvironment.isHeadless() || GraphicsEnvironment.getLocalGraphicsEnvironment().getScreenDevices().length == 0) {
                System.err.println("kestrane demo: no window (no X11 display for Java's toolkit): listing the library instead");
                return false;
            }
        } catch (AWTError | HeadlessException | UnsatisfiedLinkError e) {
            // A named display that cannot be reached (a Wayland session without XWayland, a
            // stale DISPLAY): the console listing is still worth having.
            System.err.println("kestrane demo: no window (" + e.getMessage() + "): listing the library instead");
            return false;
        }
        DemoWindow window = load(SelfTest.fromEnvironment());
        SwingUtilities.invokeLater(() -> {
            window.show();
            if (playFirst && !window.tracks.isEmpty()) window.playFromEventThread(0);
        });
        return true;
    }

    /** Reads the library into plain rows and the playlist tree, off the event thread. */
    private static DemoWindow load(SelfTest selfTest) {
        List<Track> tracks = new ArrayList<>();
        DefaultMutableTreeNode root = new DefaultMutableTreeNode("Playlists");
        try {
            ITLibrary library = new ITLibrary("1.1");
            ITLibArray items = library.getAllMediaItems();
            for (int i = 0; i < items._size(); i++) {
                ITLibMediaItem item = items.getMediaItem(i);
                long album = item._getAlbum(), artist = item._getArtist();
                tracks.add(new Track(i, item.getTitle(), artist != 0 ? new ITLibArtist(artist).getName() : null,
                        album != 0 ? new ITLibAlbum(album).getTitle() : null, item.getTotalTime(), item.getKind(),
                        item._getLocation()));
            }
            try (ITLibArray playlists = library.getAllPlaylists()) {
                addPlaylists(root, playlists);
            }
            return new DemoWindow(tracks, items, root, null, selfTest);
        } catch (ITLibException e) {
            return new DemoWindow(tracks, null, root, "No music library: " + e.getMessage(), selfTest);
        }
    }

    /** The playlists under the tree's root, nested as their parent IDs say. */
    private static void addPlaylists(DefaultMutableTreeNode root, ITLibArray playlists) {
        Map<Long, List<ITLibPlaylist>> children = new HashMap<>();
        for (int i = 0; i < playlists._size(); i++) {
            ITLibPlaylist p = playlists.getPlaylist(i);
            children.computeIfAbsent(p._getParentId(), k -> new ArrayList<>()).add(p);
        }
        addChildren(root, children, 0L, 0);
    }

    private static void addChildren(DefaultMutableTreeNode node, Map<Long, List<ITLibPlaylist>> children, long parent,
                                    int depth) {
        // A parent ID that loops back to an ancestor must not recurse for ever.
        if (depth > 32) return;
        for (ITLibPlaylist p : children.getOrDefault(parent, List.of())) {
            DefaultMutableTreeNode child = new DefaultMutableTreeNode(p.getName() + " (" + p.getItemsIds().length + ")");
            node.add(child);
            if (p.getId() != parent) addChildren(child, children, p.getId(), depth + 1);
        }
    }

    private void show() {
        String lookAndFeel = useGtkLookAndFeel();
        frame = new JFrame("Kestrane Demo");
        frame.setDefaultCloseOperation(JFrame.DISPOSE_ON_CLOSE);
        frame.addWindowListener(new WindowAdapter() {
            @Override
            public void windowClosed(WindowEvent e) {
                quit(0);
            }
        });

        table = new JTable(new TrackTableModel(tracks));
        table.setSelectionMode(ListSelectionModel.SINGLE_SELECTION);
        table.setAutoCreateRowSorter(true);
        table.getSelectionModel().addListSelectionListener(e -> {
            if (!e.getValueIsAdjusting()) showCover(selectedTrack());
        });
        table.addMouseListener(new MouseAdapter() {
            @Override
            public void mouseClicked(MouseEvent e) {
                Track t = selectedTrack();
                if (e.getClickCount() == 2 && t != null) playFromEventThread(t.index());
            }
        });
        tree = new JTree(playlistRoot);
        for (int row = 0; row < tree.getRowCount(); row++) tree.expandRow(row);

        cover = new JLabel("No track selected", SwingConstants.CENTER);
        cover.setPreferredSize(new Dimension(200, 200));
        cover.setOpaque(true);
        status = new JLabel(libraryProblem != null ? libraryProblem : tracks.size() + " tracks");
        playPause = new JButton("Play");
        playPause.addActionListener(e -> togglePlaying());
        position = new JSlider(0, 0, 0);
        position.addChangeListener(e -> {
            if (!sliderFromPlayer && !position.getValueIsAdjusting()) {
                long to = position.getValue();
                player.execute(() -> seek(to));
            }
        });
        time = new JLabel("0:00 / 0:00");
        spectrum = new SpectrumView();

        JPanel controls = new JPanel(new BorderLayout(8, 0));
        controls.add(playPause, BorderLayout.WEST);
        controls.add(position, BorderLayout.CENTER);
        controls.add(time, BorderLayout.EAST);
        JPanel side = new JPanel(new BorderLayout(0, 8));
        side.add(new JScrollPane(tree), BorderLayout.CENTER);
        side.add(cover, BorderLayout.SOUTH);
        JSplitPane split = new JSplitPane(JSplitPane.HORIZONTAL_SPLIT, side, new JScrollPane(table));
        split.setDividerLocation(230);
        JPanel bottom = new JPanel(new BorderLayout(0, 6));
        bottom.add(controls, BorderLayout.NORTH);
        bottom.add(spectrum, BorderLayout.CENTER);
        bottom.add(status, BorderLayout.SOUTH);
        JPanel content = new JPanel(new BorderLayout(0, 8));
        content.setBorder(BorderFactory.createEmptyBorder(8, 8, 8, 8));
        content.add(split, BorderLayout.CENTER);
        content.add(bottom, BorderLayout.SOUTH);
        frame.setContentPane(content);
        frame.setSize(960, 640);
        frame.setLocationRelativeTo(null);
        if (!tracks.isEmpty()) table.setRowSelectionInterval(0, 0);
        frame.setVisible(true);

        player.execute(() -> fftSetup = NativeFFT.init(SpectrumView.WINDOW));
        player.scheduleWithFixedDelay(() -> survive("the player's poll", this::poll), POLL_MILLIS, POLL_MILLIS,
                TimeUnit.MILLISECONDS);
        // The desktop's preference may change while the window is open: it is read again every
        // few seconds (a portal call, so never on this thread) and the colours follow.
        catalogue.execute(this::followAppearance);
        if (selfTest != null) selfTest.start(this, lookAndFeel);
    }

    /** The GTK look and feel, which Swing picks by itself only on a GNOME desktop; its name, or the one used instead. */
    private static String useGtkLookAndFeel() {
        for (String name : new String[] {"com.sun.java.swing.plaf.gtk.GTKLookAndFeel", UIManager.getSystemLookAndFeelClassName()}) {
            try {
                UIManager.setLookAndFeel(name);
                // The GTK look and feel writes a slider's value above its knob: milliseconds here.
                UIManager.put("Slider.paintValue", Boolean.FALSE);
                return UIManager.getLookAndFeel().getName();
            } catch (ReflectiveOperationException | javax.swing.UnsupportedLookAndFeelException | RuntimeException e) {
                // GTK missing (no libgtk): the platform's default look and feel instead.
            }
        }
        return UIManager.getLookAndFeel().getName();
    }

    private Track selectedTrack() {
        int view = table.getSelectedRow();
        return view < 0 ? null : tracks.get(table.convertRowIndexToModel(view));
    }

    // ---- Appearance -------------------------------------------------------------------------

    /** The colours the desktop asks for, as read from the appearance peers. */
    record Palette(boolean dark, Color background, Color foreground, Color accent) {}

    private volatile Palette lastPalette;
    private volatile String coverShown;

    private void followAppearance() {
        survive("reading the appearance", () -> {
            Palette p = readPalette();
            if (!p.equals(lastPalette)) {
                lastPalette = p;
                SwingUtilities.invokeLater(() -> applyPalette(p));
            }
        });
        catalogue.schedule(this::followAppearance, 3, TimeUnit.SECONDS);
    }

    static Palette readPalette() {
        String name = Appearance.getAppAppearanceName();
        boolean dark = name != null && name.contains("Dark");
        Color background = colorOf(UIElementColor._getControlBackgroundColor(), dark ? new Color(0x242424) : Color.WHITE);
        // A background that disagrees with the preference (no colour from the desktop) is replaced.
        if (isDark(background) != dark) background = dark ? new Color(0x242424) : Color.WHITE;
        Color accent = colorOf(UIElementColor._getControlAccentColor(), new Color(0x3584e4));
        return new Palette(dark, background, dark ? new Color(0xf0f0f0) : new Color(0x202020), accent);
    }

    private static Color colorOf(float[] rgba, Color fallback) {
        if (rgba == null || rgba.length != 4 || !(rgba[3] > 0)) return fallback;
        float[] c = new float[4];
        for (int i = 0; i < 4; i++) c[i] = Float.isFinite(rgba[i]) ? Math.max(0, Math.min(1, rgba[i])) : 0;
        return new Color(c[0], c[1], c[2]);
    }

    private static boolean isDark(Color c) {
        return 0.2126 * c.getRed() + 0.7152 * c.getGreen() + 0.0722 * c.getBlue() < 128;
    }

    private void applyPalette(Palette p) {
        for (JComponent c : new JComponent[] {table, tree, cover, spectrum, (JComponent) table.getParent(), (JComponent) tree.getParent()}) {
            c.setBackground(p.background());
            c.setForeground(p.foreground());
        }
        table.setGridColor(p.dark() ? p.background().brighter() : p.background().darker());
        // GTK paints a tree's rows in the GTK theme's colours whatever the tree's own are, so a
        // dark tree is drawn by the basic tree painter instead.
        if (p.dark()) tree.setUI(new BasicTreeUI());
        else tree.updateUI();
        DefaultTreeCellRenderer renderer = new DefaultTreeCellRenderer();
        renderer.setBackgroundNonSelectionColor(p.background());
        renderer.setTextNonSelectionColor(p.foreground());
        renderer.setLeafIcon(null);
        renderer.setOpenIcon(null);
        renderer.setClosedIcon(null);
        tree.setCellRenderer(renderer);
        spectrum.setBarColor(p.accent());
        frame.repaint();
    }

    // ---- Cover ------------------------------------------------------------------------------

    private void showCover(Track t) {
        if (t == null || items == null) return;
        catalogue.execute(() -> {
            BufferedImage picture = decodeCover(artworkOf(t));
            Image shown = picture == null ? null : picture.getScaledInstance(COVER_SIDE, COVER_SIDE, Image.SCALE_SMOOTH);
            coverShown = picture == null ? null : picture.getWidth() + "x" + picture.getHeight();
            SwingUtilities.invokeLater(() -> {
                cover.setIcon(shown == null ? null : new ImageIcon(shown));
                cover.setText(shown == null ? "No cover" : null);
            });
        });
    }

    private static final int COVER_SIDE = 192;
    /** Pictures are decoded at most this wide and high (every nth pixel of a larger one). */
    private static final int MAX_DECODED_SIDE = 1024;
    /** A header claiming more than this is not decoded at all: it is damaged or hostile. */
    private static final long MAX_CLAIMED_PIXELS = 1L << 28;

    /**
     * A cover picture, read with a bound on its size that is checked on its header before any
     * pixel is decoded; null for no data or a picture Java cannot read (WebP, a damaged file).
     */
    static BufferedImage decodeCover(byte[] data) {
        if (data == null || data.length == 0) return null;
        try (ImageInputStream in = ImageIO.createImageInputStream(new ByteArrayInputStream(data))) {
            java.util.Iterator<ImageReader> readers = ImageIO.getImageReaders(in);
            if (in == null || !readers.hasNext()) return null;
            ImageReader reader = readers.next();
            try {
                reader.setInput(in, true, true);
                long width = reader.getWidth(0), height = reader.getHeight(0);
                if (width <= 0 || height <= 0 || width * height > MAX_CLAIMED_PIXELS) return null;
                ImageReadParam param = reader.getDefaultReadParam();
                int step = (int) Math.max(1, (Math.max(width, height) + MAX_DECODED_SIDE - 1) / MAX_DECODED_SIDE);
                param.setSourceSubsampling(step, step, 0, 0);
                return reader.read(0, param);
            } finally {
                reader.dispose();
            }
        } catch (IOException | RuntimeException e) {
            return null;
        }
    }

    /** The track's picture, embedded or beside it, or null. On the catalogue thread. */
    private byte[] artworkOf(Track t) {
        ITLibMediaItem item = items.getMediaItem(t.index());
        if (!item.isArtworkAvailable()) return null;
        long artwork = item._getArtwork();
        return artwork == 0 ? null : new ITLibArtwork(artwork).getImageData();
    }

    // ---- Player -----------------------------------------------------------------------------

    private void togglePlaying() {
        Track t = selectedTrack();
        int row = t != null ? t.index() : 0;
        player.execute(() -> {
            if (handle != 0) {
                wantPlaying = !wantPlaying;
                if (wantPlaying) AVPlayer.start(handle);
                else AVPlayer.stop(handle);
                showStatus((wantPlaying ? "Playing \"" : "Paused \"") + tracks.get(playingRow).title() + "\"");
            } else if (!tracks.isEmpty()) {
                play(row);
            }
        });
    }

    void playFromEventThread(int row) {
        player.execute(() -> play(row));
    }

    /** Opens and starts the track at this row, announcing it. On the player thread. */
    private void play(int row) {
        closePlayer();
        Track t = tracks.get(row);
        playingRow = row;
        if (t.location() == null) {
            showStatus("\"" + t.title() + "\" has no file");
            return;
        }
        try {
            handle = AVPlayer.open(t.location());
        } catch (IOException e) {
            showStatus("Cannot play \"" + t.title() + "\": " + e.getMessage());
            return;
        }
        audio = DecodedAudio.start(t.location());
        wantPlaying = true;
        AVPlayer.start(handle);
        long duration = Math.max(0, AVPlayer.getDuration(handle));
        SwingUtilities.invokeLater(() -> {
            sliderFromPlayer = true;
            position.setMaximum((int) Math.min(Integer.MAX_VALUE, duration));
            position.setValue(0);
            sliderFromPlayer = false;
            status.setText("Playing \"" + t.title() + "\"");
            int view = table.convertRowIndexToView(row);
            if (view >= 0 && view != table.getSelectedRow()) table.setRowSelectionInterval(view, view);
        });
        catalogue.execute(() -> announce(t));
    }

    private void announce(Track t) {
        byte[] picture = items != null ? artworkOf(t) : null;
        String by = t.artist() != null ? t.artist() : "Unknown artist";
        UserNotificationCenter.nativeDeliverNotification(t.title(), null,
                by + (t.album() != null ? " \u2014 " + t.album() : ""), null, picture);
    }

    private void seek(long millis) {
        if (handle != 0) AVPlayer.setTime(handle, millis);
    }

    private void closePlayer() {
        if (audio != null) audio.close();
        audio = null;
        if (handle != 0) AVPlayer.close(handle);
        handle = 0;
        wantPlaying = false;
    }

    /** The player's position to the slider, the next track at the end of one, and the spectrum. */
    private void poll() {
        if (fftSetup == 0) return;
        if (handle == 0) {
            spectrum.analyse(fftSetup, null, 0);
            return;
        }
        long now = AVPlayer.getTime(handle), duration = AVPlayer.getDuration(handle);
        boolean playing = AVPlayer.isPlaying(handle);
        if (wantPlaying && !playing && duration > 0 && now >= duration - 250) {
            if (playingRow + 1 < tracks.size()) {
                play(playingRow + 1);
            } else {
                closePlayer();
                showStatus("Played every track");
                SwingUtilities.invokeLater(() -> playPause.setText("Play"));
            }
            return;
        }
        DecodedAudio a = audio;
        long first = a == null || a.rate() == 0 ? 0 : now * a.rate() / 1000 - SpectrumView.WINDOW / 2;
        spectrum.analyse(fftSetup, playing ? a : null, first);
        boolean shownPlaying = wantPlaying;
        SwingUtilities.invokeLater(() -> {
            playPause.setText(shownPlaying ? "Pause" : "Play");
            if (!position.getValueIsAdjusting()) {
                sliderFromPlayer = true;
                position.setValue((int) Math.min(Integer.MAX_VALUE, now));
                sliderFromPlayer = false;
            }
            time.setText(clock(now) + " / " + clock(duration));
        });
    }

    private void showStatus(String text) {
        SwingUtilities.invokeLater(() -> status.setText(text));
    }

    static String clock(long millis) {
        long s = Math.max(0, millis) / 1000;
        return s / 60 + ":" + String.format("%02d", s % 60);
    }

    /** Ends the program, the player first, so that no stream is left running. */
    void quit(int code) {
        player.execute(() -> {
            closePlayer();
            if (fftSetup != 0) NativeFFT.destroy(fftSetup);
            fftSetup = 0;
            System.exit(code);
        });
    }

    /**
     * Runs a repeated task so that one failure does not end it: a periodic task that throws
     * is never run again, which would freeze the slider and the spectrum for good.
     */
    private static void survive(String what, Runnable task) {
        try {
            task.run();
        } catch (RuntimeException e) {
            System.err.println("kestrane demo: " + what + " failed: " + e);
        }
    }

    private static java.util.concurrent.ThreadFactory daemon(String name) {
        return r -> {
            Thread t = new Thread(r, name);
            t.setDaemon(true);
            return t;
        };
    }

    // ---- What the self-test reads -------------------------------------------------------------

    JFrame frame() {
        return frame;
    }

    JTable table() {
        return table;
    }

    SpectrumView spectrum() {
        return spectrum;
    }

    Palette palette() {
        return lastPalette;
    }

    String titleOf(int row) {
        return tracks.get(row).title();
    }

    /** The size of the cover shown last ("1x1"), null when it had none. */
    String coverShown() {
        return coverShown;
    }

    /** The table of tracks: title, artist, album, length and kind. */
    private static final class TrackTableModel extends AbstractTableModel {
        private static final long serialVersionUID = 1L;
        private final transient List<Track> tracks;

        TrackTableModel(List<Track> tracks) {
            this.tracks = tracks;
        }

        @Override
        public int getRowCount() {
            return tracks.size();
        }

        @Override
        public int getColumnCount() {
            return COLUMNS.length;
        }

        @Override
        public String getColumnName(int column) {
            return COLUMNS[column];
        }

        @Override
        public Object getValueAt(int row, int column) {
            Track t = tracks.get(row);
            switch (column) {
                case 0: return t.title();
                case 1: return t.artist();
                case 2: return t.album();
                case 3: return clock(t.millis());
                default: return t.kind();
            }
        }
    }
}
