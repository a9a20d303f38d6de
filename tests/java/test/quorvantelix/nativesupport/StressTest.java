package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Collections;
import java.util.HashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.concurrent.ConcurrentHashMap;
import java.util.concurrent.ConcurrentLinkedQueue;
import java.util.concurrent.ThreadLocalRandom;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.atomic.AtomicLong;
import java.util.concurrent.atomic.AtomicLongArray;
import java.util.concurrent.locks.ReentrantReadWriteLock;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import quorvantelix.test.Callbacks;
import quorvantelix.dm.connections.usb.NativeUSB;
import quorvantelix.dm.deviceapi.SharedMemoryNativeInterface;
import quorvantelix.test.SysLog;
import quorvantelix.emulator.UsbEmulator;

/**
 * Many Java threads at once drive the library for a bounded time: they create, connect, read,
 * write, send control and DFU requests to and destroy instances, call it with random and stale
 * handles, and borrow shared memory, while the emulator plugs and unplugs the devices and
 * another thread subscribes and unsubscribes. Every connection feeds its tablet numbered
 * reports and reads them back: none may be lost, repeated or reordered while the tablet stays
 * plugged. Afterwards the process holds the threads, descriptors and segments it held before.
 *
 * <p>-Dns.stressSeconds sets the duration (60 by default).
 */
class StressTest {
    private static final long SECONDS = Long.getLong("ns.stressSeconds", 60);
    private static final int WORKERS = 4;
    private static final int MAX_OPERATIONS_PER_WORKER = 20_000;
    private static final int REPORTS_PER_CONNECTION = 24;
    /** Longest wait for the emulator or for a thread; far beyond any healthy pause. */
    private static final long PATIENCE_MS = 60_000;
    private static final int SHM_KEY_BASE = 0x5e570000 + (int) (ProcessHandle.current().pid() & 0xFFF) * 8;
    private static final int SHM_KEYS = 4;
    private static final int TABLET_SLOTS = 3;

    private final NativeUSB usb = new NativeUSB();
    private final SharedMemoryNativeInterface shm = new SharedMemoryNativeInterface();

    /** Emulated device in each slot (0 while unplugged): tablets first, the DFU device last. */
    private final AtomicLongArray slots = new AtomicLongArray(TABLET_SLOTS + 1);
    private final AtomicInteger plugs = new AtomicInteger();
    private final ConcurrentLinkedQueue<Long> pluggedEver = new ConcurrentLinkedQueue<>();
    private final AtomicInteger nextConnection = new AtomicInteger(1);
    /** Instances some worker owns right now; others may call them but never read or destroy them. */
    private final Map<Long, Boolean> liveHandles = new ConcurrentHashMap<>();
    private final ConcurrentLinkedQueue<Long> staleHandles = new ConcurrentLinkedQueue<>();
    /**
     * A destroyed instance's address may be handed out again. Creating shares this lock; reading
     * from or destroying a stale handle takes it alone, after checking that no worker owns
     * that address again, so that no worker's own instance is disturbed.
     */
    private final ReentrantReadWriteLock creation = new ReentrantReadWriteLock();
    private final List<String> failures = Collections.synchronizedList(new ArrayList<>());
    private final AtomicLong checkedReports = new AtomicLong();
    private final AtomicLong sessionsWithAllReports = new AtomicLong();
    private volatile long deadline;

    @BeforeAll
    static void startRig() throws IOException {
        UsbEmulator.start();
        assertTrue(SysLog.start(), "cannot bind /dev/log");
        NotifyRig.createDatabase(NotifyRig.OLD_UDEV_DB);
    }

    @AfterAll
    static void stopRig() {
        UsbEmulator.unplugAll();
        SysLog.stop();
    }

