package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.*;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.stream.IntStream;
import org.junit.jupiter.api.Test;
import quorvantelix.emulator.UsbEmulator;
import quorvantelix.test.Tasks;

/** Discovering emulated tablets of each vendor, opening them, their start-up, their reports, and closing. */
class ConnectAndReadTest extends EmulatedUsbSuite {
    private static final String READ_THREAD = "ns-usb-read";

    private static byte[] report(int... bytes) {
        byte[] r = new byte[bytes.length];
        for (int i = 0; i < bytes.length; i++) {
            r[i] = (byte) bytes[i];
        }
        return r;
    }

    @Test
    void discoveryListsSupportedVendorsAndTheLookupsReadTheIdsAtAPrefix() {
        UsbEmulator.plugTablet(0x078c, 0x0700, 1, 4);
        long other = UsbEmulator.plugModel("unsupported", 1, 7);
        UsbEmulator.plugModel("dfu", 2, 11);
        long tablet = UsbEmulator.plugTablet(0x172f, 0x0031, 2, 12);
        String found = usb.discoverUSBInputDevices();
        assertEquals("002/012-172f-0031-00-00|002/011-0483-df11-00-00|001/004-078c-0700-00-00", found);

        // The first listed device whose bus/address prefix occurs anywhere; ids are signed.
        assertEquals(0x172f, usb.getNativeUsbVidDirect(found));
        assertEquals(-8431, usb.getNativeUsbPidDirect("xx 002/011-ffff-ffff-ff-ff"));
        assertEquals(0x046d, usb.getNativeUsbVidDirect(UsbEmulator.path(other)), "vendors discovery leaves out too");
        assertEquals(0, usb.getNativeUsbVidDirect(""));
        assertEquals(0, usb.getNativeUsbPidDirect("no slash at all"));

        // Replugged at a new address: a new path; the old one names nothing.
        String before = UsbEmulator.path(tablet);
        UsbEmulator.unplug(tablet);
        UsbEmulator.plugTablet(0x172f, 0x0031, 2, 13);
        assertTrue(usb.discoverUSBInputDevices().startsWith("002/013-172f-0031-00-00|"));
        assertEquals(0, usb.getNativeUsbVidDirect(before));
    }

    @Test
    void everyVendorsTabletStreamsItsReportsInOrderPaddedToThePacketSize() throws Exception {
        int[][] tablets = {{0x078c, 0x0600}, {0x078c, 0x0701}, {0x08ca, 0x0010}, {0x5543, 0x040a}, {0x172f, 0x0031}};
        for (int t = 0; t < tablets.length; t++) {
            long device = UsbEmulator.plugTablet(tablets[t][0], tablets[t][1], 1, 2 + t);
            long h = create();
            long started = System.nanoTime();
            assertTrue(usb.connectNativeUsb(h, UsbEmulator.path(device)));
            assertTrue(System.nanoTime() - started >= 950_000_000L, "a connect ends with a one-second pause");
            assertEquals((short) tablets[t][0], usb.getNativeUsbVid(h));
            assertEquals((short) tablets[t][1], usb.getNativeUsbPid(h));
            if (tablets[t][0] == 0x5543) {
                assertEquals(List.of(20000, 12500), List.of(usb.readMaxX(h), usb.readMaxY(h)), "0x5543 doubles the range");
            }
            assertNull(usb.readNativeUsbState(h), "an empty queue gives null at once");
            assertTrue(UsbEmulator.waitForPendingIn(device, WAIT));
            UsbEmulator.feedInput(device, report(2, 0x11, 1, 2, 3, 4, 5, 6));
            UsbEmulator.feedInput(device, report(2, 0x22, 7));
            UsbEmulator.feedInput(device, report(2, 0x33));
            assertTrue(waitForQueued(device));
            assertArrayEquals(Arrays.copyOf(report(2, 0x11, 1, 2, 3, 4, 5, 6), 64), usb.readNativeUsbState(h));
            assertArrayEquals(Arrays.copyOf(report(2, 0x22, 7), 64), usb.readNativeUsbState(h));
            assertArrayEquals(Arrays.copyOf(report(2, 0x33), 64), usb.readNativeUsbState(h));
            assertNull(usb.readNativeUsbState(h));
            destroy(h);
            assertTrue(UsbEmulator.waitForClients(device, 0, WAIT));
        }
        assertFalse(Tasks.names().contains(READ_THREAD), "every read thread has ended");
    }

