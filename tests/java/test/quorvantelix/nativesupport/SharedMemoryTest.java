package quorvantelix.nativesupport;

import static java.nio.charset.StandardCharsets.US_ASCII;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNotSame;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static quorvantelix.test.SysLog.debug;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.io.OutputStreamWriter;
import java.io.Writer;
import java.lang.ProcessBuilder.Redirect;
import java.nio.ByteBuffer;
import java.util.ArrayList;
import java.util.HexFormat;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Set;
import java.util.concurrent.Callable;
import java.util.concurrent.CyclicBarrier;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicIntegerArray;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import quorvantelix.dm.deviceapi.SharedMemoryNativeInterface;
import quorvantelix.test.SysLog;

/** Segments shared by key between Java, through the library's direct byte buffers, and a second process. */
class SharedMemoryTest {
    private static final boolean BITS_32 = "32".equals(System.getProperty("sun.arch.data.model"));
    // Keys of this JVM's own, so that parallel runs do not meet.
    private static final int KEY_BASE = 0x3a00_0000 + (int) (ProcessHandle.current().pid() & 0xffff) * 64;
    private static final Pattern ADDRESS = Pattern.compile("Shared Memory Address \\((-?\\d+)\\)$");

    private static Peer peer;
    private final SharedMemoryNativeInterface shm = new SharedMemoryNativeInterface();
    private final Set<Integer> keys = new LinkedHashSet<>();

    @BeforeAll
    static void startPeerAndLog() throws IOException {
        assertTrue(SysLog.start(), "cannot bind /dev/log");
        peer = Peer.start();
    }

    @AfterAll
    static void stopPeerAndLog() throws Exception {
        peer.quit();
        SysLog.stop();
    }

    @BeforeEach
    void forgetEarlierLines() {
        SysLog.drain();
    }

    @AfterEach
    void removeTheSegments() {
        peer.ok("close");
        for (int key : keys) {
            peer.ok("remove " + key);
        }
    }

    @Test
    void javaAndAnotherProcessSeeEachOthersWritesAtOnceThroughTheBuffer() {
        int key = key(1);
        long handle = shm.connectSharedMemoryMacLinux(key, 256);
        assertNotEquals(-1L, handle);
        peer.ok("open " + key);
        String[] stat = peer.ok("stat").split(" ");
        assertEquals(List.of("256", "2"), List.of(stat[1], stat[2]), "created with the size asked for, attached twice");
        List<String> lines = SysLog.drain();
        String address = addressIn(lines, 2);
        assertEquals(List.of(
                line("Constructor Pushing Shared Memory Instance (" + n(handle) + ")"),
                line("shmget was successful for key (" + key + ").  Shared Memory ID Created (" + stat[0] + ")"),
                line("shmat was successful Shared Memory Address (" + address + ")"),
                line("Successfully attached and created a new Shared Memory Instance (" + n(handle) + ")")), lines);

        ByteBuffer buffer = shm.retrieveSharedMemoryDirectByteBuffer(handle);
        assertTrue(buffer.isDirect());
        assertEquals(256, buffer.capacity());
        assertEquals(List.of(
                line("retrieveSharedMemoryDirectByteBuffer() called for Shared Memory Instance (" + n(handle) + ")"),
                line("Shared Memory Instance (" + n(handle) + ") found.")), SysLog.drain());

        buffer.put(10, ascii("from java"));
        buffer.put(255, (byte) 0x7f);
        assertEquals(hex("from java"), peer.ok("read 10 9"));
        assertEquals("7f", peer.ok("read 255 1"), "the last byte of the buffer is the segment's");
        peer.ok("write 200 " + hex("from the peer"));
        assertEquals("from the peer", text(buffer, 200, 13), "the same buffer sees the peer's write");

        buffer = null;
        assertTrue(shm.releaseSharedMemory(handle));
        assertEquals(List.of(
                line("releaseSharedMemory() called for Shared Memory Instance (" + n(handle) + ")"),
                line("Shared Memory Instance (" + n(handle) + ") found."),
                line("shmdt returned (0)"),
                line("Successfully detached Shared Memory Address (" + address + ")"),
                line("Deleting Shared Memory Instance (" + n(handle) + ")")), SysLog.drain());
        assertEquals(stat[0] + " 256 1", peer.ok("stat"), "released is detached, and the segment stays");
    }

