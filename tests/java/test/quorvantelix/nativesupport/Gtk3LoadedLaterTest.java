package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;
import quorvantelix.dm.connections.usb.NativeUSB;
import quorvantelix.test.Callbacks;
import quorvantelix.test.SysLog;

/** The application's toolkit brings GTK+ 3 into the process while the display thread runs GDK 2. */
class Gtk3LoadedLaterTest {
    @Test
    void theSubscriptionLivesOnAndEndsPromptly() throws Exception {
        SysLog.drain(); // the capture in place before the library logs
        Callbacks.reset();
        NativeUSB usb = new NativeUSB();
        usb.subscribeUSBChangeEvents();
        assertTrue(SysLog.await(NotifyRig.CALLBACK_CREATED, 20_000));
        System.load(System.getenv("NS_GTK3_LIBRARY"));
        NotifyRig.resizeScreen(System.getenv("DISPLAY"), 1152, 864); // a size of its own: a change whichever suite ran before
        assertTrue(Callbacks.awaitDisplayCalls(1, 10_000), "still reported");
        long started = System.nanoTime();
        usb.unsubscribeUSBChangeEvents();
        assertTrue(TimeUnit.NANOSECONDS.toMillis(System.nanoTime() - started) < 100, "unsubscribe returns promptly");
        NotifyRig.awaitLibraryThreadsEnded();
    }
}
