package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static quorvantelix.nativesupport.NotifyRig.CALLBACK_CREATED;
import static quorvantelix.nativesupport.NotifyRig.DISPLAY_DETACHED;
import static quorvantelix.test.SysLog.info;

import java.util.List;
import java.util.Map;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import quorvantelix.test.Callbacks;
import quorvantelix.dm.connections.usb.NativeUSB;
import quorvantelix.test.SysLog;

/** Size changes of the X screen reach Java as handleDisplayChangedEvent calls, once per subscription's loop. */
class DisplayChangeTest extends SubscriptionSuite {
    private static final String DISPLAY = System.getenv("DISPLAY");
    private static final String CALLED = info("NATIVESUPPORT: resize_cb(): called.\n");
    private static final int SIGPIPE = 13;

    @Test
    void eachResizeIsLoggedAndCalledUntilUnsubscribe() throws Exception {
        boolean ignored = NotifyRig.signalMask("SigIgn", SIGPIPE);
        boolean caught = NotifyRig.signalMask("SigCgt", SIGPIPE);
        usb.subscribeUSBChangeEvents();
        assertTrue(SysLog.await(CALLBACK_CREATED, 20_000));
        assertEquals(ignored, NotifyRig.signalMask("SigIgn", SIGPIPE), "SIGPIPE is left as the JVM set it");
        assertEquals(caught, NotifyRig.signalMask("SigCgt", SIGPIPE), "SIGPIPE is left as the JVM set it");

        resizeTo(1024, 768);
        assertTrue(Callbacks.awaitDisplayCalls(1, 10_000));
        resizeTo(800, 600);
        assertTrue(Callbacks.awaitDisplayCalls(2, 10_000));
        assertTrue(SysLog.await(DISPLAY_DETACHED, 2, 5000));
        List<String> lines = SysLog.drain();
        assertEquals(2, lines.stream().filter(NotifyRig.ENTERED::equals).count(), lines.toString());
        assertEquals(List.of(
                CALLED, info("NATIVESUPPORT: resize_cb(): screen width 1024"), info("NATIVESUPPORT: resize_cb(): screen height 768"),
                DISPLAY_DETACHED,
                CALLED, info("NATIVESUPPORT: resize_cb(): screen width 800"), info("NATIVESUPPORT: resize_cb(): screen height 600"),
                DISPLAY_DETACHED),
                NotifyRig.linesStartingWith(lines, CALLED, "6 NATIVESUPPORT: resize_cb", DISPLAY_DETACHED));

        usb.unsubscribeUSBChangeEvents();
        NotifyRig.awaitLibraryThreadsEnded();
        resizeTo(1024, 768);
        assertFalse(Callbacks.awaitDisplayCalls(3, 1000), "no call after unsubscribe");
    }

    @Test
    void subscriptionCyclesLeaveNoThreadDescriptorOrHandlerBehind() throws Exception {
        cycle(true); // the first one opens GTK's X connection for good
        NotifyRig.awaitLibraryThreadsEnded();
        int threads = NotifyRig.threads().size();
        Map<Integer, String> fds = NotifyRig.descriptors();

        for (int i = 0; i < 10; i++) {
            cycle(i % 2 == 0); // every other one unsubscribes before the loop can have started
        }
        NotifyRig.awaitLibraryThreadsEnded();
        assertEquals(threads, NotifyRig.threads().size(), NotifyRig.threads().toString());
        NotifyRig.assertSameDescriptors(fds, NotifyRig.descriptors());

        SysLog.drain();
        usb.subscribeUSBChangeEvents();
        assertTrue(SysLog.await(CALLBACK_CREATED, 20_000));
        resizeTo(1280, 1024);
        assertTrue(Callbacks.awaitDisplayCalls(1, 10_000));
        assertTrue(SysLog.await(DISPLAY_DETACHED, 5000));
        usb.unsubscribeUSBChangeEvents();
        NotifyRig.awaitLibraryThreadsEnded();
        assertEquals(1, SysLog.drain().stream().filter(CALLED::equals).count(), "one handler, from this subscription only");
        assertEquals(1, Callbacks.displayCalls().size());
    }

    private void cycle(boolean waitForLoop) {
        SysLog.drain();
        usb.subscribeUSBChangeEvents();
        if (waitForLoop) {
            assertTrue(SysLog.await(CALLBACK_CREATED, 20_000));
        }
        usb.unsubscribeUSBChangeEvents();
    }

    /** The sizes differ from each one before, whichever test runs first, so each resize is a change. */
    private static void resizeTo(int width, int height) throws Exception {
        NotifyRig.resizeScreen(DISPLAY, width, height);
    }
}
