package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.*;

import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;
import quorvantelix.test.Callbacks;
import quorvantelix.test.SysLog;
import quorvantelix.test.Toolkit;

/**
 * GTK 3 started on a Java thread, as Swing's GTK look or a file chooser starts it, before the
 * subscribe or after it (-Dns.gtk3Before): it starts (beside GTK+ 2 it hung for good), and
 * two changes of the screen's size are two calls.
 */
class Gtk3InProcessTest extends SubscriptionSuite {
    private static final String DISPLAY = System.getenv("DISPLAY");

    @Test
    void gtk3StartsAndChangesAreReported() throws Exception {
        NotifyRig.resizeScreen(DISPLAY, 1600, 1000); // a size no change below goes to
        if (Boolean.getBoolean("ns.gtk3Before")) {
            startGtk3();
        }
        usb.subscribeUSBChangeEvents();
        assertTrue(SysLog.await(NotifyRig.CALLBACK_CREATED, 20_000));
        if (!Boolean.getBoolean("ns.gtk3Before")) {
            startGtk3();
        }
        NotifyRig.resizeScreen(DISPLAY, 1152, 864);
        NotifyRig.resizeScreen(DISPLAY, 800, 600);
        assertTrue(SysLog.await(NotifyRig.DISPLAY_DETACHED, 2, 10_000));
        assertEquals(2, Callbacks.displayCalls().size());
    }

    private static void startGtk3() throws Exception {
        ExecutorService thread = Executors.newSingleThreadExecutor();
        try {
            assertTrue(thread.submit(Toolkit::startGtk3).get(20, TimeUnit.SECONDS), "gtk_init_check");
        } finally {
            thread.shutdown();
        }
    }
}
