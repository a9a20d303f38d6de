package quorvantelix.test;

import java.util.Arrays;
import java.util.List;

/**
 * The library's syslog lines, received where syslog(3) sends them. Each line reads
 * "P text", P being its priority digit (6 info, 7 debug).
 */
public final class SysLog {
    static {
        System.loadLibrary("NativeSupportTestLog");
    }

    private SysLog() {
    }

    public static native boolean start();
    public static native void stop();
    private static native String[] take();
    private static native String[] lines();
    private static native boolean waitForLines(String line, int count, long millis);

    /** Everything received since the last drain, and forget it. */
    public static List<String> drain() {
        return Arrays.asList(take());
    }

    public static List<String> peek() {
        return Arrays.asList(lines());
    }

    /** Waits until the line has been received (since the last drain); false after the timeout. */
    public static boolean await(String line, long millis) {
        return waitForLines(line, 1, millis);
    }

    /** Waits until the line has been received {@code count} times (since the last drain). */
    public static boolean await(String line, int count, long millis) {
        return waitForLines(line, count, millis);
    }

    public static String debug(String text) {
        return "7 " + text;
    }

    public static String info(String text) {
        return "6 " + text;
    }
}
