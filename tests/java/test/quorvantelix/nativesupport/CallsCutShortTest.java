package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.*;
import static quorvantelix.test.SysLog.debug;

import java.util.List;
import java.util.concurrent.Callable;
import java.util.concurrent.FutureTask;
import org.junit.jupiter.api.Test;
import quorvantelix.emulator.UsbEmulator;
import quorvantelix.test.SysLog;
import quorvantelix.test.Tasks;

/**
 * A destroy or an unplug that meets a call half way, made to meet it by the emulator: a request
 * held until it times out, or the device leaving the bus the moment a request reaches it. Each
 * call ends with its failure result and its line, and nothing of the instance is left.
 */
class CallsCutShortTest extends EmulatedUsbSuite {
    private static final String LEFT_DURING_CONNECT =
            debug("NATIVESUPPORT: The device was unplugged while it was opened.  Closing device.");
    /** The report descriptor request, the longest a connect waits for (5 s). */
    private static final int[] DESCRIPTOR_REQUEST = {0x81, 6, 0x2200};

    /** The call in a thread of its own. */
    private static <T> FutureTask<T> started(Callable<T> call) {
        FutureTask<T> task = new FutureTask<>(call);
        new Thread(task).start();
        return task;
    }

    /** Once destroyed: the library has no reading thread, the device is closed, and the handle names nothing. */
    private void assertNothingLeftOnceDestroyed(long device, long h) throws Exception {
        destroy(h);
        assertEquals(List.of(), Tasks.names().stream().filter(n -> n.startsWith("ns-usb")).toList(), "library threads");
        assertTrue(UsbEmulator.waitForClients(device, 0, WAIT), "the device is still open");
        assertNull(usb.getNativeUsbSerialNumber(h), "a destroyed handle");
    }

    @Test
    void aDestroyWaitsForTheConnectUnderWayAndLeavesNothing() throws Exception {
        long device = UsbEmulator.plugTablet(0x5543, 0x0064, 1, 2);
        UsbEmulator.hangRequest(device, DESCRIPTOR_REQUEST[0], DESCRIPTOR_REQUEST[1], DESCRIPTOR_REQUEST[2], 1);
        long h = usb.createNativeUsbInstance();
        FutureTask<Boolean> connect = started(() -> usb.connectNativeUsb(h, UsbEmulator.path(device)));
        assertTrue(UsbEmulator.waitForHung(device, 1, WAIT));
        // Meanwhile the accessors answer at once, with the values of the connect under way.
        assertEquals(0x5543, usb.getNativeUsbVid(h));
        assertEquals("Pen Tablet", usb.getNativeUsbProductName(h));
        assertNull(usb.readNativeUsbState(h));
        assertFalse(usb.writeCommand(h, new char[64]), "nothing is sent to a device still opening");
        assertTrue(UsbEmulator.waitForHung(device, 1, 0), "the calls did not wait for the connect");

        FutureTask<Object> destroy = started(() -> {
            usb.destroyNativeUsbInstance(h);
            return null;
        });
        while (usb.getNativeUsbVid(h) != 0) { // the destroy has begun once the handle names nothing new
            Thread.yield();
        }
        assertTrue(UsbEmulator.waitForHung(device, 1, 0), "the connect still waits for its request");
        destroy.get();
        assertTrue(UsbEmulator.waitForDiscards(device, 1, 0), "the destroy returned before the connect's request ended");
        assertTrue(connect.get(), "the connect went on without the report descriptor");
        assertNothingLeftOnceDestroyed(device, h);
    }

    @Test
    void anUnplugEndsAConnectWithoutWaitingForItsRequest() throws Exception {
        long device = UsbEmulator.plugTablet(0x08ca, 0x0010, 1, 2); // the start-up sequence follows the request
        UsbEmulator.unplugOnRequest(device, DESCRIPTOR_REQUEST[0], DESCRIPTOR_REQUEST[1], DESCRIPTOR_REQUEST[2]);
        long h = create();
        long started = System.nanoTime();
        assertFalse(usb.connectNativeUsb(h, UsbEmulator.path(device)));
        long millis = (System.nanoTime() - started) / 1_000_000;
        assertTrue(SysLog.drain().contains(LEFT_DURING_CONNECT));
        // The pause that ends every connect, and not the 5 s the request could have taken.
        assertTrue(millis >= 1000 && millis < 5000, "the connect took " + millis + " ms");
        assertTrue(UsbEmulator.waitForClients(device, 0, WAIT), "a connect that failed closed the device");
        assertNothingLeftOnceDestroyed(device, h);
    }

    @Test
    void anUnplugEndsAWriteBeforeItsTimeout() throws Exception {
        long device = UsbEmulator.plugTablet(0x078c, 0x0600, 1, 2);
        long h = connectTo(UsbEmulator.path(device));
        UsbEmulator.unplugOnEndpoint(device, 0x01);
        SysLog.drain();
        assertFalse(usb.writeFirmwareCommand(h, new char[64])); // 5 s of patience it does not need
        assertTrue(SysLog.drain().contains(
                debug("NATIVESUPPORT: write_Device failed.  Bytes written (0). Error Code (LIBUSB_ERROR_NO_DEVICE).")));
        assertFalse(usb.writeCommand(h, new char[64]), "nothing more goes to a device that left");
        assertNothingLeftOnceDestroyed(device, h);
    }

    @Test
    void anUnplugEndsAFirmwareDownload() throws Exception {
        long dfu = UsbEmulator.plugModel("dfu-vornique", 1, 2);
        long h = connectTo(UsbEmulator.path(dfu));
        UsbEmulator.setDfuPollTimeouts(dfu, 0, 0);
        assertTrue(usb.dfuDownload(h, 0, new char[64], 64));
        UsbEmulator.unplugOnRequest(dfu, 0x21, 1, 1); // the second block
        SysLog.drain();
        assertFalse(usb.dfuDownload(h, 1, new char[64], 64));
        assertEquals(List.of(debug("NATIVESUPPORT: DFU Download Failed.")), SysLog.drain());
        assertTrue(UsbEmulator.records(dfu)[UsbEmulator.records(dfu).length - 1].endsWith(" status=-108"),
                "the block was in flight as the device left");
        assertNull(usb.dfuGetStatus(h));
        assertNothingLeftOnceDestroyed(dfu, h);
    }
}
