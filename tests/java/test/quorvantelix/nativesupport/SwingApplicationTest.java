package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.*;

import java.nio.file.Files;
import java.nio.file.Paths;
import org.junit.jupiter.api.Test;
import quorvantelix.test.Callbacks;
import quorvantelix.test.SwingWindow;
import quorvantelix.test.SysLog;

/**
 * The library in a real Swing application's JVM: its window in the default look, then in the
 * GTK look (GTK 3 in the process), subscribed before and after the window shows. Each change
 * of the screen's size is one call, and the window keeps painting.
 */
class SwingApplicationTest extends SubscriptionSuite {
    private static final String DISPLAY = System.getenv("DISPLAY");

    @Test
    void eachChangeIsOneCallAndTheWindowKeepsPaintingInBothLooks() throws Exception {
        NotifyRig.resizeScreen(DISPLAY, 1600, 1000); // a size no change below goes to
        for (String look : new String[] {SwingWindow.METAL, SwingWindow.GTK}) {
            usb.subscribeUSBChangeEvents(); // before the window shows
            assertTrue(SysLog.await(NotifyRig.CALLBACK_CREATED, 20_000));
            SwingWindow window = SwingWindow.show(look);
            changesAreCalledAndPainted(window, 1024, 768);
            usb.unsubscribeUSBChangeEvents();
            NotifyRig.awaitLibraryThreadsEnded();

            SysLog.drain();
            Callbacks.reset();
            usb.subscribeUSBChangeEvents(); // while it shows
            assertTrue(SysLog.await(NotifyRig.CALLBACK_CREATED, 20_000));
            changesAreCalledAndPainted(window, 1152, 864);
            usb.unsubscribeUSBChangeEvents();
            NotifyRig.awaitLibraryThreadsEnded();
            window.close();
            SysLog.drain();
            Callbacks.reset();
        }
        assertTrue(Files.readString(Paths.get("/proc/self/maps")).contains("libgtk-3.so.0"), "the GTK look runs GTK 3");
    }

    /** Two changes of size: one call each, and the window paints after them. */
    private static void changesAreCalledAndPainted(SwingWindow window, int width, int height) throws Exception {
        assertTrue(window.paints(3, 20_000), "the window paints");
        NotifyRig.resizeScreen(DISPLAY, width, height);
        NotifyRig.resizeScreen(DISPLAY, 800, 600);
        assertTrue(Callbacks.awaitDisplayCalls(2, 10_000));
        assertTrue(SysLog.await(NotifyRig.DISPLAY_DETACHED, 2, 10_000));
        assertTrue(window.paints(3, 20_000), "the window paints after the changes");
        assertEquals(2, Callbacks.displayCalls().size(), "one call per change");
    }
}
