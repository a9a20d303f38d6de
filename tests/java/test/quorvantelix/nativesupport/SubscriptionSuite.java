package quorvantelix.nativesupport;

import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import quorvantelix.test.Callbacks;
import quorvantelix.dm.connections.usb.NativeUSB;
import quorvantelix.test.SysLog;

/**
 * What the change notification suites share: the log capture for the whole class, no earlier
 * line or Java call at the start of each test, and no subscription or library thread after it.
 */
abstract class SubscriptionSuite {
    final NativeUSB usb = new NativeUSB();

    static {
        SysLog.drain(); // the capture in place before any test makes the library log
    }

    @BeforeEach
    void forgetEarlier() {
        SysLog.drain();
        Callbacks.reset();
    }

    @AfterEach
    void endSubscription() throws Exception {
        usb.unsubscribeUSBChangeEvents();
        NotifyRig.awaitLibraryThreadsEnded();
        NotifyRig.removeDatabases(); // both udev databases gone, as at the start
    }
}