    @Test
    void manyThreadsAtOnceLoseNoReportAndLeakNothing() throws Exception {
        warmUp();
        List<String> threadsBefore = libraryRelevantThreads();
        Map<Integer, String> descriptorsBefore = descriptors();
        long attachmentsBefore = sharedMemoryAttachments();

        deadline = System.nanoTime() + SECONDS * 1_000_000_000L;
        List<Thread> threads = new ArrayList<>();
        for (int i = 0; i < WORKERS; i++) {
            threads.add(start("stress-worker-" + i, this::work));
        }
        threads.add(start("stress-plugger", this::plugAndUnplug));
        threads.add(start("stress-subscriber", this::subscribeAndUnsubscribe));
        threads.add(start("stress-shm", this::borrowSharedMemory));
        for (Thread t : threads) {
            t.join(SECONDS * 1000 + PATIENCE_MS);
            assertFalse(t.isAlive(), t.getName() + " is blocked: " + stackOf(t));
        }

        usb.unsubscribeUSBChangeEvents();
        NotifyRig.awaitLibraryThreadsEnded();
        for (Long h : staleHandles) {
            usb.destroyNativeUsbInstance(h); // already destroyed: only a log line
        }
        UsbEmulator.unplugAll();
        synchronized (failures) {
            assertEquals(List.of(), failures);
        }
        assertTrue(sessionsWithAllReports.get() > 0, "no connection kept its tablet plugged long enough to check it");
        assertEquals(threadsBefore, libraryRelevantThreads(), "threads");
        for (long device : pluggedEver) {
            assertTrue(UsbEmulator.waitForClients(device, 0, 10_000), "still open: " + UsbEmulator.path(device));
        }
        NotifyRig.assertSameDescriptors(descriptorsBefore, descriptors());
        assertEquals(attachmentsBefore, sharedMemoryAttachments(), "shared memory attachments");
        removeSegments();
        System.out.println("stress: " + checkedReports.get() + " reports checked in " + sessionsWithAllReports.get()
                + " complete connections");
    }

    /** Everything that stays once used (the X connection, libusb's first use) is opened before counting. */
    private void warmUp() throws Exception {
        usb.subscribeUSBChangeEvents();
        assertTrue(SysLog.await(NotifyRig.CALLBACK_CREATED, PATIENCE_MS));
        usb.unsubscribeUSBChangeEvents();
        NotifyRig.awaitLibraryThreadsEnded();
        long device = UsbEmulator.plugTablet(0x078c, 0x0600, 3, 9);
        pluggedEver.add(device);
        long h = usb.createNativeUsbInstance();
        assertTrue(usb.connectNativeUsb(h, UsbEmulator.path(device)));
        usb.destroyNativeUsbInstance(h);
        UsbEmulator.unplug(device);
        int key = SHM_KEY_BASE;
        long segment = shm.connectSharedMemoryMacLinux(key, 4096);
        assertTrue(shm.releaseSharedMemory(segment));
        SysLog.drain();
    }

    private Thread start(String name, ThrowingRunnable body) {
        Thread t = new Thread(() -> {
            try {
                body.run();
            } catch (Throwable e) {
                failures.add(Thread.currentThread().getName() + ": " + e);
            }
        }, name);
        t.start();
        return t;
    }

    private interface ThrowingRunnable {
        void run() throws Exception;
    }

    private boolean running() {
        return System.nanoTime() < deadline;
    }

    // ---- the workers ----

    private void work() throws Exception {
        ThreadLocalRandom random = ThreadLocalRandom.current();
        for (int n = 0; n < MAX_OPERATIONS_PER_WORKER && running(); n++) {
            int choice = random.nextInt(10);
            if (choice < 3) {
                tabletSession(random);
            } else if (choice < 4) {
                dfuSession(random);
            } else if (choice < 8) {
                foreignCall(random);
            } else if (choice < 9) {
                discover(random);
            } else {
                long h = create();
                assertEquals(null, usb.readNativeUsbState(h), "an unconnected instance has no reports");
                destroy(h);
            }
        }
    }

    private long create() {
        creation.readLock().lock();
        try {
            long h = usb.createNativeUsbInstance();
            liveHandles.put(h, Boolean.TRUE);
            return h;
        } finally {
            creation.readLock().unlock();
        }
    }

    private void destroy(long h) {
        liveHandles.remove(h);
        usb.destroyNativeUsbInstance(h);
        staleHandles.add(h);
        while (staleHandles.size() > 64) {
            staleHandles.poll();
        }
    }

