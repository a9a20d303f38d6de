package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.assertTrue;

import org.junit.jupiter.api.Test;
import quorvantelix.test.SysLog;

/** GTK 3 started in the JVM before the subscribe (as Swing's GTK look starts it): changes are reported. */
class Gtk3PresentTest extends SubscriptionSuite {
    @Test
    void changesAreReported() throws Exception {
        NotifyRig.resizeScreen(System.getenv("DISPLAY"), 1600, 1000); // a size no change below goes to
        NotifyRig.startGtk3();
        usb.subscribeUSBChangeEvents();
        assertTrue(SysLog.await(NotifyRig.CALLBACK_CREATED, 20_000));
        NotifyRig.twoChangesAreTwoCalls(System.getenv("DISPLAY"));
    }
}
