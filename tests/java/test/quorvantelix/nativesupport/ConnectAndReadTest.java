package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static quorvantelix.test.SysLog.debug;
import static quorvantelix.test.SysLog.info;

import java.io.IOException;
import java.nio.file.DirectoryStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import quorvantelix.dm.connections.usb.NativeUSB;
import quorvantelix.test.SysLog;
import quorvantelix.emulator.UsbEmulator;

/** Opening emulated tablets of each vendor, their start-up, their reports, and closing. */
class ConnectAndReadTest extends EmulatedUsbSuite {
    private static final String READ_STOPPED =
            debug("NATIVESUPPORT: readThreadLoop has stopped. No IN transactions will be processed.");

    private long connect(long device) {
        return connectTo(UsbEmulator.path(device));
    }

    private static byte[] report(int... bytes) {
        byte[] r = new byte[bytes.length];
        for (int i = 0; i < bytes.length; i++) {
            r[i] = (byte) bytes[i];
        }
        return r;
    }

    @Test
    void anOrdinaryTabletStreamsItsReportsInOrderPaddedToThePacketSize() throws Exception {
        long device = UsbEmulator.plugTablet(0x078c, 0x0600, 1, 2);
        String path = UsbEmulator.path(device);
        long h = create();
        long started = System.nanoTime();
        assertTrue(usb.connectNativeUsb(h, path));
        long tookMillis = (System.nanoTime() - started) / 1_000_000;
        assertTrue(tookMillis >= 950, "opening ends with a one-second pause, took " + tookMillis);
        assertEquals(List.of(
                info("NATIVESUPPORT: open_Device() Looking For : " + path),
                info("NATIVESUPPORT: Found VID: 078c"),
                info("NATIVESUPPORT: open_Device() Found : " + path),
                debug("NATIVESUPPORT: Read thread is starting for device: Pen Tablet Pen")), SysLog.drain());

        assertEquals(0x078c, usb.getNativeUsbVid(h));
        assertEquals(0x0600, usb.getNativeUsbPid(h));
        assertEquals("Pen Tablet", usb.getNativeUsbProductName(h));
        assertEquals("EMU0001", usb.getNativeUsbSerialNumber(h));
        assertEquals("Pen", usb.getNativeUsbFirmwareVersion(h));
        assertEquals(10000, usb.readMaxX(h));
        assertEquals(10000, usb.getNativeUsbxMax(h));
        assertEquals(6250, usb.readMaxY(h));

        assertNull(usb.readNativeUsbState(h), "an empty queue gives null at once");
        assertTrue(UsbEmulator.waitForPendingIn(device, WAIT));
        UsbEmulator.feedInput(device, report(2, 0x11, 1, 2, 3, 4, 5, 6));
        UsbEmulator.feedInput(device, report(2, 0x22, 7, 8));
        UsbEmulator.feedInput(device, report(2, 0x33));
        assertTrue(waitForQueued(device));

        byte[] first = usb.readNativeUsbState(h);
        assertEquals(64, first.length);
        byte[] expected = new byte[64];
        System.arraycopy(report(2, 0x11, 1, 2, 3, 4, 5, 6), 0, expected, 0, 8);
        assertArrayEquals(expected, first);
        byte[] second = usb.readNativeUsbState(h);
        assertArrayEquals(Arrays.copyOf(report(2, 0x22, 7, 8), 64), second);
        byte[] third = usb.readNativeUsbState(h);
        assertArrayEquals(Arrays.copyOf(report(2, 0x33), 64), third);
        assertNull(usb.readNativeUsbState(h));
        assertEquals(List.of(), SysLog.drain(), "reading logs nothing");
    }

    /** Wake-ups (context switches) of the read thread, found by its name. */
    private static long readThreadWakeups() throws IOException {
        List<Long> found = new ArrayList<>();
        try (DirectoryStream<Path> tasks = Files.newDirectoryStream(Paths.get("/proc/self/task"))) {
            for (Path task : tasks) {
                if (!Files.readString(task.resolve("comm")).trim().equals("ns-usb-read")) {
                    continue;
                }
                long switches = 0;
                for (String line : Files.readAllLines(task.resolve("status"))) {
                    if (line.matches("(non)?voluntary_ctxt_switches:.*")) {
                        switches += Long.parseLong(line.replaceAll("[^0-9]", ""));
                    }
                }
                found.add(switches);
            }
        }
        assertEquals(1, found.size(), "one read thread");
        return found.get(0);
    }

