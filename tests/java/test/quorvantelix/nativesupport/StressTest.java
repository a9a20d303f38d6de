package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.*;

import java.nio.*;
import java.nio.file.*;
import java.util.*;
import java.util.concurrent.*;
import java.util.concurrent.atomic.AtomicLongArray;
import java.util.function.*;
import java.util.stream.*;
import org.junit.jupiter.api.*;
import quorvantelix.dm.connections.usb.NativeUSB;
import quorvantelix.dm.deviceapi.SharedMemoryNativeInterface;
import quorvantelix.emulator.UsbEmulator;
import quorvantelix.test.*;

/**
 * Many Java threads at once drive the library for -Dns.stressSeconds (60 by default): four workers
 * discover, create, connect, read, write, send control and DFU requests to and destroy instances,
 * call the library with other workers', destroyed and made-up handles and borrow shared memory;
 * one thread unplugs and plugs the emulated devices, one subscribes and unsubscribes. Each worker
 * has a tablet of its own, and they share a DFU device: a connection to its own tablet that
 * stays plugged throughout must succeed, and it feeds its tablet numbered reports and reads them
 * back: none may be lost, repeated or reordered. Every subscription hears of a change made while
 * it lasts. Afterwards the process holds the threads, descriptors and shared memory attachments it
 * held before, and no emulated device is open.
 */
class StressTest {
    private static final long SECONDS = Long.getLong("ns.stressSeconds", 60);
    /** Longest wait for the emulator or for a thread; far beyond any healthy pause. */
    private static final long PATIENCE_MS = 60_000;
    private static final int REPORTS = 24;
    private static final int WORKERS = 4;
    private static final int DFU_SLOT = WORKERS;
    /** umockdev's preload library ends the process after about 50 connections to the log, one per subscription. */
    private static final int MOST_SUBSCRIPTIONS = 30;
    private static final int SHM_KEY = 0x5e570000 + (int) (ProcessHandle.current().pid() & 0xFFF) * 8;

    private final NativeUSB usb = new NativeUSB();
    private final SharedMemoryNativeInterface shm = new SharedMemoryNativeInterface();
    /** The device in each slot: each worker's tablet, then the DFU device. */
    private final AtomicLongArray slots = new AtomicLongArray(WORKERS + 1);
    private final Queue<Long> pluggedEver = new ConcurrentLinkedQueue<>();
    /**
     * Instances created lately, most destroyed since. A destroyed instance's address may be handed
     * out again, so any of them may be another worker's: they get no call that takes its reports
     * or destroys it.
     */
    private final AtomicLongArray recent = new AtomicLongArray(8);
    /** A tablet's calls, a DFU device's (neither group takes reports or destroys), and the calls that do. */
    private final List<List<LongConsumer>> calls = List.of(
            List.of(usb::getNativeUsbVid, usb::readMaxX, usb::getNativeUsbProductName, usb::getNativeUsbSerialNumber,
                    h -> usb.writeCommand(h, data()), h -> usb.writeFirmwareCommand(h, data()),
                    h -> usb.writeToControlTransfer(h, data())),
            List.of(usb::dfuGetStatus, usb::dfuGetState, usb::dfuClearStatus, usb::dfuAbort,
                    h -> usb.dfuDownload(h, ThreadLocalRandom.current().nextInt(4), data(),
                            ThreadLocalRandom.current().nextInt(-2, 200))),
            List.of(usb::readNativeUsbState, usb::destroyNativeUsbInstance));
    private long deadline;

    @AfterAll
    static void stopRig() throws Exception {
        UsbEmulator.unplugAll();
        // the segments are the test's to remove, not the library's
        assertTrue(ShmPeer.removeSegments(SHM_KEY, 4));
    }

