package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.*;
import static quorvantelix.test.SysLog.debug;

import java.util.Collections;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import org.junit.jupiter.api.Test;
import quorvantelix.emulator.UsbEmulator;
import quorvantelix.test.SysLog;

/** A caller that passes handles and data it should not. */
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
}