    @Test
    void twoHandlesOnOneKeyAreTwoAttachmentsOfTheSameMemory() {
        int key = key(2);
        long first = connect(key, 64);
        long second = connect(key, 64);
        assertNotEquals(first, second);
        List<String> lines = SysLog.drain();
        assertNotEquals(addressIn(lines, 2), addressIn(lines, 6), "mapped at two addresses");

        ByteBuffer a = retrieve(first);
        ByteBuffer again = retrieve(first);
        ByteBuffer b = retrieve(second);
        assertNotSame(a, again);
        a.put(0, (byte) 0x11);
        b.put(63, (byte) 0x22);
        assertEquals(0x11, b.get(0));
        assertEquals(0x11, again.get(0));
        assertEquals(0x22, a.get(63));
        peer.ok("open " + key);
        assertTrue(peer.ok("stat").endsWith(" 64 3"));

        a = null;
        again = null;
        assertTrue(shm.releaseSharedMemory(first));
        b.put(1, (byte) 0x33);
        assertEquals("1133", peer.ok("read 0 2"), "the other handle lives on");
        assertTrue(peer.ok("stat").endsWith(" 64 2"));
        b = null;
        assertTrue(shm.releaseSharedMemory(second));
        assertTrue(peer.ok("stat").endsWith(" 64 1"));
    }

    @Test
    void anExistingSegmentServesSmallerSizesAndRefusesLargerOnes() {
        int key = key(3);
        peer.ok("create " + key + " 128");
        peer.ok("write 0 " + hex("made by the peer"));

        assertEquals(-1L, shm.connectSharedMemoryMacLinux(key, 129));
        List<String> lines = SysLog.drain();
        assertEquals(1, lines.size(), lines.toString());
        Matcher constructed = Pattern.compile("^7 SHAREDMEMORY: Constructor Pushing Shared Memory Instance \\((-?\\d+)\\)$")
                .matcher(lines.get(0));
        assertTrue(constructed.matches(), lines.get(0));
        long refused = Long.parseLong(constructed.group(1));
        assertFalse(shm.releaseSharedMemory(refused), "a refused instance is not left registered");
        assertEquals(-1L, shm.connectSharedMemoryMacLinux(key, -1));

        long smaller = connect(key, 16);
        ByteBuffer buffer = retrieve(smaller);
        assertEquals(16, buffer.capacity(), "the size asked for, not the segment's");
        assertEquals("made by the peer", text(buffer, 0, 16));
        assertTrue(peer.ok("stat").endsWith(" 128 2"), "the segment itself is unchanged");
        buffer = null;
        assertTrue(shm.releaseSharedMemory(smaller));
    }

    @Test
    void releasedAndUnknownHandlesGetNullAndFalseWithOnlyTheirCalledForLines() {
        long released = connect(key(4), 32);
        assertTrue(shm.releaseSharedMemory(released));
        SysLog.drain();
        for (long handle : new long[] {released, -1L, 0L, 0x1234_5678_9abc_def0L, Long.MIN_VALUE}) {
            assertFalse(shm.releaseSharedMemory(handle));
            assertNull(shm.retrieveSharedMemoryDirectByteBuffer(handle));
            assertEquals(List.of(
                    line("releaseSharedMemory() called for Shared Memory Instance (" + n(handle) + ")"),
                    line("retrieveSharedMemoryDirectByteBuffer() called for Shared Memory Instance (" + n(handle) + ")")),
                    SysLog.drain(), "handle " + handle);
        }
    }

    @Test
    void dataSurvivesReleaseAndAttachingAgain() {
        int key = key(5);
        long handle = connect(key, 100);
        retrieve(handle).put(50, ascii("kept"));
        assertTrue(shm.releaseSharedMemory(handle));
        long again = connect(key, 60);
        assertEquals("kept", text(retrieve(again), 50, 4));
        assertTrue(shm.releaseSharedMemory(again));
    }