    private void tabletSession(ThreadLocalRandom random) throws Exception {
        int slot = random.nextInt(TABLET_SLOTS);
        long device = slots.get(slot);
        long h = create();
        try {
            if (device == 0 || !usb.connectNativeUsb(h, UsbEmulator.path(device))) {
                return; // unplugged, or another instance has it
            }
            checkNumberedReports(device, h, nextConnection.getAndIncrement());
            usb.writeCommand(h, randomChars(random));
            usb.writeToControlTransfer(h, randomChars(random));
            usb.getNativeUsbSerialNumber(h);
        } finally {
            destroy(h);
        }
    }

    /**
     * Feeds the tablet numbered reports of this connection in two bursts, reading between
     * them, and checks what arrives: in order, each once, and all of them unless the tablet
     * was unplugged meanwhile. Reports of earlier connections still queued in the tablet
     * are skipped.
     */
    private void checkNumberedReports(long device, long h, int connection) throws Exception {
        List<Integer> received = new ArrayList<>();
        int half = REPORTS_PER_CONNECTION / 2;
        for (int burst = 0; burst < 2; burst++) {
            for (int seq = burst * half; seq < (burst + 1) * half; seq++) {
                UsbEmulator.feedInput(device, numberedReport(connection, seq));
            }
            if (!awaitAllQueued(device)) {
                break;
            }
            readAll(h, connection, received);
        }
        readAll(h, connection, received);
        boolean stayedPlugged = UsbEmulator.isPlugged(device);
        for (int i = 0; i < received.size(); i++) {
            if (received.get(i) != i) {
                failures.add("connection " + connection + " received " + received
                        + (stayedPlugged ? "" : " (unplugged meanwhile)"));
                return;
            }
        }
        if (stayedPlugged && received.size() != REPORTS_PER_CONNECTION) {
            failures.add("connection " + connection + " lost reports: received " + received);
            return;
        }
        checkedReports.addAndGet(received.size());
        if (stayedPlugged) {
            sessionsWithAllReports.incrementAndGet();
        }
    }

    /** The read thread waits for the next report once it has queued all fed so far. */
    private boolean awaitAllQueued(long device) {
        long until = System.nanoTime() + PATIENCE_MS * 1_000_000L;
        while (System.nanoTime() < until) {
            if (UsbEmulator.waitForInputTaken(device, EmulatedUsbSuite.READ_TRANSFERS, 500)) {
                return true;
            }
            if (!UsbEmulator.isPlugged(device)) {
                return false;
            }
        }
        failures.add("the read thread never took the reports of " + UsbEmulator.path(device));
        return false;
    }

    private void readAll(long h, int connection, List<Integer> received) {
        for (byte[] r = usb.readNativeUsbState(h); r != null; r = usb.readNativeUsbState(h)) {
            if (r.length != 64) {
                failures.add("a report of " + r.length + " bytes");
            } else if (r[0] == 2 && intAt(r, 1) == connection) {
                received.add((r[5] & 0xFF) | (r[6] & 0xFF) << 8);
            }
        }
    }

    private static byte[] numberedReport(int connection, int seq) {
        return new byte[] {2, (byte) connection, (byte) (connection >> 8), (byte) (connection >> 16),
            (byte) (connection >> 24), (byte) seq, (byte) (seq >> 8), 0x7f};
    }

    private static int intAt(byte[] r, int at) {
        return (r[at] & 0xFF) | (r[at + 1] & 0xFF) << 8 | (r[at + 2] & 0xFF) << 16 | (r[at + 3] & 0xFF) << 24;
    }

    private void dfuSession(ThreadLocalRandom random) {
        long device = slots.get(TABLET_SLOTS);
        long h = create();
        try {
            if (device == 0 || !usb.connectNativeUsb(h, UsbEmulator.path(device))) {
                return;
            }
            usb.dfuGetStatus(h);
            usb.dfuGetState(h);
            char[] block = randomChars(random);
            usb.dfuDownload(h, random.nextInt(4), block, random.nextInt(-2, 200));
            usb.dfuClearStatus(h);
            usb.dfuAbort(h);
        } finally {
            destroy(h);
        }
    }

