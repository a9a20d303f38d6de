package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static quorvantelix.test.SysLog.debug;
import static quorvantelix.test.SysLog.info;

import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Random;
import java.util.Set;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import quorvantelix.dm.connections.usb.NativeUSB;
import quorvantelix.test.SysLog;

/** Instances, their handles, and what every per-device method does with a handle it does not know. */
class NativeInstanceTest {
    private static final String PREFIX = "Java_quorvantelix_dm_connections_usb_NativeUSB_";
    private final NativeUSB usb = new NativeUSB();

    @BeforeAll
    static void captureLog() {
        assertTrue(SysLog.start(), "cannot bind /dev/log");
    }

    @AfterAll
    static void releaseLog() {
        SysLog.stop();
    }

    @BeforeEach
    void forgetEarlierLines() {
        SysLog.drain();
    }

    @Test
    void theJvmOfThisAbiLoadsTheLibrary() {
        assertEquals(System.getProperty("ns.expectedBits"), System.getProperty("sun.arch.data.model"));
        long handle = usb.createNativeUsbInstance();
        assertNotEquals(0L, handle);
        usb.destroyNativeUsbInstance(handle);
    }

    @Test
    void aNewInstanceIsEmptyAndClosed() {
        long handle = usb.createNativeUsbInstance();
        try {
            assertEquals(0, usb.getNativeUsbVid(handle));
            assertEquals(0, usb.getNativeUsbPid(handle));
            assertEquals(0, usb.getNativeUsbxMax(handle));
            assertEquals(0, usb.readMaxX(handle));
            assertEquals(0, usb.readMaxY(handle));
            assertEquals("", usb.getNativeUsbSerialNumber(handle));
            assertEquals("", usb.getNativeUsbFirmwareVersion(handle));
            assertEquals("", usb.getNativeUsbProductName(handle));
            assertNull(usb.readNativeUsbState(handle));
            assertEquals(List.of(), SysLog.drain());
        } finally {
            usb.destroyNativeUsbInstance(handle);
        }
        assertEquals(List.of(), SysLog.drain(), "destroying a never-opened instance touches nothing");
    }

    @Test
    void requestsOnANeverOpenedInstanceFailWithTheirNullHandleLines() {
        long handle = usb.createNativeUsbInstance();
        try {
            assertFalse(usb.writeCommand(handle, new char[8]));
            assertFalse(usb.writeFirmwareCommand(handle, new char[8]));
            assertFalse(usb.writeToControlTransfer(handle, new char[8]));
            assertFalse(usb.dfuDetach(handle));
            assertFalse(usb.dfuDownload(handle, 0, new char[4], 4));
            assertNull(usb.dfuGetStatus(handle));
            assertFalse(usb.dfuClearStatus(handle));
            assertNull(usb.dfuGetState(handle));
            assertFalse(usb.dfuAbort(handle));
            assertEquals(List.of(
                    debug("NATIVESUPPORT: write_Device failed.  m_usb_handle was NULL."),
                    debug("NATIVESUPPORT: write_Device failed.  m_usb_handle was NULL."),
                    debug("NATIVESUPPORT: Getting ready to perform a control transfer. Size: (0)"),
                    debug("NATIVESUPPORT: Control Transfer Failed.  m_usb_handle was NULL."),
                    debug("NATIVESUPPORT: DFU Detach Failed. m_usb_handle was NULL."),
                    debug("NATIVESUPPORT: DFU Download Failed. m_usb_handle was NULL."),
                    debug("NATIVESUPPORT: " + PREFIX + "dfuGetStatus."),
                    debug("NATIVESUPPORT: DFU GetStatus Failed. m_usb_handle was NULL."),
                    debug("NATIVESUPPORT: DFU ClearStatus Failed. m_usb_handle was NULL."),
                    debug("NATIVESUPPORT: DFU GetState Failed. m_usb_handle was NULL."),
                    debug("NATIVESUPPORT: DFU Abort Failed. m_usb_handle was NULL.")),
                    SysLog.drain());
            assertFalse(usb.connectNativeUsb(handle, null), "a null device path is refused");
        } finally {
            usb.destroyNativeUsbInstance(handle);
        }
    }

    @Test
    void everyMethodRefusesAnUnknownHandleWithItsOwnLineAndDefault() {
        long destroyed = usb.createNativeUsbInstance();
        usb.destroyNativeUsbInstance(destroyed);
        SysLog.drain();
        for (long handle : new long[] {0L, -1L, destroyed, 0x1234_5678_9abc_def0L, Long.MIN_VALUE}) {
            String n = Integer.toString((int) handle);
            String general = debug("NATIVESUPPORT: USBDevice* doesn't exist for nativeInstanceHandle " + n);
            callEveryMethod(handle);
            List<String> expected = new ArrayList<>();
            for (int i = 0; i < 14; i++) {
                expected.add(general);
            }
            for (String m : new String[] {"dfuDetach", "dfuDownload", "dfuGetStatus", "dfuClearStatus", "dfuGetState",
                    "dfuAbort"}) {
                if (m.equals("dfuGetStatus")) {
                    expected.add(debug("NATIVESUPPORT: " + PREFIX + "dfuGetStatus."));
                }
                expected.add(debug("NATIVESUPPORT: " + PREFIX + m + ".  USBDevice* doesn't exist for nativeInstanceHandle " + n));
            }
            assertEquals(expected, SysLog.drain(), "handle " + handle);
        }
    }