    @Test
    void aTabletTellsItsIdentityAndItsIdleReadThreadNeverWakes() throws Exception {
        long device = UsbEmulator.plugTablet(0x078c, 0x0600, 1, 2);
        long h = connectTo(UsbEmulator.path(device));
        assertEquals("Pen Tablet", usb.getNativeUsbProductName(h));
        assertEquals("EMU0001", usb.getNativeUsbSerialNumber(h));
        assertEquals("Pen", usb.getNativeUsbFirmwareVersion(h));
        assertEquals(10000, usb.readMaxX(h));
        assertEquals(10000, usb.getNativeUsbxMax(h));
        assertEquals(6250, usb.readMaxY(h));
        assertTrue(waitForQueued(device));

        // A thread that polled, or a transfer with a timeout, would wake many times in a second.
        long wakeups = Tasks.wakeupsDuring(READ_THREAD, 1000);
        assertTrue(wakeups <= 1, "the idle read thread woke " + wakeups + " times in a second");

        long started = System.nanoTime();
        destroy(h);
        assertTrue(System.nanoTime() - started < 2_000_000_000L, "destroy stops the waiting thread promptly");
        assertTrue(UsbEmulator.waitForClients(device, 0, WAIT), "the device node is closed");
        assertTrue(UsbEmulator.waitForClaimed(device, false, WAIT));
        assertEquals("", usb.getNativeUsbProductName(create()), "a new instance knows nothing");
    }

    @Test
    void theStartUpOfAptTabletsSetsVersionAndRange() {
        for (int vendor : new int[] {0x08ca, 0x172f}) {
            UsbEmulator.unplugAll();
            long device = UsbEmulator.plugTablet(vendor, 0x0010, 1, 2);
            long h = connectTo(UsbEmulator.path(device));
            assertEquals("02.16", usb.getNativeUsbFirmwareVersion(h));
            assertEquals(31999, usb.readMaxX(h));
            assertEquals(19999, usb.readMaxY(h));
            List<String> feature = new ArrayList<>();
            for (String r : UsbEmulator.records(device)) {
                if (r.startsWith("CTRL 21 09 0302") || r.startsWith("CTRL a1 01 0302")) {
                    feature.add(r.replace("CTRL 21 09 0302 0000 0003 ", "").replace("CTRL a1 01 0302 0000 0100", "read"));
                }
            }
            assertEquals(List.of("020200", "021804", "020300", "020400", "read", "020100", "read", "020101", "read",
                    "020800", "021001", "021804"), feature, "vendor " + Integer.toHexString(vendor));
            destroy(h);
        }
    }

