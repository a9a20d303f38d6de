package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.*;
import static quorvantelix.nativesupport.NotifyRig.CALLBACK_CREATED;
import static quorvantelix.nativesupport.NotifyRig.DISPLAY_DETACHED;
import static quorvantelix.test.SysLog.info;

import java.util.List;
import java.util.Map;
import java.util.concurrent.CountDownLatch;
import org.junit.jupiter.api.*;
import quorvantelix.test.*;
import quorvantelix.dm.connections.usb.NativeUSB;

/**
 * Size changes of the X screen reach Java as handleDisplayChangedEvent calls, once per
 * subscription's loop, in a JVM as a desktop application has it: its own toolkit on the same
 * X server, and the product's classes in a class loader of their own (JUnit's).
 */
class DisplayChangeTest extends SubscriptionSuite {
    private static final String DISPLAY = System.getenv("DISPLAY");
    private static final String CALLED = info("NATIVESUPPORT: resize_cb(): called.\n");

    @BeforeAll
    static void openTheApplicationsToolkit() {
        assertNotSame(ClassLoader.getSystemClassLoader(), NativeUSB.class.getClassLoader(),
                "the product's classes are not the system class loader's");
        assertTrue(Toolkit.open(), "the toolkit's connection to " + DISPLAY);
    }

    /** A size no test resizes to, so that each test's first resize is a change. */
    @BeforeEach
    void neutralScreen() throws Exception {
        resizeTo(1600, 1000);
    }

    @Test
    void aHandlerThatThrowsOrBlocksHoldsUpNeitherUnsubscribeNorTheNextEvent() throws Exception {
        usb.subscribeUSBChangeEvents();
        assertTrue(SysLog.await(CALLBACK_CREATED, 20_000));
        Callbacks.DISPLAY.failNext("no screen today");
        resizeTo(1024, 768);
        assertTrue(SysLog.await(info("NATIVESUPPORT: handleDisplayChangedEvent() threw "
                + "java.lang.IllegalStateException: no screen today"), 10_000));
        resizeTo(800, 600);
        assertTrue(Callbacks.DISPLAY.await(2, 10_000), "the next event is delivered");

        CountDownLatch held = Callbacks.DISPLAY.holdNext();
        resizeTo(1024, 768);
        assertTrue(Callbacks.DISPLAY.await(3, 10_000));
        NotifyRig.assertReturnsWhileHeld(usb::unsubscribeUSBChangeEvents, held);
        held.countDown();
        NotifyRig.awaitLibraryThreadsEnded(); // the display thread ends once the handler returns
        SysLog.drain();
        usb.subscribeUSBChangeEvents();
        assertTrue(SysLog.await(CALLBACK_CREATED, 20_000));
        resizeTo(800, 600);
        assertTrue(Callbacks.DISPLAY.await(4, 10_000), "the next subscription's event is delivered");
        assertEquals(List.of(), NotifyRig.linesStartingWith(SysLog.peek(), "6 Exception", "6 java."));
    }

    @Test
    void eachChangeOfSizeIsLoggedAndCalledUntilUnsubscribeAndTheApplicationsXErrorsStayItsOwn() throws Exception {
        usb.subscribeUSBChangeEvents();
        assertTrue(SysLog.await(CALLBACK_CREATED, 20_000));
        assertEquals(1, Toolkit.provokeBadWindow(), "the toolkit's handler took its error, and the JVM lives");

        NotifyRig.run("xrandr", "-display", DISPLAY, "--fb", "1600x1000", "--fbmm", "400x250"); // keeps the size: no call
        resizeTo(1024, 768);
        assertTrue(Callbacks.DISPLAY.await(1, 10_000));
        resizeTo(800, 600);
        assertTrue(Callbacks.DISPLAY.await(2, 10_000));
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
        assertFalse(Callbacks.DISPLAY.await(3, 1000), "no call after unsubscribe");
    }

    @Test
    void subscriptionCyclesLeaveNoThreadDescriptorOrHandlerBehind() throws Exception {
        NotifyRig.openWhatStays(usb, 20_000);
        int threads = Tasks.names().size();
        Map<Integer, String> fds = Tasks.descriptors();

        for (int i = 0; i < 10; i++) {
            cycle(i % 2 == 0); // every other one unsubscribes before the loop can have started
        }
        NotifyRig.awaitLibraryThreadsEnded();
        assertEquals(threads, Tasks.names().size(), Tasks.names().toString());
        Tasks.assertSameDescriptors(fds, Tasks.descriptors());

        SysLog.drain();
        usb.subscribeUSBChangeEvents();
        assertTrue(SysLog.await(CALLBACK_CREATED, 20_000));
        resizeTo(1280, 1024);
        assertTrue(Callbacks.DISPLAY.await(1, 10_000));
        assertTrue(SysLog.await(DISPLAY_DETACHED, 5000));
        usb.unsubscribeUSBChangeEvents();
        NotifyRig.awaitLibraryThreadsEnded();
        assertEquals(1, SysLog.drain().stream().filter(CALLED::equals).count(), "one handler, from this subscription only");
        assertEquals(1, Callbacks.DISPLAY.calls().size());
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