    @Test
    void manyThreadsAtOnceLeaveEveryHandleReleasedExactlyOnce() throws Exception {
        final int threads = 8;
        final int rounds = 40;
        final int shared = key(10);
        final int[] own = new int[threads];
        for (int t = 0; t < threads; t++) {
            own[t] = key(11 + t);
        }
        CyclicBarrier start = new CyclicBarrier(threads);
        List<Callable<Void>> work = new ArrayList<>();
        for (int t = 0; t < threads; t++) {
            final int me = t;
            work.add(() -> {
                start.await();
                for (int r = 0; r < rounds; r++) {
                    long mine = connect(own[me], 64);
                    long common = connect(shared, 64);
                    ByteBuffer mineBuffer = retrieve(mine);
                    mineBuffer.putInt(0, me * 1000 + r);
                    retrieve(common).put(me, (byte) r);
                    assertEquals(me * 1000 + r, mineBuffer.getInt(0));
                    mineBuffer = null;
                    assertTrue(shm.releaseSharedMemory(mine));
                    assertFalse(shm.releaseSharedMemory(mine));
                    assertTrue(shm.releaseSharedMemory(common));
                }
                return null;
            });
        }
        runAll(work);

        // Every thread races for the release of every one of these handles.
        final long[] contested = new long[threads * 16];
        for (int i = 0; i < contested.length; i++) {
            contested[i] = connect(shared, 64);
        }
        AtomicIntegerArray wins = new AtomicIntegerArray(contested.length);
        CyclicBarrier race = new CyclicBarrier(threads);
        work.clear();
        for (int t = 0; t < threads; t++) {
            work.add(() -> {
                race.await();
                for (int i = 0; i < contested.length; i++) {
                    for (int r = 0; r < 3; r++) {
                        ByteBuffer lent = shm.retrieveSharedMemoryDirectByteBuffer(contested[i]);
                        assertTrue(lent == null || lent.capacity() == 64, "a buffer of a live instance only");
                    }
                    if (shm.releaseSharedMemory(contested[i])) {
                        wins.incrementAndGet(i);
                    }
                }
                return null;
            });
        }
        runAll(work);
        for (int i = 0; i < contested.length; i++) {
            assertEquals(1, wins.get(i), "released exactly once: handle " + i);
        }
        for (int key : keys) {
            peer.ok("open " + key);
            assertTrue(peer.ok("stat").endsWith(" 64 1"), "Java holds no attachment any more of key " + key);
        }
        long after = connect(shared, 64);
        assertEquals(64, retrieve(after).capacity());
        assertTrue(shm.releaseSharedMemory(after));
    }

    private static void runAll(List<Callable<Void>> work) throws Exception {
        ExecutorService pool = Executors.newFixedThreadPool(work.size());
        try {
            for (Future<Void> f : pool.invokeAll(work)) {
                f.get();
            }
        } finally {
            pool.shutdown();
            assertTrue(pool.awaitTermination(1, TimeUnit.MINUTES));
        }
    }

    private int key(int n) {
        int key = KEY_BASE + n;
        peer.ok("own " + key); // removed now (a leftover of an earlier process with this PID) and when the peer ends
        keys.add(key);
        return key;
    }

    private long connect(int key, int size) {
        long handle = shm.connectSharedMemoryMacLinux(key, size);
        assertNotEquals(-1L, handle, "connect " + key);
        return handle;
    }

    private ByteBuffer retrieve(long handle) {
        ByteBuffer buffer = shm.retrieveSharedMemoryDirectByteBuffer(handle);
        assertNotNull(buffer);
        return buffer;
    }

    /** A handle or address as the library prints it: a signed long of this ABI. */
    private static String n(long handle) {
        return BITS_32 ? Integer.toString((int) handle) : Long.toString(handle);
    }

    private static String line(String text) {
        return debug("SHAREDMEMORY: " + text);
    }

    private static String addressIn(List<String> lines, int index) {
        Matcher m = ADDRESS.matcher(lines.get(index));
        assertTrue(m.find(), lines.get(index));
        return m.group(1);
    }

    private static byte[] ascii(String s) {
        return s.getBytes(US_ASCII);
    }

    private static String hex(String s) {
        return HexFormat.of().formatHex(ascii(s));
    }

    private static String text(ByteBuffer buffer, int offset, int length) {
        byte[] bytes = new byte[length];
        buffer.get(offset, bytes);
        return new String(bytes, US_ASCII);
    }

    /** The second process (tests/shm/shm_peer), driven one command line at a time. */
    private static final class Peer {
        private final Process process;
        private final Writer commands;
        private final BufferedReader replies;

        private Peer(Process process) {
            this.process = process;
            commands = new OutputStreamWriter(process.getOutputStream(), US_ASCII);
            replies = new BufferedReader(new InputStreamReader(process.getInputStream(), US_ASCII));
        }

        static Peer start() throws IOException {
            List<String> command = new ArrayList<>();
            String emulator = System.getProperty("ns.emulator", "");
            if (!emulator.isEmpty()) {
                command.add(emulator); // the peer is built for this JVM's ABI
            }
            command.add(System.getProperty("ns.peer"));
            return new Peer(new ProcessBuilder(command).redirectError(Redirect.INHERIT).start());
        }

        /** Sends one command and returns what follows "ok" in the reply. */
        synchronized String ok(String command) {
            String reply;
            try {
                commands.write(command + "\n");
                commands.flush();
                reply = replies.readLine();
            } catch (IOException e) {
                throw new AssertionError("peer: " + command, e);
            }
            assertNotNull(reply, "peer ended at: " + command);
            assertTrue(reply.equals("ok") || reply.startsWith("ok "), command + ": " + reply);
            return reply.length() > 2 ? reply.substring(3) : "";
        }

        void quit() throws Exception {
            commands.close();
            assertTrue(process.waitFor(1, TimeUnit.MINUTES));
            assertEquals(0, process.exitValue());
        }
    }
}
