package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.*;
import static quorvantelix.test.SysLog.info;

import java.nio.file.Files;
import java.nio.file.Paths;
import org.junit.jupiter.api.Test;
import quorvantelix.dm.connections.usb.NativeUSB;
import quorvantelix.test.SysLog;

/** With GTK+ 3 in the process (as a Swing look and feel brings it), GTK+ 2 is not started. */
class Gtk3PresentTest {
    @Test
    void theDisplayThreadLeavesGtk2UnloadedAndSaysWhy() throws Exception {
        SysLog.drain(); // the capture in place before the library logs
        System.load(System.getenv("NS_GTK3_LIBRARY"));
        NativeUSB usb = new NativeUSB();
        usb.subscribeUSBChangeEvents();
        assertTrue(SysLog.await(info("NATIVESUPPORT: startDisplayChangedEventThread(): GTK+ 3 is loaded in this process, "
                + "GTK+ 2 cannot join it. Display changes are not reported.\n"), 20_000), SysLog.peek().toString());
        usb.unsubscribeUSBChangeEvents();
        NotifyRig.awaitLibraryThreadsEnded();
        assertFalse(Files.readString(Paths.get("/proc/self/maps")).contains("libgtk-x11-2.0"));
        assertFalse(SysLog.peek().contains(NotifyRig.CALLBACK_CREATED));
    }
}