    @Test
    void manyThreadsAtOnceLoseNoReportAndLeakNothing() throws Exception {
        UsbEmulator.start();
        SysLog.drain(); // the capture in place before the library logs
        NotifyRig.createDatabase(NotifyRig.OLD_UDEV_DB);
        NotifyRig.openWhatStays(usb, PATIENCE_MS);
        IntStream.range(0, slots.length()).forEach(slot -> plug(slot, 0));
        assertEquals(1, session(0, ThreadLocalRandom.current()), "a connection alone gets all its reports");
        assertTrue(shm.releaseSharedMemory(shm.connectSharedMemoryMacLinux(SHM_KEY, 4096)));
        List<Object> before = threadsAndAttachments();
        Map<Integer, String> descriptorsBefore = descriptors();

        deadline = System.nanoTime() + SECONDS * 1_000_000_000L;
        List<Callable<Integer>> jobs = new ArrayList<>(List.of(this::plugAndUnplug, this::subscribeAndUnsubscribe));
        IntStream.range(0, WORKERS).forEach(me -> jobs.add(() -> work(me)));
        List<FutureTask<Integer>> tasks = jobs.stream().map(FutureTask::new).toList();
        List<Thread> threads = tasks.stream().map(Thread::new).toList();
        threads.forEach(Thread::start);
        int complete = 0;
        for (int i = 0; i < threads.size(); i++) {
            Thread t = threads.get(i);
            t.join(SECONDS * 1000 + PATIENCE_MS);
            assertFalse(t.isAlive(), "blocked: " + Arrays.toString(t.getStackTrace()));
            complete += tasks.get(i).get(); // a thread's failure fails the test here
        }
        Tasks.awaitGone("ns-", PATIENCE_MS);
        UsbEmulator.unplugAll();
        System.out.println("stress: " + complete + " connections got all their " + REPORTS + " reports");
        assertTrue(complete > 0, "no tablet stayed plugged through a connection");
        // A joined thread may still be on its way out of the kernel's list for a moment.
        for (long until = System.nanoTime() + PATIENCE_MS * 1_000_000L; !before.equals(threadsAndAttachments())
                && System.nanoTime() < until; Thread.sleep(10)) {
        }
        assertEquals(before, threadsAndAttachments(), "threads and shared memory attachments");
        assertEquals(List.of(), pluggedEver.stream().filter(d -> !UsbEmulator.waitForClients(d, 0, 10_000))
                .map(UsbEmulator::path).toList(), "devices still open");
        Tasks.assertSameDescriptors(descriptorsBefore, descriptors());
    }

    /**
     * Round after round: a connection to the worker's tablet or to the DFU device, calls with
     * another worker's or a destroyed handle and with a made-up one, a discovery, and a borrowed
     * segment of shared memory. Returns how many of its connections kept their tablet plugged
     * throughout.
     */
    private int work(int me) {
        ThreadLocalRandom random = ThreadLocalRandom.current();
        int complete = 0;
        for (int n = 0; n < 5_000 && System.nanoTime() < deadline; n++) { // the bound keeps the log finite
            complete += session(random.nextBoolean() ? me : DFU_SLOT, random);
            long other = recent.get(random.nextInt(recent.length()));
            calls.get(random.nextInt(2)).forEach(call -> call.accept(other));
            long madeUp = random.nextBoolean() ? random.nextLong() : random.nextInt(-1, 1);
            calls.get(random.nextInt(3)).forEach(call -> call.accept(madeUp));
            assertNotNull(usb.discoverUSBInputDevices());
            String path = UsbEmulator.path(slots.get(random.nextInt(slots.length())));
            usb.getNativeUsbVidDirect(path);
            usb.getNativeUsbPidDirect(path);
            long segment = shm.connectSharedMemoryMacLinux(SHM_KEY + random.nextInt(4), random.nextInt(1, 4097));
            ByteBuffer b = shm.retrieveSharedMemoryDirectByteBuffer(segment); // none for -1: a smaller segment has the key
            if (b != null) {
                b.put(random.nextInt(b.capacity()), (byte) n);
                assertTrue(shm.releaseSharedMemory(segment));
            }
        }
        return complete;
    }

