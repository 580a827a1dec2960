import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;

/** A Java application for launch tests: writes its arguments and system properties to the file named by ECHO_APP_OUT. */
public final class EchoApp {
    public static void main(String[] args) throws IOException {
        List<String> lines = new ArrayList<>();
        lines.add("argc=" + args.length);
        for (String a : args) lines.add("arg=" + a);
        Map<String, String> sorted = new TreeMap<>();
        for (String name : System.getProperties().stringPropertyNames()) sorted.put(name, System.getProperty(name));
        sorted.forEach((k, v) -> lines.add("prop." + k + "=" + v));
        lines.add("cwd=" + Path.of("").toAbsolutePath());
        lines.add("pid=" + ProcessHandle.current().pid());
        Files.write(Path.of(System.getenv("ECHO_APP_OUT")), lines, StandardCharsets.UTF_8);
    }
}
