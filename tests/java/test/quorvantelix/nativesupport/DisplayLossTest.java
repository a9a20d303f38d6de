package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.assertTrue;
import static quorvantelix.test.SysLog.info;

import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;
import quorvantelix.dm.connections.usb.NativeUSB;
import quorvantelix.test.Callbacks;
import quorvantelix.test.SysLog;
import quorvantelix.test.Tasks;

/** The JVM outlives a display that is not there and an X server that dies while subscribed. */
class DisplayLossTest {
    private static final String DISPLAY = System.getenv("DISPLAY"); // no server there until this test starts one
    private static final String DISPLAY_NS = "NATIVESUPPORT: startDisplayChangedEventThread(): ";
    private final NativeUSB usb = new NativeUSB();

    @Test
    void noServerThenAServerThatDiesInABurstOfChangesThenANewOne() throws Exception {
        SysLog.drain(); // the capture in place before the library logs
        Callbacks.reset();
        Process xvfb = null;
        try {
            usb.subscribeUSBChangeEvents();
            assertTrue(SysLog.await(info(DISPLAY_NS + "cannot open the display. Display changes are not reported.\n"), 20_000),
                    SysLog.peek().toString());
            usb.unsubscribeUSBChangeEvents();
            NotifyRig.awaitLibraryThreadsEnded();

            xvfb = startServer();
            SysLog.drain();
            usb.subscribeUSBChangeEvents();
            assertTrue(SysLog.await(NotifyRig.CALLBACK_CREATED, 20_000), "a later subscription finds the display");
            NotifyRig.resizeScreen(DISPLAY, 800, 600);
            assertTrue(Callbacks.awaitDisplayCalls(1, 10_000));

            // The server dies while the screen keeps changing.
            String resize = "xrandr -display " + DISPLAY + " --fb ";
            Process burst = new ProcessBuilder("sh", "-c", "while :; do " + resize + "1024x768; " + resize + "800x600; done")
                    .redirectErrorStream(true).redirectOutput(ProcessBuilder.Redirect.DISCARD).start();
            assertTrue(Callbacks.awaitDisplayCalls(3, 10_000));
            xvfb.destroyForcibly().waitFor();
            burst.destroyForcibly().waitFor();
            assertTrue(SysLog.await(info(DISPLAY_NS + "the connection to the X server was lost. "
                    + "Display changes are no longer reported.\n"), 10_000), SysLog.peek().toString());
            Tasks.awaitGone("ns-display");
            long started = System.nanoTime();
            usb.unsubscribeUSBChangeEvents();
            assertTrue(TimeUnit.NANOSECONDS.toMillis(System.nanoTime() - started) < 100, "unsubscribe returns promptly");
            NotifyRig.awaitLibraryThreadsEnded();

            // A new server: the next subscription reports its changes.
            xvfb = startServer();
            SysLog.drain();
            int calls = Callbacks.displayCalls().size();
            usb.subscribeUSBChangeEvents();
            assertTrue(SysLog.await(NotifyRig.CALLBACK_CREATED, 20_000), SysLog.peek().toString());
            NotifyRig.resizeScreen(DISPLAY, 800, 600);
            assertTrue(Callbacks.awaitDisplayCalls(calls + 1, 10_000));
            usb.unsubscribeUSBChangeEvents();
            NotifyRig.awaitLibraryThreadsEnded();
        } finally {
            if (xvfb != null) {
                xvfb.destroyForcibly();
            }
        }
    }

    private static Process startServer() throws Exception {
        Process xvfb = new ProcessBuilder("Xvfb", DISPLAY, "-noreset", "-nolock", "-nolisten", "tcp", "-screen", "0", "1024x768x24")
                .redirectErrorStream(true).redirectOutput(ProcessBuilder.Redirect.DISCARD).start();
        long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(10);
        while (new ProcessBuilder("xrandr", "-display", DISPLAY).start().waitFor() != 0) {
            assertTrue(System.nanoTime() < deadline, "Xvfb did not come up on " + DISPLAY);
            Thread.sleep(50);
        }
        NotifyRig.run("xrandr", "-display", DISPLAY, "--fb", "1024x768", "--output", "screen", "--off");
        return xvfb;
    }
}