    /** One call on a handle this thread does not own: another's, a destroyed one, or a made-up one. */
    private void foreignCall(ThreadLocalRandom random) {
        int kind = random.nextInt(4);
        List<Long> live = new ArrayList<>(liveHandles.keySet());
        Long stale = staleHandles.peek();
        if (kind == 0 && !live.isEmpty()) {
            // Another worker's instance: anything but taking its reports or destroying it.
            call(live.get(random.nextInt(live.size())), random.nextInt(9), random);
        } else if (kind == 1 && stale != null) {
            int operation = random.nextInt(11);
            if (operation < 9) {
                call(stale, operation, random);
                return;
            }
            creation.writeLock().lock();
            try {
                if (!liveHandles.containsKey(stale)) {
                    call(stale, operation, random);
                }
            } finally {
                creation.writeLock().unlock();
            }
        } else {
            call(kind == 2 ? (random.nextBoolean() ? 0 : -1) : random.nextLong(), random.nextInt(11), random);
        }
    }

    private void call(long h, int operation, ThreadLocalRandom random) {
        switch (operation) {
            case 0 -> usb.getNativeUsbVid(h);
            case 1 -> usb.readMaxX(h);
            case 2 -> usb.getNativeUsbProductName(h);
            case 3 -> usb.writeCommand(h, randomChars(random));
            case 4 -> usb.writeFirmwareCommand(h, randomChars(random));
            case 5 -> usb.writeToControlTransfer(h, randomChars(random));
            case 6 -> usb.dfuGetStatus(h);
            case 7 -> usb.dfuDownload(h, 1, randomChars(random), random.nextInt(-1, 80));
            case 8 -> usb.dfuGetState(h);
            case 9 -> usb.readNativeUsbState(h);
            default -> usb.destroyNativeUsbInstance(h);
        }
    }

    private void discover(ThreadLocalRandom random) {
        String listed = usb.discoverUSBInputDevices();
        assertTrue(listed != null, "discovery gives a string");
        long device = slots.get(random.nextInt(slots.length()));
        if (device != 0) {
            String path = UsbEmulator.path(device);
            usb.getNativeUsbVidDirect(path);
            usb.getNativeUsbPidDirect(path);
        }
        usb.getNativeUsbVidDirect(random.nextBoolean() ? null : "no/such-device");
    }

    private static char[] randomChars(ThreadLocalRandom random) {
        int kind = random.nextInt(8);
        if (kind == 0) {
            return null;
        }
        char[] chars = new char[kind == 1 ? 0 : random.nextInt(1, 130)];
        for (int i = 0; i < chars.length; i++) {
            chars[i] = (char) random.nextInt(0x10000);
        }
        return chars;
    }

    // ---- the other threads ----

    private void plugAndUnplug() throws Exception {
        ThreadLocalRandom random = ThreadLocalRandom.current();
        for (int i = 0; i < slots.length(); i++) {
            plug(i);
        }
        while (running()) {
            int slot = random.nextInt(slots.length());
            long device = slots.get(slot);
            if (device == 0) {
                plug(slot);
                continue;
            }
            // Give the workers a chance at it first: mostly until a connection has ended,
            // now and then in the middle of one.
            if (UsbEmulator.waitForClients(device, 1, 2000) && random.nextInt(3) != 0) {
                UsbEmulator.waitForClients(device, 0, 5000);
            }
            slots.set(slot, 0);
            UsbEmulator.unplug(device);
        }
    }

    private void plug(int slot) {
        // Each slot has addresses of its own; its last device is gone before it is used again.
        int address = 10 + slot * 30 + plugs.getAndIncrement() % 30;
        long device = slot < TABLET_SLOTS
                ? UsbEmulator.plugTablet(slot == 1 ? 0x0483 : 0x078c, slot == 1 ? 0x5710 : 0x0600 + slot, 4, address)
                : UsbEmulator.plugModel("dfu-vornique", 4, address);
        pluggedEver.add(device);
        slots.set(slot, device);
    }

