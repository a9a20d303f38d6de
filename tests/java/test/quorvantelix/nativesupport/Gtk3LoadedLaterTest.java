package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.assertTrue;

import org.junit.jupiter.api.Test;
import quorvantelix.test.SysLog;

/**
 * GTK 3 started in the JVM after the subscribe, as a file chooser starts it: it starts (it hung
 * for good beside GTK+ 2), and changes are still reported.
 */
class Gtk3LoadedLaterTest extends SubscriptionSuite {
    @Test
    void gtk3StartsAndChangesAreStillReported() throws Exception {
        NotifyRig.resizeScreen(System.getenv("DISPLAY"), 1600, 1000); // a size no change below goes to
        usb.subscribeUSBChangeEvents();
        assertTrue(SysLog.await(NotifyRig.CALLBACK_CREATED, 20_000));
        NotifyRig.startGtk3();
        NotifyRig.twoChangesAreTwoCalls(System.getenv("DISPLAY"));
    }
}