    /**
     * A new instance, connected to the device in the slot: the worker's tablet, unless it is
     * unplugged meanwhile, or the DFU device, unless another worker has it; 1 if it got all its
     * reports.
     */
    private int session(int slot, ThreadLocalRandom random) {
        long device = slots.get(slot);
        long h = usb.createNativeUsbInstance();
        recent.set(random.nextInt(recent.length()), h);
        assertNull(usb.readNativeUsbState(h), "an unconnected instance has no reports");
        int complete = 0;
        boolean tablet = slot != DFU_SLOT;
        if (usb.connectNativeUsb(h, UsbEmulator.path(device))) {
            complete = tablet ? checkNumberedReports(device, h) : 0;
            calls.get(tablet ? 0 : 1).forEach(call -> call.accept(h));
        } else if (tablet) {
            assertFalse(UsbEmulator.isPlugged(device), "a tablet that stayed plugged refused: " + UsbEmulator.path(device));
        }
        usb.destroyNativeUsbInstance(h);
        return complete;
    }

    /**
     * Feeds the tablet numbered reports, reading as they come, in two bursts, after each of which
     * the read thread queues them all: they arrive in order, each once, and all of them unless the
     * tablet was unplugged meanwhile (1 then). Reports of earlier connections are skipped.
     */
    private int checkNumberedReports(long device, long h) {
        int connection = ThreadLocalRandom.current().nextInt();
        List<Integer> received = new ArrayList<>();
        for (int seq = 0; seq < REPORTS; seq++) {
            UsbEmulator.feedInput(device, ByteBuffer.allocate(8).order(ByteOrder.LITTLE_ENDIAN)
                    .put((byte) 2).putInt(connection).putShort((short) seq).put((byte) 0x7f).array());
            long until = System.nanoTime() + PATIENCE_MS * 1_000_000L;
            while (seq % (REPORTS / 2) == REPORTS / 2 - 1 && UsbEmulator.isPlugged(device) && System.nanoTime() < until
                    && !UsbEmulator.waitForInputTaken(device, EmulatedUsbSuite.READ_TRANSFERS, 500)) {
                // reports the read thread never takes are lost reports
            }
            for (byte[] r = usb.readNativeUsbState(h); r != null; r = usb.readNativeUsbState(h)) {
                assertEquals(64, r.length, "report length");
                ByteBuffer b = ByteBuffer.wrap(r).order(ByteOrder.LITTLE_ENDIAN);
                if (b.get(0) == 2 && b.getInt(1) == connection) {
                    received.add((int) b.getShort(5));
                }
            }
        }
        boolean plugged = UsbEmulator.isPlugged(device);
        assertEquals(IntStream.range(0, plugged ? REPORTS : received.size()).boxed().toList(), received,
                UsbEmulator.path(device) + (plugged ? "" : ", unplugged meanwhile"));
        return plugged ? 1 : 0;
    }

    /** Null, empty or up to 129 characters of any value. */
    private static char[] data() {
        ThreadLocalRandom random = ThreadLocalRandom.current();
        return random.nextInt(8) == 0 ? null : random.ints(random.nextInt(130), 0, 0x10000)
                .mapToObj(c -> String.valueOf((char) c)).collect(Collectors.joining()).toCharArray();
    }

    /** Each slot has addresses of its own; its last device is gone before it gets the next. */
    private void plug(int slot, int n) {
        long device = slot == DFU_SLOT ? UsbEmulator.plugModel("dfu-vornique", 4, 110 + n % 15)
                : UsbEmulator.plugTablet(slot % 2 == 0 ? 0x078c : 0x5543, 0x0600 + slot, 4, 10 + slot * 25 + n % 25);
        pluggedEver.add(device);
        slots.set(slot, device);
    }