    @Test
    void anIdleReadThreadNeverWakesAndDestroyStopsItPromptly() throws Exception {
        long device = UsbEmulator.plugTablet(0x078c, 0x0600, 1, 2);
        long h = connect(device);
        assertTrue(UsbEmulator.waitForPendingIn(device, WAIT));
        UsbEmulator.feedInput(device, report(2, 1));
        assertTrue(waitForQueued(device));
        SysLog.drain();

        // The second is the measurement window: a thread that polls, or a transfer with a
        // timeout, wakes many times in it.
        long before = readThreadWakeups();
        Thread.sleep(1000);
        long wakeups = readThreadWakeups() - before;
        assertTrue(wakeups <= 1, "the idle read thread woke " + wakeups + " times in a second");

        long started = System.nanoTime();
        destroy(h);
        long tookMillis = (System.nanoTime() - started) / 1_000_000;
        assertTrue(tookMillis < 2000, "destroy took " + tookMillis + " ms");
        assertTrue(UsbEmulator.waitForClients(device, 0, WAIT), "the device node is closed");
        assertTrue(UsbEmulator.waitForClaimed(device, false, WAIT));

        List<String> lines = SysLog.drain();
        assertEquals(4, lines.size(), lines.toString());
        Matcher m = Pattern.compile("7 NATIVESUPPORT: close_Device on handle (-?\\d+)").matcher(lines.get(0));
        assertTrue(m.matches(), lines.get(0));
        String n = m.group(1);
        assertEquals(List.of(
                debug("NATIVESUPPORT: close_Device on handle " + n),
                READ_STOPPED,
                debug("NATIVESUPPORT: close_Device: About to clear input report queue for handle " + n),
                debug("NATIVESUPPORT: close_Device: About to release interface and close for handle " + n)),
                lines);
        assertNull(usb.readNativeUsbState(h));
    }

    @Test
    void unplugDuringAPendingReadEndsTheThreadButKeepsQueuedReports() {
        long device = UsbEmulator.plugTablet(0x5543, 0x0064, 1, 2);
        long h = connect(device);
        assertEquals(20000, usb.readMaxX(h), "vendor 0x5543 doubles the descriptor's range");
        assertEquals(12500, usb.readMaxY(h));
        assertTrue(UsbEmulator.waitForPendingIn(device, WAIT));
        UsbEmulator.feedInput(device, report(7, 1));
        UsbEmulator.feedInput(device, report(7, 2));
        assertTrue(waitForQueued(device));
        SysLog.drain();

        UsbEmulator.unplug(device);
        assertTrue(SysLog.await(READ_STOPPED, WAIT));
        assertEquals(List.of(
                debug("NATIVESUPPORT: libusb_interrupt_transfer failed. Bytes written (0). Error Code "
                        + "(LIBUSB_ERROR_NO_DEVICE)"),
                READ_STOPPED), SysLog.drain());

        assertEquals(1, usb.readNativeUsbState(h)[1]);
        assertEquals(2, usb.readNativeUsbState(h)[1]);
        assertNull(usb.readNativeUsbState(h));
        destroy(h);
        List<String> closing = SysLog.drain();
        assertEquals(3, closing.size(), "no second stop line: " + closing);
    }

    @Test
    void aFailedInTransferIsLoggedAndRetriedButAStallEndsTheThreadAndCancelsTheOthers() {
        long device = UsbEmulator.plugTablet(0x078c, 0x0600, 1, 2);
        long h = connect(device);
        assertTrue(waitForQueued(device));
        SysLog.drain();

        // Each report's transfer goes straight back to the device; that submission fails.
        UsbEmulator.failEndpoint(device, 0x81, -UsbEmulator.EOVERFLOW, 1);
        UsbEmulator.feedInput(device, report(2, 1));
        assertTrue(waitForQueued(device), "an overflow does not stop the reading");
        assertEquals(List.of(failed("LIBUSB_ERROR_OVERFLOW")), SysLog.drain());
        assertEquals(1, usb.readNativeUsbState(h)[1]);

        UsbEmulator.failEndpoint(device, 0x81, -UsbEmulator.EPIPE, 1);
        UsbEmulator.feedInput(device, report(2, 2));
        assertTrue(SysLog.await(READ_STOPPED, WAIT));
        assertEquals(List.of(failed("LIBUSB_ERROR_PIPE"), READ_STOPPED), SysLog.drain());
        assertTrue(UsbEmulator.waitForDiscards(device, READ_TRANSFERS - 1, WAIT), "the other transfers are cancelled");
        assertEquals(2, usb.readNativeUsbState(h)[1], "the report before the stall stays readable");
        assertNull(usb.readNativeUsbState(h));
        UsbEmulator.feedInput(device, report(2, 3));
        assertFalse(UsbEmulator.waitForInputTaken(device, 1, 200), "nothing reads any more");
    }

