package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;
import java.util.concurrent.TimeUnit;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import quorvantelix.test.SysLog;

/** What the notification suites share: the watched directory, the X screen and this process as /proc shows it. */
final class NotifyRig {
    /** The udev database directory of udev before version 174, and of today's udev. */
    static final Path OLD_UDEV_DB = Paths.get("/dev/.udev/db");
    static final Path UDEV_DATA = Paths.get("/run/udev/data");
    static final String CALLBACK_CREATED = SysLog.info("NATIVESUPPORT: startDisplayChangedEventThread(): call back created.\n");
    static final String ENTERED = SysLog.info("NATIVESUPPORT: startDisplayChangedEventThread(): Entered.\n");
    static final String UNSUBSCRIBED = SysLog.info("NATIVESUPPORT: Native Java unsubscribeUSBChangeEvents()");
    static final String DISPLAY_DETACHED = SysLog.info("Native Java sendJNIDisplayReconfigurationEvent() Detached JNIEnv\n");
    /** Scheduling and JVM attach on top of a period the library fixes; the emulated 32-bit JVM is slow. */
    static final long SLACK_MS = 1000;

    private NotifyRig() {
    }

    static Path createDatabase(Path db) throws IOException {
        return Files.createDirectories(db);
    }

    /** Both databases gone, as at the start (the suites run in a mount namespace of their own). */
    static void removeDatabases() throws IOException {
        for (Path db : new Path[] {OLD_UDEV_DB, UDEV_DATA}) {
            if (Files.isDirectory(db)) {
                try (Stream<Path> entries = Files.list(db)) {
                    for (Path e : entries.collect(Collectors.toList())) {
                        Files.delete(e);
                    }
                }
                Files.delete(db);
            }
        }
    }

    static void touch(Path db, String entry) throws IOException {
        Files.write(db.resolve(entry), new byte[0]);
    }

    static void remove(Path db, String entry) throws IOException {
        Files.deleteIfExists(db.resolve(entry));
    }

    /** Descriptor number to target, of every descriptor this process holds open. */
    static TreeMap<Integer, String> descriptors() throws IOException {
        SysLog.peek(); // the capture closes its end of connections the library's log closed
        TreeMap<Integer, String> fds = new TreeMap<>();
        try (Stream<Path> s = Files.list(Paths.get("/proc/self/fd"))) {
            for (Path p : s.collect(Collectors.toList())) {
                try {
                    fds.put(Integer.parseInt(p.getFileName().toString()), Files.readSymbolicLink(p).toString());
                } catch (IOException gone) {
                    // the listing's own descriptor
                }
            }
        }
        return fds;
    }

    /**
     * Asserts that no descriptor was opened or closed between the two snapshots, but for the
     * listings' own and glibc's syslog connection (two sockets of this process, with the
     * capture's end), which a line logged after the library closed the log opens again.
     */
    static void assertSameDescriptors(Map<Integer, String> before, Map<Integer, String> after) {
        Map<Integer, String> b = withoutListings(before);
        Map<Integer, String> a = withoutListings(after);
        long socketsBefore = b.values().stream().filter(t -> t.startsWith("socket:")).count();
        long socketsAfter = a.values().stream().filter(t -> t.startsWith("socket:")).count();
        b.values().removeIf(t -> t.startsWith("socket:"));
        a.values().removeIf(t -> t.startsWith("socket:"));
        assertEquals(b, a);
        assertTrue(Math.abs(socketsAfter - socketsBefore) <= 2, "sockets " + socketsBefore + " then " + socketsAfter + ": " + after);
    }

    static Map<Integer, String> withoutListings(Map<Integer, String> fds) {
        Map<Integer, String> m = new TreeMap<>(fds);
        m.values().removeIf(t -> t.startsWith("/proc/"));
        return m;
    }

    /** Names of this process's threads. */
    static List<String> threads() throws IOException {
        List<String> names = new ArrayList<>();
        try (Stream<Path> s = Files.list(Paths.get("/proc/self/task"))) {
            for (Path task : s.collect(Collectors.toList())) {
                try {
                    names.add(Files.readString(task.resolve("comm")).trim());
                } catch (IOException ended) {
                    // ended while listed
                }
            }
        }
        return names;
    }

    /** Waits until the display thread has ended. */
    static void awaitDisplayThreadEnded() throws Exception {
        long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(10);
        while (threads().contains("ns-display")) {
            assertTrue(System.nanoTime() < deadline, "the display thread is still running");
            Thread.sleep(10);
        }
    }

    /** Waits until the library's notification and display threads have all ended. */
    static void awaitLibraryThreadsEnded() throws Exception {
        long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(10);
        while (threads().stream().anyMatch(n -> n.startsWith("ns-"))) {
            assertTrue(System.nanoTime() < deadline, "library threads still running: " + threads());
            Thread.sleep(10);
        }
    }

    /** Milliseconds until the wall clock's whole second reaches {@code second}. */
    static long millisUntilSecond(long second) {
        return Math.max(0, second * 1000 - System.currentTimeMillis());
    }

    static long epochSecond() {
        return System.currentTimeMillis() / 1000;
    }

    static void resizeScreen(String display, int width, int height) throws Exception {
        run("xrandr", "-display", display, "--fb", width + "x" + height);
    }

    static void run(String... command) throws Exception {
        Process p = new ProcessBuilder(command).redirectErrorStream(true).start();
        String out = new String(p.getInputStream().readAllBytes());
        assertTrue(p.waitFor(20, TimeUnit.SECONDS), String.join(" ", command));
        assertEquals(0, p.exitValue(), String.join(" ", command) + ": " + out);
    }

    /** Bits of one signal in a mask line of /proc/self/status ("SigIgn", "SigCgt"). */
    static boolean signalMask(String field, int signal) throws IOException {
        for (String line : Files.readAllLines(Paths.get("/proc/self/status"))) {
            if (line.startsWith(field + ":")) {
                return (Long.parseUnsignedLong(line.substring(field.length() + 1).trim(), 16) >> (signal - 1) & 1) != 0;
            }
        }
        throw new AssertionError(field + " missing");
    }

    static List<String> linesStartingWith(List<String> lines, String... starts) {
        return lines.stream().filter(l -> Stream.of(starts).anyMatch(l::startsWith)).collect(Collectors.toList());
    }
}
