package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.*;
import static quorvantelix.test.SysLog.debug;

import java.util.List;
import org.junit.jupiter.api.Test;
import quorvantelix.emulator.UsbEmulator;
import quorvantelix.test.SysLog;
import quorvantelix.test.Tasks;

/** Devices that vanish in the middle of a connect, sit in firmware update mode, or fail every transfer. */
class HostileDeviceTest extends EmulatedUsbSuite {
    private static final String READ_THREAD = "ns-usb-read";

    private static String failed(String error) {
        return debug("NATIVESUPPORT: libusb_interrupt_transfer failed. Bytes written (0). Error Code (" + error + ")");
    }

    /** The next report the library hands out, waiting for it to arrive. */
    private byte[] nextReport(long h) throws InterruptedException {
        long deadline = System.nanoTime() + WAIT * 1_000_000L;
        for (byte[] r = usb.readNativeUsbState(h); ; r = usb.readNativeUsbState(h)) {
            if (r != null || System.nanoTime() > deadline) {
                return r;
            }
            Thread.sleep(1);
        }
    }

    @Test
    void aDeviceUnpluggedDuringARefusedConnectLeavesTheJvmAlive() throws Exception {
        // No subscription: the connect holds the only reference on libusb's default context.
        for (int round = 0; round < 3; round++) {
            UsbEmulator.unplugAll();
            long other = UsbEmulator.plugModel("unsupported", 1, 3);
            long dfu = UsbEmulator.plugModel("dfu", 1, 2); // firmware update mode, not ours
            UsbEmulator.hangRequest(dfu, 0x81, 6, 0x2200, 1);
            Thread unplugger = new Thread(() -> {
                if (UsbEmulator.waitForHung(dfu, 1, WAIT)) {
                    UsbEmulator.unplug(other);
                }
            });
            unplugger.start();
            assertFalse(usb.connectNativeUsb(create(), UsbEmulator.path(dfu)));
            unplugger.join();
            assertFalse(UsbEmulator.isPlugged(other));
            assertTrue(UsbEmulator.waitForClients(dfu, 0, WAIT));
        }
        assertTrue(SysLog.drain().contains(debug("NATIVESUPPORT: DFU Device isn't ours.  Closing device.")));
    }

    @Test
    void aFirmwareUpdateModeDeviceWithoutEndpointsOpensForItsRequests() throws Exception {
        long dfu = UsbEmulator.plugModel("dfu-vornique-5750", 1, 2);
        long h = connectTo(UsbEmulator.path(dfu));
        assertEquals(0x5750, usb.getNativeUsbPid(h));
        assertFalse(Tasks.names().contains(READ_THREAD));
        assertNull(usb.readNativeUsbState(h));
        assertEquals(UsbEmulator.DFU_IDLE, usb.dfuGetStatus(h)[4]);
        assertTrue(usb.dfuDownload(h, 0, new char[64], 64));
        assertEquals(UsbEmulator.DFU_DNLOAD_IDLE, usb.dfuGetStatus(h)[4]);
    }

    @Test
    void anInEndpointThatFailsEveryTransferCostsNextToNothingAndIsReadAgainOnceItRecovers() throws Exception {
        long device = UsbEmulator.plugTablet(0x078c, 0x0600, 1, 2);
        long h = connectTo(UsbEmulator.path(device));
        assertTrue(waitForQueued(device));
        UsbEmulator.failEndpoint(device, 0x81, -UsbEmulator.EOVERFLOW, UsbEmulator.ALWAYS);
        UsbEmulator.feedInput(device, new byte[] {2, 1});
        assertArrayEquals(new byte[] {2, 1}, java.util.Arrays.copyOf(nextReport(h), 2));
        SysLog.drain();

        // Retried at once, a failing transfer would keep the thread busy: thousands of tries a second.
        long cpu = Tasks.cpuMillisDuring(READ_THREAD, 1000);
        List<String> lines = SysLog.drain();
        assertTrue(lines.size() >= 2 && lines.size() < 50, lines.size() + " failed transfers in a second");
        assertTrue(cpu < 100, "the read thread used " + cpu + " ms of processor time in a second");
        assertTrue(lines.stream().allMatch(failed("LIBUSB_ERROR_OVERFLOW")::equals), lines.toString());

        UsbEmulator.clearFaults(device);
        UsbEmulator.feedInput(device, new byte[] {2, 2});
        byte[] r = nextReport(h);
        assertNotNull(r, "the reading went on");
        assertEquals(2, r[1]);
    }

    @Test
    void submissionsRefusedForLackOfMemoryAreRetriedUntilTheyGoThrough() throws Exception {
        long device = UsbEmulator.plugTablet(0x078c, 0x0600, 1, 2);
        long h = connectTo(UsbEmulator.path(device));
        assertTrue(waitForQueued(device));
        UsbEmulator.rejectEndpoint(device, 0x81, UsbEmulator.ENOMEM, 2 * READ_TRANSFERS);
        for (int i = 1; i <= 3 * READ_TRANSFERS; i++) {
            UsbEmulator.feedInput(device, new byte[] {2, (byte) i});
            byte[] r = nextReport(h);
            assertNotNull(r, "report " + i);
            assertEquals(i, r[1]);
        }
        assertTrue(SysLog.drain().contains(failed("LIBUSB_ERROR_NO_MEM")));
    }
}
