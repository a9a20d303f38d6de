package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.*;

import java.nio.file.Files;
import java.nio.file.Paths;
import org.junit.jupiter.api.Test;
import quorvantelix.test.*;

/**
 * The library in a real Swing application's JVM: its window in the default look, then in the
 * GTK look, which starts GTK 3 on the event thread (beside GTK+ 2 that hung for good). Each
 * look is subscribed before the window shows and while it shows, so GTK 3 starts after one
 * subscribe and is there before the other: each change of the screen's size is one call, and
 * the window keeps painting.
 */
class SwingApplicationTest extends SubscriptionSuite {
    private static final String DISPLAY = System.getenv("DISPLAY");

    @Test
    void eachChangeIsOneCallAndTheWindowKeepsPaintingInBothLooks() throws Exception {
        NotifyRig.resizeScreen(DISPLAY, 1600, 1000); // a size no change below goes to
        for (String look : new String[] {SwingWindow.METAL, SwingWindow.GTK}) {
            assertFalse(gtk3InTheProcess(), "GTK 3 came in before the GTK look");
            usb.subscribeUSBChangeEvents(); // before the window shows
            assertTrue(SysLog.await(NotifyRig.CALLBACK_CREATED, 20_000));
            SwingWindow window = SwingWindow.show(look);
            changesAreCalledAndPainted(window, 1024, 768);
            usb.subscribeUSBChangeEvents(); // while it shows
            assertTrue(SysLog.await(NotifyRig.CALLBACK_CREATED, 20_000));
            changesAreCalledAndPainted(window, 1152, 864);
            window.close();
        }
        assertTrue(gtk3InTheProcess(), "the GTK look runs GTK 3");
    }

    /** Two changes of size: one call each, and the window paints after them; then the unsubscribe. */
    private void changesAreCalledAndPainted(SwingWindow window, int width, int height) throws Exception {
        assertTrue(window.paints(3, 20_000), "the window paints");
        NotifyRig.resizeScreen(DISPLAY, width, height);
        NotifyRig.resizeScreen(DISPLAY, 800, 600);
        assertTrue(Callbacks.DISPLAY.await(2, 10_000));
        assertTrue(SysLog.await(NotifyRig.DISPLAY_DETACHED, 2, 10_000));
        assertTrue(window.paints(3, 20_000), "the window paints after the changes");
        assertEquals(2, Callbacks.DISPLAY.calls().size(), "one call per change");
        usb.unsubscribeUSBChangeEvents();
        NotifyRig.awaitLibraryThreadsEnded();
        SysLog.drain();
        Callbacks.reset();
    }

    private static boolean gtk3InTheProcess() throws Exception {
        return Files.readString(Paths.get("/proc/self/maps")).contains("libgtk-3.so.0");
    }
}
