package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.*;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.List;
import java.util.concurrent.TimeUnit;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import quorvantelix.test.SysLog;
import quorvantelix.test.Tasks;

/** What the notification suites share: the watched directories and the X screen. */
final class NotifyRig {
    /** The udev database directory of udev before version 174, and of today's udev. */
    static final Path OLD_UDEV_DB = Paths.get("/dev/.udev/db");
    static final Path UDEV_DATA = Paths.get("/run/udev/data");
    static final String CALLBACK_CREATED = SysLog.info("NATIVESUPPORT: startDisplayChangedEventThread(): call back created.\n");
    static final String ENTERED = SysLog.info("NATIVESUPPORT: startDisplayChangedEventThread(): Entered.\n");
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

    /**
     * One subscription whose display thread gets as far as its loop, then none: what stays
     * once used (GDK's X connection, libusb's context) is open before a test counts threads
     * or descriptors.
     */
    static void openWhatStays(quorvantelix.dm.connections.usb.NativeUSB usb, long millis) throws Exception {
        usb.subscribeUSBChangeEvents();
        assertTrue(SysLog.await(CALLBACK_CREATED, millis), "the display thread did not reach its loop");
        usb.unsubscribeUSBChangeEvents();
        awaitLibraryThreadsEnded();
    }

    /** Waits until the library's notification and display threads have all ended. */
    static void awaitLibraryThreadsEnded() throws Exception {
        Tasks.awaitGone("ns-");
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

    static List<String> linesStartingWith(List<String> lines, String... starts) {
        return lines.stream().filter(l -> Stream.of(starts).anyMatch(l::startsWith)).collect(Collectors.toList());
    }
}