    private static String failed(String error) {
        return debug("NATIVESUPPORT: libusb_interrupt_transfer failed. Bytes written (0). Error Code (" + error + ")");
    }

    @Test
    void startUpSequenceOfAptTabletsSetsVersionAndRange() {
        for (int vendor : new int[] {0x08ca, 0x172f}) {
            UsbEmulator.unplugAll();
            long device = UsbEmulator.plugTablet(vendor, 0x0010, 1, 2);
            long h = connect(device);
            assertEquals("02.16", usb.getNativeUsbFirmwareVersion(h));
            assertEquals(31999, usb.readMaxX(h));
            assertEquals(19999, usb.readMaxY(h));
            List<String> feature = new ArrayList<>();
            for (String r : UsbEmulator.records(device)) {
                if (r.startsWith("CTRL 21 09 0302") || r.startsWith("CTRL a1 01 0302")) {
                    feature.add(r);
                }
            }
            assertEquals(List.of(
                    "CTRL 21 09 0302 0000 0003 020200",
                    "CTRL 21 09 0302 0000 0003 021804",
                    "CTRL 21 09 0302 0000 0003 020300",
                    "CTRL 21 09 0302 0000 0003 020400",
                    "CTRL a1 01 0302 0000 0100",
                    "CTRL 21 09 0302 0000 0003 020100",
                    "CTRL a1 01 0302 0000 0100",
                    "CTRL 21 09 0302 0000 0003 020101",
                    "CTRL a1 01 0302 0000 0100",
                    "CTRL 21 09 0302 0000 0003 020800",
                    "CTRL 21 09 0302 0000 0003 021001",
                    "CTRL 21 09 0302 0000 0003 021804"), feature, "vendor " + Integer.toHexString(vendor));
            destroy(h);
        }
    }

    @Test
    void dfuModeDevicesStayOpenOnlyWithTheMarkerAndGetNoReadThread() {
        long ours = UsbEmulator.plugModel("dfu-vornique", 1, 2);
        long h = connect(ours);
        assertEquals(-8431, usb.getNativeUsbPid(h));
        List<String> lines = SysLog.drain();
        assertFalse(lines.stream().anyMatch(l -> l.contains("Read thread is starting")), lines.toString());
        assertNull(usb.readNativeUsbState(h));

        long theirs = UsbEmulator.plugModel("dfu", 1, 3);
        long other = create();
        assertFalse(usb.connectNativeUsb(other, UsbEmulator.path(theirs)));
        lines = SysLog.drain();
        assertEquals(debug("NATIVESUPPORT: DFU Device isn't ours.  Closing device."), lines.get(lines.size() - 1));
        assertTrue(UsbEmulator.waitForClients(theirs, 0, WAIT));
    }

    @Test
    void refusalsLeaveNothingOpen() {
        long tablet = UsbEmulator.plugModel("kernel-driver", 1, 2);
        long unsupported = UsbEmulator.plugModel("unsupported", 1, 3);
        long h = create();

        assertFalse(usb.connectNativeUsb(h, UsbEmulator.path(unsupported)));
        assertFalse(usb.connectNativeUsb(h, "001/009-5543-0064-00-00"), "nothing at that address");
        assertTrue(UsbEmulator.waitForClients(unsupported, 0, WAIT));
        SysLog.drain();

        // A bound kernel driver is detached before the claim.
        assertTrue(UsbEmulator.kernelDriverBound(tablet));
        assertTrue(usb.connectNativeUsb(h, UsbEmulator.path(tablet)));
        assertFalse(UsbEmulator.kernelDriverBound(tablet));

        // Connecting an open instance again is refused; the device stays open.
        SysLog.drain();
        assertFalse(usb.connectNativeUsb(h, UsbEmulator.path(tablet)));
        assertTrue(SysLog.drain().contains(debug("NATIVESUPPORT: m_usb_handle is not NULL.  Device is already open.")));
        assertTrue(UsbEmulator.waitForPendingIn(tablet, WAIT));
        UsbEmulator.feedInput(tablet, report(9));
        assertTrue(waitForQueued(tablet));
        assertEquals(9, usb.readNativeUsbState(h)[0]);

        // An interface without an IN endpoint gives no report length: refused and closed.
        long noEndpoint = UsbEmulator.plug(1, 4, 0x078c, 0x0600, 0, 0, 0x100, new byte[0], 0, 0, 0,
                "Calcomp", "No Endpoint", "", "", false);
        long other = create();
        assertFalse(usb.connectNativeUsb(other, UsbEmulator.path(noEndpoint)));
        assertTrue(UsbEmulator.waitForClients(noEndpoint, 0, WAIT));
    }

