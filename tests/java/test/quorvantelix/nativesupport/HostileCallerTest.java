package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.*;
import static quorvantelix.test.SysLog.debug;

import java.util.*;
import java.util.concurrent.Callable;
import java.util.concurrent.FutureTask;
import org.junit.jupiter.api.Test;
import quorvantelix.emulator.UsbEmulator;
import quorvantelix.test.SysLog;
import quorvantelix.test.Tasks;

/**
 * A caller that passes handles and data it should not; and a destroy or an unplug that meets a
 * call half way, made to meet it by the emulator: a request held until it times out, or the
 * device leaving the bus the moment a request reaches it. Each call cut short ends with its
 * failure result and its line, and nothing of the instance is left.
 */
class HostileCallerTest extends EmulatedUsbSuite {
    private static final String NO_INSTANCE = debug("NATIVESUPPORT: USBDevice* doesn't exist for nativeInstanceHandle ");

    private static String refused(String method) {
        return debug("NATIVESUPPORT: " + method + "() refused a null array.  Nothing was sent.");
    }

    /** Without the sanitizers' own quarantine, the allocator would give a new instance a destroyed one's address at once. */
    @Test
    void instancesLiveFromCreateToDestroyAndEveryOtherHandleIsRefused() {
        assertEquals(System.getProperty("ns.expectedBits"), System.getProperty("sun.arch.data.model"), "this ABI's JVM");
        long a = create();
        long b = create();
        long c = create();
        assertEquals(3, new HashSet<>(List.of(a, b, c)).size());
        assertEquals(0, usb.getNativeUsbVid(b));
        assertEquals("", usb.getNativeUsbSerialNumber(b), "a new instance knows nothing yet");
        destroy(b);
        Set<Long> destroyed = new HashSet<>(List.of(b));
        for (int round = 0; round < 1000; round++) {
            long h = usb.createNativeUsbInstance();
            assertFalse(destroyed.contains(h), "round " + round + ": a new instance at a destroyed one's address");
            usb.destroyNativeUsbInstance(h);
            destroyed.add(h);
        }
        SysLog.drain();
        usb.destroyNativeUsbInstance(b); // again: only a log line
        assertNull(usb.getNativeUsbSerialNumber(b));
        assertNull(usb.readNativeUsbState(b));
        assertFalse(usb.writeCommand(b, new char[64]));
        assertEquals(Collections.nCopies(4, NO_INSTANCE + (int) b), SysLog.drain());
        assertEquals("", usb.getNativeUsbSerialNumber(a), "the others live on");
        assertEquals("", usb.getNativeUsbSerialNumber(c));
        for (long handle : new long[] {0, -1, Long.MIN_VALUE, a ^ 8}) {
            assertNull(usb.readNativeUsbState(handle));
            assertFalse(usb.writeCommand(handle, new char[64]));
        }
        // A handle that differs from a live one in its high half alone: another number on a
        // 64-bit build, the same instance on a 32-bit one, which reads only the low half.
        long highHalfOnly = a ^ 0x1_0000_0000L;
        assertEquals(System.getProperty("ns.expectedBits").equals("64") ? null : "",
                usb.getNativeUsbSerialNumber(highHalfOnly));
    }

    @Test
    void nullShortOrOddDataAndDevicesWithoutAnInEndpointAreRefused() {
        long tablet = UsbEmulator.plugTablet(0x078c, 0x0600, 1, 2);
        long dfu = UsbEmulator.plugModel("dfu-vornique", 1, 3);
        long t = connectTo(UsbEmulator.path(tablet));
        long d = connectTo(UsbEmulator.path(dfu));
        int tabletRecords = UsbEmulator.records(tablet).length;
        int dfuRecords = UsbEmulator.records(dfu).length;
        SysLog.drain();

        assertFalse(usb.writeCommand(t, null));
        assertFalse(usb.writeFirmwareCommand(t, null));
        assertFalse(usb.writeToControlTransfer(t, null));
        assertFalse(usb.dfuDownload(d, 1, null, 16));
        assertFalse(usb.dfuDownload(d, 1, new char[4], 16));
        assertEquals(List.of(refused("writeCommand"), refused("writeFirmwareCommand"), refused("writeToControlTransfer"),
                refused("dfuDownload"),
                debug("NATIVESUPPORT: dfuDownload() refused a length (16) longer than its data (4).  Nothing was sent.")),
                SysLog.drain());
        assertEquals(tabletRecords, UsbEmulator.records(tablet).length);
        assertEquals(dfuRecords, UsbEmulator.records(dfu).length);

        // Device path strings: null, and characters outside ASCII (modified UTF-8 in the copy).
        long h = create();
        assertFalse(usb.connectNativeUsb(h, null));
        assertEquals(List.of(debug("NATIVESUPPORT: connectNativeUsb() called without a device path.")), SysLog.drain());
        assertEquals(0, usb.getNativeUsbVidDirect(null));
        assertEquals(0, usb.getNativeUsbPidDirect(null));
        String odd = "\u00e9\u0000" + UsbEmulator.path(tablet) + "\ud83d\udd8a";
        assertEquals(0x078c, usb.getNativeUsbVidDirect(odd), "the path is found among the other chars, after a U+0000");

        // A device of a supported vendor with nothing to read reports from.
        long mute = UsbEmulator.plug(1, 4, 0x078c, 0x0600, 0, 0, 0x100, new byte[0], 0, 0, 0, "", "", "", "", false);
        assertFalse(usb.connectNativeUsb(h, UsbEmulator.path(mute)));
        assertTrue(SysLog.drain().contains(
                debug("NATIVESUPPORT: Interface 0 has no endpoint to read reports from.  Closing device.")));
        assertTrue(UsbEmulator.waitForClients(mute, 0, WAIT));
    }

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
