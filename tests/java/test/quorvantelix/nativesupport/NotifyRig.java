package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.*;

import java.io.IOException;
import java.nio.file.*;
import java.util.List;
import java.util.concurrent.CountDownLatch;
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
     * One subscription whose display thread gets as far as its connection, then none: what
     * stays once used (libusb's context) is open before a test counts threads or descriptors.
     */
    static void openWhatStays(quorvantelix.dm.connections.usb.NativeUSB usb, long millis) throws Exception {
        usb.subscribeUSBChangeEvents();
        assertTrue(SysLog.await(CALLBACK_CREATED, millis), "the display thread did not connect");
        usb.unsubscribeUSBChangeEvents();
        awaitLibraryThreadsEnded();
    }

    /** Waits until the library's notification and display threads have all ended. */
    static void awaitLibraryThreadsEnded() throws Exception {
        Tasks.awaitGone("ns-");
    }

    /** The call returns while a Java handler is held (let go only if it does not). */
    static void assertReturnsWhileHeld(Runnable call, CountDownLatch held) throws Exception {
        Thread caller = new Thread(call);
        caller.start();
        caller.join(20_000);
        if (caller.isAlive()) {
            held.countDown();
            fail("it waited for the Java handler");
        }
    }

    static void resizeScreen(String display, int width, int height) throws Exception {
        run("xrandr", "-display", display, "--fb", width + "x" + height);
    }

    /** An Xvfb of its own on {@code display}, its screen 1024x768 with the output off (so it can shrink). */
    static Process startXvfb(String display) throws Exception {
        Process xvfb = startServer(display, tool("Xvfb", display, "-noreset", "-nolock", "-nolisten", "tcp",
                "-screen", "0", "1920x1200x24"));
        run("xrandr", "-display", display, "--fb", "1024x768", "--output", "screen", "--off");
        return xvfb;
    }

    /** Starts the X server that {@code server} runs on {@code display} and waits until it answers. */
    static Process startServer(String display, ProcessBuilder server) throws Exception {
        Process started = server.redirectErrorStream(true).redirectOutput(ProcessBuilder.Redirect.DISCARD).start();
        long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(20);
        while (tool("xrandr", "-display", display).start().waitFor() != 0) {
            assertTrue(System.nanoTime() < deadline && started.isAlive(), server.command() + " did not come up");
            Thread.sleep(50);
        }
        return started;
    }

    /** Mode, output and size changes without end, as a monitor plugged in or a dock brings them. */
    static Process burstOfChanges(String display) throws Exception {
        String xrandr = "xrandr -display " + display;
        return tool("sh", "-c", "while :; do " + xrandr + " --output screen --auto; " + xrandr
                + " --output screen --off --fb 1024x768; " + xrandr + " --fb 800x600; done")
                .redirectErrorStream(true).redirectOutput(ProcessBuilder.Redirect.DISCARD).start();
    }

    static void run(String... command) throws Exception {
        Process p = tool(command).redirectErrorStream(true).start();
        String out = new String(p.getInputStream().readAllBytes());
        assertTrue(p.waitFor(20, TimeUnit.SECONDS), String.join(" ", command));
        assertEquals(0, p.exitValue(), String.join(" ", command) + ": " + out);
    }

    /** An X server or X tool: the sanitizer runtime preloaded into the suite's JVM stays out of it. */
    static ProcessBuilder tool(String... command) {
        ProcessBuilder tool = new ProcessBuilder(command);
        tool.environment().remove("LD_PRELOAD");
        return tool;
    }

    static List<String> linesStartingWith(List<String> lines, String... starts) {
        return lines.stream().filter(l -> Stream.of(starts).anyMatch(l::startsWith)).collect(Collectors.toList());
    }
}
