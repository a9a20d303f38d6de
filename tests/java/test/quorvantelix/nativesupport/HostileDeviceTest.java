package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.*;
import static org.junit.jupiter.api.Assumptions.assumeTrue;
import static quorvantelix.test.SysLog.debug;

import java.io.BufferedReader;
import java.lang.ProcessBuilder.Redirect;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;
import quorvantelix.dm.connections.usb.NativeUSB;
import quorvantelix.emulator.UsbEmulator;
import quorvantelix.test.SysLog;
import quorvantelix.test.Tasks;

/**
 * Devices that vanish in the middle of a connect, sit in firmware update mode, fail transfers,
 * answer polls with empty packets, or stream to an application that stops polling.
 */
class HostileDeviceTest extends EmulatedUsbSuite {
    private static final String READ_THREAD = "ns-usb-read";
    private static final String READ_STARTING = debug("NATIVESUPPORT: Read thread is starting for device: ");
    private static final String READ_STOPPED =
            debug("NATIVESUPPORT: readThreadLoop has stopped. No IN transactions will be processed.");
    /** The queue's bound in reports of the backlog's 1 KiB, and how many the backlog feeds. */
    private static final int BOUND = 16 << 10;
    private static final int BACKLOG = 3 * BOUND;

    private static String failed(String error) {
        return debug("NATIVESUPPORT: libusb_interrupt_transfer failed. Bytes written (0). Error Code (" + error + ")");
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

    private void feed(long device, int... seqs) {
        for (int seq : seqs) {
            UsbEmulator.feedInput(device, numbered(64, seq));
        }
    }

    private void expect(long h, int... seqs) throws InterruptedException {
        for (int seq : seqs) {
            byte[] r = nextReport(h);
            assertNotNull(r, "report " + seq);
            assertArrayEquals(numbered(64, seq), r);
        }
    }

    /**
     * One tablet polled as a pen application polls it, through what a real bus brings: empty
     * packets, a burst of bus errors, a stall; connected again, an unplug. Every report arrives
     * once and in order, and each event leaves its lines.
     */
    @Test
    void aStreamWithEmptyPacketsBusErrorsAStallAndAnUnplugLosesNothingAndKeepsItsOrder() throws Exception {
        long device = UsbEmulator.plugTablet(0x078c, 0x0600, 1, 2);
        long h = connectTo(UsbEmulator.path(device));
        assertTrue(waitForQueued(device));

        // An empty packet is a failed transfer whose successor goes at once: one answer per 4 ms poll.
        UsbEmulator.answerEmpty(device, true);
        assertTrue(UsbEmulator.waitForEmptyAnswers(device, 1, WAIT));
        long started = System.nanoTime();
        assertTrue(UsbEmulator.waitForEmptyAnswers(device, 101, WAIT));
        long took = (System.nanoTime() - started) / 1_000_000;
        assertTrue(took < 2000, "100 empty packets at one per 4 ms took " + took + " ms");
        feed(device, 1, 2, 3);
        expect(h, 1, 2, 3);
        UsbEmulator.answerEmpty(device, false);
        assertTrue(waitForQueued(device));

        // Bus errors on a device still attached: the transfer goes again after a short pause.
        for (int status : new int[] {-UsbEmulator.EPROTO, -UsbEmulator.EILSEQ, -UsbEmulator.ETIMEDOUT, -UsbEmulator.EPROTO}) {
            UsbEmulator.failEndpoint(device, 0x81, status, 1);
        }
        feed(device, 4); // the submissions after it meet the errors
        assertTrue(waitForQueued(device), "the failing transfer is pending again");
        feed(device, 5, 6);
        expect(h, 4, 5, 6);

        // A stall ends the reading; what was queued before stays readable.
        UsbEmulator.failEndpoint(device, 0x81, -UsbEmulator.EPIPE, 1);
        feed(device, 7);
        assertTrue(SysLog.await(READ_STOPPED, WAIT));
        expect(h, 7);
        feed(device, 8);
        assertFalse(UsbEmulator.waitForInputTaken(device, 1, 200), "nothing reads any more");
        destroy(h);

        // Connected again, the device still has report 8 to give; then it is unplugged.
        h = connectTo(UsbEmulator.path(device));
        feed(device, 9, 10);
        assertTrue(waitForQueued(device));
        UsbEmulator.unplug(device);
        assertTrue(SysLog.await(READ_STOPPED, 2, WAIT));
        expect(h, 8, 9, 10);
        assertNull(usb.readNativeUsbState(h));

        List<String> lines = new ArrayList<>(SysLog.drain());
        assertTrue(lines.stream().filter(failed("")::equals).count() >= 101, "a line for each empty packet");
        String failure = debug("NATIVESUPPORT: libusb_interrupt_transfer failed.");
        lines.removeIf(l -> l.equals(failed("")) || !(l.startsWith(READ_STARTING) || l.startsWith(failure) || l.equals(READ_STOPPED)));
        lines.replaceAll(l -> l.startsWith(READ_STARTING) ? READ_STARTING : l);
        assertEquals(List.of(READ_STARTING, failed("LIBUSB_ERROR_IO"), failed("LIBUSB_ERROR_PIPE"), READ_STOPPED,
                READ_STARTING, failed("LIBUSB_ERROR_NO_DEVICE"), READ_STOPPED), lines, "one line for the burst of bus errors");
    }

    /**
     * An application that stops polling while its tablet streams, in a JVM of its own whose
     * address space is bounded (prlimit --as) to what it uses plus twice the queue's bound, fed
     * three times the bound: the JVM lives, the queue keeps the newest reports within its bound,
     * and says so when dropping starts and once a poll has drained it.
     */
    @Test
    void aBacklogNobodyPollsKeepsTheNewestReportsWithinItsBoundAndTheJvmLives() throws Exception {
        assumeTrue(System.getProperty("ns.emulator", "").isEmpty(), "a JVM under qemu");
        assumeTrue(!System.getenv().getOrDefault("LD_PRELOAD", "").matches(".*lib[at]san.*"),
                "the sanitizers reserve terabytes of address space");
        Process peer = BacklogPeer.start();
        BufferedReader answers = peer.inputReader();
        String ready = answers.readLine();
        assertNotNull(ready, "the peer ended before it was ready");
        String handle = ready.split(" ")[1];
        long used = Long.parseLong(Files.readAllLines(Path.of("/proc/" + peer.pid() + "/status")).stream()
                .filter(l -> l.startsWith("VmSize:")).findFirst().orElseThrow().replaceAll("[^0-9]", "")) << 10;
        Process limit = new ProcessBuilder("prlimit", "--pid", Long.toString(peer.pid()),
                "--as=" + (used + 2L * BOUND * 1024)).inheritIO().start();
        assertEquals(0, limit.waitFor());
        peer.outputWriter().append("go\n").flush();

        String kept = answers.readLine(); // "<count> <first> <last> <gaps>"
        assertTrue(peer.waitFor(WAIT, TimeUnit.MILLISECONDS));
        assertEquals(0, peer.exitValue(), "the peer JVM died");
        assertNotNull(kept);
        int[] k = java.util.Arrays.stream(kept.split(" ")).mapToInt(Integer::parseInt).toArray();
        assertTrue(k[0] <= BOUND && k[0] >= BOUND / 2, k[0] + " reports of 1 KiB kept; the bound is 16 MiB");
        assertEquals(List.of(BACKLOG - k[0], BACKLOG - 1, 0), List.of(k[1], k[2], k[3]), "the newest reports, in order");
        String queue = "NATIVESUPPORT: Input report queue for handle " + handle;
        assertTrue(SysLog.await(debug(queue + " is full.  Dropped 1 oldest reports so far."), WAIT));
        assertTrue(SysLog.await(debug(queue + " has drained.  Dropped " + (BACKLOG - k[0]) + " reports in all."), WAIT));
    }

    /** The JVM of the backlog: connects its tablet, feeds it unpolled once told to, then polls it. */
    static final class BacklogPeer {
        static Process start() throws Exception {
            ProcessBuilder peer = new ProcessBuilder(Path.of(System.getProperty("java.home"), "bin", "java").toString(),
                    "-Xmx64m", "-XX:+UseSerialGC", "-XX:TieredStopAtLevel=1",
                    "-Djava.library.path=" + System.getProperty("java.library.path"), "-cp",
                    Path.of(BacklogPeer.class.getProtectionDomain().getCodeSource().getLocation().toURI()).toString(),
                    BacklogPeer.class.getName()).redirectError(Redirect.INHERIT);
            peer.environment().remove("UMOCKDEV_DIR"); // a testbed of its own
            peer.environment().put("MALLOC_ARENA_MAX", "1"); // no arena reserved before the bound
            return peer.start();
        }

        public static void main(String[] args) throws Exception {
            UsbEmulator.start();
            long device = UsbEmulator.plug(1, 2, 0x078c, 0x0600, 0, 0, 0x100, new byte[0], 1024, 0, 0, "", "", "", "", false);
            NativeUSB usb = new NativeUSB();
            long h = usb.createNativeUsbInstance();
            if (!usb.connectNativeUsb(h, UsbEmulator.path(device)) || !UsbEmulator.waitForPendingIn(device, WAIT)) {
                throw new AssertionError("no connection");
            }
            System.out.println("ready " + (int) h);
            new BufferedReader(new java.io.InputStreamReader(System.in)).readLine();
            for (int seq = 0; seq < BACKLOG; seq++) {
                UsbEmulator.feedInput(device, numbered(1024, seq));
                if (seq % 64 == 63 && !UsbEmulator.waitForInputTaken(device, 1, WAIT)) {
                    throw new AssertionError("report " + seq + " was never taken");
                }
            }
            if (!UsbEmulator.waitForInputTaken(device, READ_TRANSFERS, WAIT)) {
                throw new AssertionError("the last reports were never queued");
            }
            List<Integer> kept = new ArrayList<>();
            long deadline = System.nanoTime() + WAIT * 1_000_000L;
            while ((kept.isEmpty() || kept.get(kept.size() - 1) != BACKLOG - 1) && System.nanoTime() < deadline) {
                byte[] r = usb.readNativeUsbState(h);
                if (r == null) {
                    Thread.sleep(1);
                } else if (r.length != 1024 || !java.util.Arrays.equals(numbered(1024, seqOf(r)), r)) {
                    throw new AssertionError("a damaged report of " + r.length + " bytes");
                } else {
                    kept.add(seqOf(r));
                }
            }
            long gaps = java.util.stream.IntStream.range(1, kept.size()).filter(i -> kept.get(i) != kept.get(i - 1) + 1).count();
            System.out.println(kept.size() + " " + kept.get(0) + " " + kept.get(kept.size() - 1) + " " + gaps);
            usb.destroyNativeUsbInstance(h);
        }
    }
}