    /** Replaces devices, mostly after a connection has ended, now and then during one. */
    private int plugAndUnplug() {
        ThreadLocalRandom random = ThreadLocalRandom.current();
        for (int n = 1; System.nanoTime() < deadline; n++) {
            int slot = random.nextInt(slots.length());
            if (UsbEmulator.waitForClients(slots.get(slot), 1, 2000) && random.nextInt(3) != 0) {
                UsbEmulator.waitForClients(slots.get(slot), 0, PATIENCE_MS); // however slow the connection
            }
            UsbEmulator.unplug(slots.get(slot));
            plug(slot, n);
        }
        return 0;
    }

    private int subscribeAndUnsubscribe() throws Exception {
        int n = 0, heard = 0;
        for (; n < MOST_SUBSCRIPTIONS && System.nanoTime() < deadline; n++) {
            int seen = Callbacks.HOT_PLUG.calls().size();
            usb.subscribeUSBChangeEvents();
            if (notificationThreadsBlockTheirSignal()) {
                NotifyRig.touch(NotifyRig.OLD_UDEV_DB, "stress-" + n);
                NotifyRig.remove(NotifyRig.OLD_UDEV_DB, "stress-" + n);
                assertTrue(Callbacks.HOT_PLUG.await(seen + 1, PATIENCE_MS), "subscription " + n + " heard of no change");
                heard++;
            } else {
                System.out.println("stress: subscription " + n + "'s notification thread has another thread's signal mask");
            }
            usb.unsubscribeUSBChangeEvents();
        }
        assertTrue(heard * 2 > n, heard + " of " + n + " subscriptions had their notification thread as the library made it");
        return 0;
    }

    /**
     * Whether every notification thread blocks the directory's signal (SIGRTMIN, bit 33 of the
     * mask), as the library starts it. umockdev 0.17's preload library keeps the mask of a thread
     * in one of its path calls (open, stat...) in one variable of the process, outside its lock:
     * a thread that arms its watch while workers open devices may come out with a worker's mask,
     * and its signals then go to the stray-signal handler, unheard. Under qemu the kernel sees
     * qemu's masks, not the JVM's: every subscription counts there.
     */
    private static boolean notificationThreadsBlockTheirSignal() throws Exception {
        if (!System.getProperty("ns.emulator", "").isEmpty()) {
            return true;
        }
        for (String status : Tasks.statusOf("ns-hotplug")) {
            String mask = status.replaceAll("(?s).*\nSigBlk:\\s*(\\p{XDigit}+).*", "$1");
            if ((Long.parseUnsignedLong(mask, 16) >> 33 & 1) == 0) {
                return false;
            }
        }
        return true;
    }

    /** Thread names (but the JVM's compiler threads, which come and go) and shared memory attachments. */
    private static List<Object> threadsAndAttachments() throws Exception {
        return List.of(Tasks.names().stream().filter(n -> !n.contains("CompilerThre")).sorted().toList(),
                Files.readAllLines(Paths.get("/proc/self/maps")).stream().filter(l -> l.contains("/SYSV")).count());
    }

    /**
     * Descriptors but for the emulator's: a node and sockets under its root for every device ever
     * plugged, kept after the unplug. Whether the library still has a device open the emulator counts.
     */
    private static Map<Integer, String> descriptors() throws Exception {
        String root = UsbEmulator.rootDir();
        Set<String> emulatorSockets = Files.readAllLines(Paths.get("/proc/net/unix")).stream()
                .map(l -> l.trim().split("\\s+")).filter(f -> f.length >= 8 && f[7].startsWith(root))
                .map(f -> "socket:[" + f[6] + "]").collect(Collectors.toSet());
        Map<Integer, String> fds = Tasks.descriptors();
        fds.values().removeIf(t -> t.startsWith(root + "/dev/bus/usb/") || emulatorSockets.contains(t));
        return fds;
    }
}