    @Test
    void refusalsLeaveNothingOpen() throws Exception {
        // Devices in firmware update mode stay open only with the marker, and get no read thread.
        long ours = UsbEmulator.plugModel("dfu-vornique", 1, 2);
        long h = connectTo(UsbEmulator.path(ours));
        assertFalse(Tasks.names().contains(READ_THREAD));
        long theirs = UsbEmulator.plugModel("dfu", 1, 3);
        assertFalse(usb.connectNativeUsb(create(), UsbEmulator.path(theirs)));
        assertTrue(UsbEmulator.waitForClients(theirs, 0, WAIT));

        long unsupported = UsbEmulator.plugModel("unsupported", 1, 4);
        assertFalse(usb.connectNativeUsb(create(), UsbEmulator.path(unsupported)));
        assertFalse(usb.connectNativeUsb(create(), "001/009-5543-0064-00-00"), "nothing at that address");
        assertTrue(UsbEmulator.waitForClients(unsupported, 0, WAIT));

        // A bound kernel driver is detached before the claim; a second instance cannot claim it.
        long tablet = UsbEmulator.plugModel("kernel-driver", 1, 5);
        assertTrue(UsbEmulator.kernelDriverBound(tablet));
        long first = connectTo(UsbEmulator.path(tablet));
        assertFalse(UsbEmulator.kernelDriverBound(tablet));
        long second = create();
        assertFalse(usb.connectNativeUsb(second, UsbEmulator.path(tablet)));
        assertEquals(0x5543, usb.getNativeUsbVid(second), "the refused device's ids stay readable");
        assertTrue(UsbEmulator.waitForClients(tablet, 1, WAIT), "only the first instance keeps it open");
        // An open instance refuses a second connect and stays open.
        assertFalse(usb.connectNativeUsb(first, UsbEmulator.path(tablet)));
        assertTrue(UsbEmulator.waitForPendingIn(tablet, WAIT));
        UsbEmulator.feedInput(tablet, report(9));
        assertTrue(waitForQueued(tablet));
        assertEquals(9, usb.readNativeUsbState(first)[0]);
    }

    @Test
    void theWholeDeviceListOpensTheFirstListedMatch() {
        UsbEmulator.plugTablet(0x078c, 0x0600, 1, 2);
        long first = UsbEmulator.plugTablet(0x172f, 0x0031, 1, 3); // libusb lists the latest plug first
        UsbEmulator.plugModel("unsupported", 1, 4);
        long h = connectTo(usb.discoverUSBInputDevices());
        assertEquals(0x172f, usb.getNativeUsbVid(h));
        assertTrue(UsbEmulator.waitForClaimed(first, true, WAIT));
    }

    /**
     * wMaxPacketSize as USB defines it: bits 0 to 10 are the bytes of a packet, bits 11 and 12
     * extra transactions. A full report arrives intact, a short one padded with zeros, each as
     * an array of exactly the packet size.
     */
    @Test
    void reportsOfEveryPacketSizeArriveIntactOrPaddedToIt() throws Exception {
        int[][] sizes = {{8, 8}, {9, 9}, {63, 63}, {512, 512}, {1023, 1023}, {1024, 1024}, {0x1400, 1024}, {0xffff, 2047}};
        for (int i = 0; i < sizes.length; i++) {
            int length = sizes[i][1];
            long device = UsbEmulator.plug(1, 2 + i, 0x078c, 0x0600, 0, 0, 0x100, new byte[0], sizes[i][0], 0, 0, "", "",
                    "", "", false);
            long h = connectTo(UsbEmulator.path(device));
            byte[][] fed = {numbered(length, 1), numbered(length - 1, 2), numbered(5, 3), {2}};
            for (byte[] r : fed) {
                UsbEmulator.feedInput(device, r);
            }
            for (byte[] r : fed) {
                assertArrayEquals(Arrays.copyOf(r, length), nextReport(h), "wMaxPacketSize " + sizes[i][0]);
            }
            assertNull(usb.readNativeUsbState(h));
            destroy(h);
        }
    }

