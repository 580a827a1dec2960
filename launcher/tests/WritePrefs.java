import java.util.prefs.Preferences;

/** Writes user preferences the way the application does: WritePrefs <node path> name=value ... */
public final class WritePrefs {
    public static void main(String[] args) throws Exception {
        Preferences node = Preferences.userRoot().node(args[0]);
        for (int i = 1; i < args.length; i++) {
            int eq = args[i].indexOf('=');
            node.put(args[i].substring(0, eq), args[i].substring(eq + 1));
        }
        node.flush();
    }
}
