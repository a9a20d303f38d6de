package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.*;
import static quorvantelix.nativesupport.NotifyRig.CALLBACK_CREATED;
import static quorvantelix.nativesupport.NotifyRig.DISPLAY_DETACHED;
import static quorvantelix.nativesupport.NotifyRig.SLACK_MS;
import static quorvantelix.test.SysLog.info;

import java.net.StandardProtocolFamily;
import java.net.UnixDomainSocketAddress;
import java.nio.channels.ServerSocketChannel;
import java.nio.channels.SocketChannel;
import java.nio.file.*;
import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;
import quorvantelix.test.*;

/**
 * The X server as the display thread finds it, with no toolkit in the JVM: none at the
 * subscribe, one that dies in a burst of changes and comes back, one that turns its screen,
 * and no DISPLAY at all.
 */
class DisplayServerTest extends SubscriptionSuite {
    private static final String DISPLAY = System.getenv("DISPLAY"); // no server there until a test starts one
    private static final String NS = "NATIVESUPPORT: startDisplayChangedEventThread(): ";
    private static final String CANNOT_OPEN = info(NS + "cannot open the display. Display changes are not reported.\n");
    private static final String LOST = info(NS + "the connection to the X server was lost. "
            + "Display changes are not reported until it is back.\n");

    @AfterEach
    void displayAsItWas() {
        Toolkit.setDisplay(DISPLAY);
    }

    @Test
    void withoutDisplayTheThreadSaysSoAndEndsWhileSubscribed() throws Exception {
        Toolkit.setDisplay(null);
        usb.subscribeUSBChangeEvents();
        Tasks.awaitGone("ns-display"); // nothing to try again
        assertEquals(List.of(CANNOT_OPEN), NotifyRig.linesStartingWith(SysLog.peek(), info(NS + "c")));
    }

    /** The server's socket takes each try and closes it: the tries come after 1, 2 and 4 s, one line for all. */
    @Test
    void aServerNotThereIsTriedAgainWithABackoffAndReportsOnceItAnswers() throws Exception {
        Path socket = Paths.get("/tmp/.X11-unix/X" + DISPLAY.substring(1));
        Files.createDirectories(socket.getParent());
        Files.deleteIfExists(socket);
        List<Long> tries = new ArrayList<>();
        try (ServerSocketChannel refusing = ServerSocketChannel.open(StandardProtocolFamily.UNIX)) {
            refusing.bind(UnixDomainSocketAddress.of(socket)).configureBlocking(false);
            usb.subscribeUSBChangeEvents();
            for (long deadline = System.nanoTime() + 20_000_000_000L; tries.size() < 4; Thread.sleep(2)) {
                assertTrue(System.nanoTime() < deadline, "tries " + tries);
                try (SocketChannel taken = refusing.accept()) {
                    if (taken != null) {
                        tries.add(System.nanoTime() / 1_000_000);
                    }
                }
            }
        } finally {
            Files.deleteIfExists(socket);
        }
        for (int i = 1; i < tries.size(); i++) {
            long interval = tries.get(i) - tries.get(i - 1);
            long fixed = 1000L << (i - 1);
            assertTrue(interval >= fixed - 10 && interval <= fixed + SLACK_MS, "try " + i + " after " + interval + " ms");
        }
        assertEquals(1, SysLog.peek().stream().filter(CANNOT_OPEN::equals).count(), "one line for the whole outage");
        Process xvfb = NotifyRig.startXvfb(DISPLAY); // the next try comes 8 s after the last
        try {
            assertTrue(SysLog.await(CALLBACK_CREATED, 8000 + 2 * SLACK_MS), SysLog.peek().toString());
            NotifyRig.resizeScreen(DISPLAY, 800, 600);
            assertTrue(Callbacks.DISPLAY.await(1, 10_000));
        } finally {
            xvfb.destroyForcibly().waitFor();
        }
    }

    @Test
    void aServerLostInABurstOfChangesIsReportedAgainOnceANewOneRuns() throws Exception {
        Process xvfb = NotifyRig.startXvfb(DISPLAY);
        try {
            usb.subscribeUSBChangeEvents();
            for (int round = 1; round <= 5; round++) {
                assertTrue(SysLog.await(CALLBACK_CREATED, round, 20_000), "round " + round + ": " + SysLog.peek());
                NotifyRig.resizeScreen(DISPLAY, 1100 + round, 700);
                assertTrue(SysLog.await(info("NATIVESUPPORT: resize_cb(): screen width " + (1100 + round)), 10_000),
                        "round " + round + ": the new server's changes are reported");
                int reported = Callbacks.DISPLAY.calls().size();
                Process burst = NotifyRig.burstOfChanges(DISPLAY);
                assertTrue(Callbacks.DISPLAY.await(reported + 3, 10_000), "round " + round + ": the burst is reported");
                xvfb.destroyForcibly().waitFor();
                burst.destroyForcibly().waitFor();
                assertTrue(SysLog.await(LOST, round, 10_000), "round " + round + ": " + SysLog.peek());
                xvfb = NotifyRig.startXvfb(DISPLAY);
            }
            assertEquals(0, SysLog.peek().stream().filter(CANNOT_OPEN::equals).count(), "one line for each loss");
        } finally {
            xvfb.destroyForcibly().waitFor();
        }
    }

    /** RandR's event gives the size before the rotation; Java hears of the screen as it is turned. */
    @Test
    void aTurnedScreenIsReportedWithWidthAndHeightSwapped() throws Exception {
        ProcessBuilder xephyr = NotifyRig.tool("Xephyr", DISPLAY, "-screen", "800x600", "-nolisten", "tcp", "-noreset");
        xephyr.environment().put("DISPLAY", System.getenv("NS_PARENT_DISPLAY")); // where its window shows
        Process server = NotifyRig.startServer(DISPLAY, xephyr);
        try {
            usb.subscribeUSBChangeEvents();
            assertTrue(SysLog.await(CALLBACK_CREATED, 20_000));
            NotifyRig.run("xrandr", "-display", DISPLAY, "--orientation", "left");
            NotifyRig.run("xrandr", "-display", DISPLAY, "--orientation", "normal");
            assertTrue(SysLog.await(DISPLAY_DETACHED, 2, 10_000));
            assertEquals(List.of(info("NATIVESUPPORT: resize_cb(): screen width 600"),
                    info("NATIVESUPPORT: resize_cb(): screen height 800"), info("NATIVESUPPORT: resize_cb(): screen width 800"),
                    info("NATIVESUPPORT: resize_cb(): screen height 600")),
                    NotifyRig.linesStartingWith(SysLog.peek(), "6 NATIVESUPPORT: resize_cb(): screen"));
        } finally {
            usb.unsubscribeUSBChangeEvents();
            server.destroyForcibly().waitFor();
        }
    }
}