    /**
     * A tablet destroyed while it streams and another thread polls it: the poller gets its
     * reports in order up to then and null after, nothing of the instance is touched after it
     * is gone (the sanitizer builds see to that), and the event thread ends with the last device.
     */
    @Test
    void destroyingAStreamingTabletWhileAnotherThreadPollsItEndsCleanly() throws Exception {
        ExecutorService threads = Executors.newCachedThreadPool();
        for (int round = 0; round < 3; round++) {
            long device = UsbEmulator.plugTablet(0x078c, 0x0600, 1, 2 + round);
            long h = connectTo(UsbEmulator.path(device));
            AtomicBoolean destroyed = new AtomicBoolean();
            CountDownLatch streaming = new CountDownLatch(20);
            Future<?> feeder = threads.submit(() -> feed(device, 0, Integer.MAX_VALUE, destroyed));
            Future<List<Integer>> poller = threads.submit(() -> {
                List<Integer> got = new ArrayList<>();
                for (boolean last = false; !last; ) {
                    last = destroyed.get();
                    byte[] r = usb.readNativeUsbState(h);
                    if (r != null) {
                        assertFalse(last, "a report from a destroyed instance");
                        got.add(seqOf(r));
                        streaming.countDown();
                    }
                }
                return got;
            });
            assertTrue(streaming.await(WAIT, TimeUnit.MILLISECONDS), "the tablet streams");
            destroy(h);
            destroyed.set(true);
            feeder.get();
            List<Integer> got = poller.get();
            assertEquals(IntStream.range(0, got.size()).boxed().toList(), got, "reports in order, each once");
            assertTrue(UsbEmulator.waitForClients(device, 0, WAIT));
        }
        threads.shutdown();
        Tasks.awaitGone(READ_THREAD);
    }

    /**
     * Sixteen tablets stream at once, each polled by a Java thread of its own: one event thread
     * serves them all, every poller gets exactly its own tablet's reports in order, and the event
     * thread ends once the last tablet is closed.
     */
    @Test
    void sixteenPollersEachOnItsOwnBusyTabletGetTheirReportsInOrder() throws Exception {
        int tablets = 16;
        int reports = 300;
        ExecutorService threads = Executors.newFixedThreadPool(2 * tablets);
        long[] devices = new long[tablets];
        long[] handles = new long[tablets];
        List<Future<Boolean>> connects = new ArrayList<>();
        for (int t = 0; t < tablets; t++) {
            devices[t] = UsbEmulator.plugTablet(0x078c, 0x0600, 3, 2 + t);
            String path = UsbEmulator.path(devices[t]);
            long h = handles[t] = create();
            connects.add(threads.submit(() -> usb.connectNativeUsb(h, path)));
        }
        for (Future<Boolean> connected : connects) {
            assertTrue(connected.get());
        }
        assertEquals(1, Tasks.names().stream().filter(READ_THREAD::equals).count(), "one event thread for all tablets");
        List<Future<List<Integer>>> pollers = new ArrayList<>();
        for (int t = 0; t < tablets; t++) {
            long device = devices[t];
            long h = handles[t];
            int tablet = t;
            threads.submit(() -> feed(device, tablet << 16, reports, new AtomicBoolean()));
            pollers.add(threads.submit(() -> {
                List<Integer> got = new ArrayList<>();
                long deadline = System.nanoTime() + WAIT * 1_000_000L;
                while (got.size() < reports && System.nanoTime() < deadline) {
                    byte[] r = usb.readNativeUsbState(h);
                    if (r != null) {
                        got.add(seqOf(r));
                    } else {
                        Thread.sleep(1);
                    }
                }
                return got;
            }));
        }
        for (int t = 0; t < tablets; t++) {
            int first = t << 16;
            assertEquals(IntStream.range(first, first + reports).boxed().toList(), pollers.get(t).get(), "tablet " + t);
        }
        threads.shutdown();
        for (long h : handles) {
            destroy(h);
        }
        Tasks.awaitGone(READ_THREAD);
    }

    /**
     * Feeds numbered 64-byte reports from {@code first} on until {@code count} are fed or
     * {@code stop} is set, in batches that the library has taken before the next goes.
     */
    private static Void feed(long device, int first, int count, AtomicBoolean stop) {
        for (int n = 0; n < count && !stop.get(); n++) {
            UsbEmulator.feedInput(device, numbered(64, first + n));
            if (n % 8 == 7) {
                while (!UsbEmulator.waitForInputTaken(device, 1, 100) && !stop.get()) {
                    // the library takes its time
                }
            }
        }
        return null;
    }
}