    private void subscribeAndUnsubscribe() throws Exception {
        for (int n = 0; running(); n++) {
            int calls = Callbacks.hotPlugCalls().size();
            usb.subscribeUSBChangeEvents();
            NotifyRig.touch(NotifyRig.OLD_UDEV_DB, "stress-" + n);
            NotifyRig.remove(NotifyRig.OLD_UDEV_DB, "stress-" + n);
            Callbacks.awaitHotPlugCalls(calls + 1, 4000);
            usb.unsubscribeUSBChangeEvents();
        }
    }

    private void borrowSharedMemory() {
        ThreadLocalRandom random = ThreadLocalRandom.current();
        List<Long> held = new ArrayList<>();
        long released = 0;
        while (running()) {
            int choice = random.nextInt(4);
            if (choice == 0 || held.isEmpty()) {
                int key = SHM_KEY_BASE + random.nextInt(SHM_KEYS);
                long h = shm.connectSharedMemoryMacLinux(key, random.nextInt(1, 4097));
                if (h != -1) { // -1: the segment could not be had (another size under that key)
                    held.add(h);
                }
            } else if (choice == 1) {
                ByteBuffer b = shm.retrieveSharedMemoryDirectByteBuffer(held.get(random.nextInt(held.size())));
                if (b != null && b.capacity() > 0) {
                    b.put(random.nextInt(b.capacity()), (byte) random.nextInt());
                }
            } else if (choice == 2) {
                released = held.remove(random.nextInt(held.size()));
                assertTrue(shm.releaseSharedMemory(released));
            } else if (!held.contains(released)) {
                // a released handle, unless its address came back for one held now
                shm.releaseSharedMemory(random.nextBoolean() ? released : random.nextLong());
                shm.retrieveSharedMemoryDirectByteBuffer(released);
            }
        }
        for (long h : held) {
            assertTrue(shm.releaseSharedMemory(h));
        }
    }

    // ---- what the process holds ----

    /** Thread names, but for the JVM's compiler threads, which it starts and ends as it likes. */
    private static List<String> libraryRelevantThreads() throws IOException {
        return NotifyRig.threads().stream().filter(n -> !n.contains("CompilerThre")).sorted()
                .collect(Collectors.toList());
    }

    /**
     * The process's descriptors but for the emulator's own: a node and the sockets bound
     * under its root for every device ever plugged, kept after it is unplugged. Whether the
     * library still has a device open the emulator counts.
     */
    private static Map<Integer, String> descriptors() throws IOException {
        String root = UsbEmulator.rootDir();
        Set<String> emulatorSockets = new HashSet<>();
        for (String line : Files.readAllLines(Paths.get("/proc/net/unix"))) {
            String[] f = line.trim().split("\\s+");
            if (f.length >= 8 && f[7].startsWith(root)) {
                emulatorSockets.add("socket:[" + f[6] + "]");
            }
        }
        Map<Integer, String> fds = NotifyRig.descriptors();
        fds.values().removeIf(target -> target.startsWith(root + "/dev/bus/usb/") || emulatorSockets.contains(target));
        return fds;
    }

    private static long sharedMemoryAttachments() throws IOException {
        return Files.readAllLines(Paths.get("/proc/self/maps")).stream().filter(l -> l.contains("/SYSV")).count();
    }

    /** The segments are not the library's to remove; the test removes its own. */
    private static void removeSegments() throws Exception {
        Path shmTable = Paths.get("/proc/sysvipc/shm");
        List<String> ids;
        try (Stream<String> lines = Files.lines(shmTable)) {
            ids = lines.skip(1).map(l -> l.trim().split("\\s+")).filter(f -> {
                long key = Long.parseLong(f[0]);
                return key >= SHM_KEY_BASE && key < SHM_KEY_BASE + SHM_KEYS;
            }).map(f -> f[1]).collect(Collectors.toList());
        }
        for (String id : ids) {
            new ProcessBuilder("ipcrm", "-m", id).start().waitFor();
        }
    }

    private static String stackOf(Thread t) {
        return Stream.of(t.getStackTrace()).map(Object::toString).collect(Collectors.joining("\n  ", "\n  ", ""));
    }
}