    /** Calls all twenty per-device methods and checks each default result. */
    private void callEveryMethod(long handle) {
        usb.destroyNativeUsbInstance(handle);
        assertFalse(usb.connectNativeUsb(handle, "001/002-078c-0700-00-00"));
        assertEquals(0, usb.getNativeUsbVid(handle));
        assertEquals(0, usb.getNativeUsbPid(handle));
        assertEquals(0, usb.getNativeUsbxMax(handle));
        assertEquals(0, usb.readMaxX(handle));
        assertEquals(0, usb.readMaxY(handle));
        assertNull(usb.getNativeUsbSerialNumber(handle));
        assertNull(usb.getNativeUsbFirmwareVersion(handle));
        assertNull(usb.getNativeUsbProductName(handle));
        assertNull(usb.readNativeUsbState(handle));
        assertFalse(usb.writeCommand(handle, new char[64]));
        assertFalse(usb.writeFirmwareCommand(handle, new char[64]));
        assertFalse(usb.writeToControlTransfer(handle, new char[64]));
        assertFalse(usb.dfuDetach(handle));
        assertFalse(usb.dfuDownload(handle, 1, new char[16], 16));
        assertNull(usb.dfuGetStatus(handle));
        assertFalse(usb.dfuClearStatus(handle));
        assertNull(usb.dfuGetState(handle));
        assertFalse(usb.dfuAbort(handle));
    }

    @Test
    void destroyingTwiceLogsTheSecondTimeAndChangesNothing() {
        long keep = usb.createNativeUsbInstance();
        long handle = usb.createNativeUsbInstance();
        usb.destroyNativeUsbInstance(handle);
        assertEquals(List.of(), SysLog.drain());
        usb.destroyNativeUsbInstance(handle);
        assertEquals(List.of(debug("NATIVESUPPORT: USBDevice* doesn't exist for nativeInstanceHandle " + (int) handle)),
                SysLog.drain());
        assertEquals("", usb.getNativeUsbProductName(keep));
        usb.destroyNativeUsbInstance(keep);
    }

    @Test
    void destroyingTheMiddleOfThreeLeavesTheOthersWorking() {
        long a = usb.createNativeUsbInstance();
        long b = usb.createNativeUsbInstance();
        long c = usb.createNativeUsbInstance();
        assertEquals(3, new HashSet<>(List.of(a, b, c)).size());
        usb.destroyNativeUsbInstance(b);
        assertEquals("", usb.getNativeUsbSerialNumber(a));
        assertEquals("", usb.getNativeUsbSerialNumber(c));
        assertNull(usb.getNativeUsbSerialNumber(b));
        usb.destroyNativeUsbInstance(c);
        usb.destroyNativeUsbInstance(a);
        assertEquals(List.of(debug("NATIVESUPPORT: USBDevice* doesn't exist for nativeInstanceHandle " + (int) b)),
                SysLog.drain());
    }

    @Test
    void aFloodOfRandomHandlesIsRefusedWithoutHarm() {
        Set<Long> live = new HashSet<>();
        for (int i = 0; i < 8; i++) {
            live.add(usb.createNativeUsbInstance());
        }
        Random random = new Random(42);
        int calls = 0;
        for (int i = 0; i < 600; i++) {
            long handle = random.nextLong();
            if (i % 3 == 0) {
                handle = (handle & 0xffff_ffff_0000_0000L) | (live.iterator().next() & 0xffff_0000L) | (handle & 0xfff8L);
            }
            if (sharesLow32Bits(live, handle)) {
                continue; // the 32-bit build reads only the low half of a handle
            }
            callEveryMethod(handle);
            calls += 20;
            if (i % 50 == 0) {
                SysLog.drain();
            }
        }
        SysLog.drain();
        for (long handle : live) {
            assertEquals("", usb.getNativeUsbProductName(handle), "a live instance survived the flood");
            usb.destroyNativeUsbInstance(handle);
        }
        assertEquals(List.of(), SysLog.drain());
        assertTrue(calls >= 10_000, "calls: " + calls);
    }

    private static boolean sharesLow32Bits(Set<Long> live, long handle) {
        for (long h : live) {
            if ((int) h == (int) handle) {
                return true;
            }
        }
        return false;
    }

    @Test
    void withoutAnyUsbDiscoveryFindsNothing() {
        assertEquals("", usb.discoverUSBInputDevices());
        assertEquals(0, usb.getNativeUsbVidDirect("001/002-078c-0700-00-00"));
        assertEquals(0, usb.getNativeUsbPidDirect(null));
        assertEquals(List.of(info("NATIVESUPPORT: Found: "),
                info("NATIVESUPPORT: getVid() Looking For : 001/002-078c-0700-00-00")), SysLog.drain());
    }
}
