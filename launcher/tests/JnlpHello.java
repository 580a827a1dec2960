/** The application of the JNLP launch test: prints one line and ends the virtual machine. */
public final class JnlpHello {
    public static void main(String[] args) {
        System.out.println("hello from a JNLP application");
        System.exit(0);
    }
}