    @Test
    void theWholeDeviceListOpensTheFirstListedMatch() {
        // libusb lists the device enumerated last first.
        UsbEmulator.plugTablet(0x078c, 0x0600, 1, 2);
        long first = UsbEmulator.plugTablet(0x172f, 0x0031, 1, 3);
        UsbEmulator.plugModel("unsupported", 1, 4);
        String list = usb.discoverUSBInputDevices();
        long h = create();
        assertTrue(usb.connectNativeUsb(h, list));
        assertEquals(0x172f, usb.getNativeUsbVid(h));
        assertTrue(UsbEmulator.waitForClaimed(first, true, WAIT));
    }

    @Test
    void everyVendorsTabletStreamsReports() {
        int[][] tablets = {{0x078c, 0x0600}, {0x078c, 0x0701}, {0x08ca, 0x0010}, {0x5543, 0x040a}, {0x172f, 0x0031}};
        int address = 2;
        for (int[] t : tablets) {
            long device = UsbEmulator.plugTablet(t[0], t[1], 1, address++);
            long h = connect(device);
            assertTrue(UsbEmulator.waitForPendingIn(device, WAIT));
            for (int i = 0; i < 5; i++) {
                UsbEmulator.feedInput(device, report(2, i, t[0] & 0xff));
            }
            assertTrue(waitForQueued(device));
            for (int i = 0; i < 5; i++) {
                byte[] r = usb.readNativeUsbState(h);
                assertEquals(64, r.length);
                assertEquals(i, r[1], "in order, one per call, vendor " + Integer.toHexString(t[0]));
                assertEquals((byte) t[0], r[2]);
            }
            assertNull(usb.readNativeUsbState(h));
            destroy(h);
            assertTrue(UsbEmulator.waitForClients(device, 0, WAIT));
        }
        assertEquals(List.of(), readThreads(), "every read thread has ended");
    }

    /** The library's read threads still alive in this process, by their thread name. */
    private static List<String> readThreads() {
        List<String> found = new ArrayList<>();
        java.io.File[] tasks = new java.io.File("/proc/self/task").listFiles();
        for (java.io.File task : tasks == null ? new java.io.File[0] : tasks) {
            try {
                String name = java.nio.file.Files.readString(new java.io.File(task, "comm").toPath()).trim();
                if (name.equals("ns-usb-read")) {
                    found.add(task.getName());
                }
            } catch (java.io.IOException gone) {
                // the thread ended while we looked
            }
        }
        return found;
    }

    @Test
    void aDeviceClaimedByAnotherInstanceIsRefusedAndClosedAgain() {
        long device = UsbEmulator.plugTablet(0x078c, 0x0600, 1, 2);
        String path = UsbEmulator.path(device);
        connect(device);
        SysLog.drain();

        long second = create();
        assertFalse(usb.connectNativeUsb(second, path));
        List<String> lines = SysLog.drain();
        assertEquals(7, lines.size(), lines.toString());
        Matcher m = Pattern.compile("7 NATIVESUPPORT: close_Device on handle (-?\\d+)").matcher(lines.get(4));
        assertTrue(m.matches(), lines.toString());
        String n = m.group(1);
        assertEquals(List.of(
                info("NATIVESUPPORT: open_Device() Looking For : " + path),
                info("NATIVESUPPORT: Found VID: 078c"),
                info("NATIVESUPPORT: open_Device() Found : " + path),
                debug("NATIVESUPPORT: Unable to claim interface. Closing device."),
                debug("NATIVESUPPORT: close_Device on handle " + n),
                debug("NATIVESUPPORT: close_Device: About to clear input report queue for handle " + n),
                debug("NATIVESUPPORT: close_Device: About to release interface and close for handle " + n)), lines);
        assertEquals(0x078c, usb.getNativeUsbVid(second), "the refused device's ids stay readable");
        assertTrue(UsbEmulator.waitForClients(device, 1, WAIT), "only the first instance keeps the device open");
    }
}
