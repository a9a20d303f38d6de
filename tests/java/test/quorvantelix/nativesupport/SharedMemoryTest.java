package quorvantelix.nativesupport;

import static java.nio.charset.StandardCharsets.US_ASCII;
import static org.junit.jupiter.api.Assertions.*;

import java.nio.ByteBuffer;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.*;
import java.util.concurrent.*;
import java.util.concurrent.atomic.AtomicIntegerArray;
import java.util.function.IntConsumer;
import java.util.regex.*;
import java.util.stream.IntStream;
import org.junit.jupiter.api.*;
import org.junit.jupiter.api.condition.EnabledIfSystemProperty;
import quorvantelix.dm.deviceapi.SharedMemoryNativeInterface;
import quorvantelix.test.ShmPeer;
import quorvantelix.test.SysLog;

/**
 * Segments shared by key between Java, through the library's direct byte buffers, and a second
 * JVM: one of this ABI, and one of the other ABI with the other build's library.
 */
class SharedMemoryTest {
    // 64 keys of this process's own (process ids stay below 2^22), so that parallel runs do not meet.
    private static final int KEY_BASE = 0x4000_0000 + (int) ProcessHandle.current().pid() * 64;
    private static Process peer;
    private final SharedMemoryNativeInterface shm = new SharedMemoryNativeInterface();

    @BeforeAll
    static void startPeer() throws Exception {
        SysLog.drain(); // the capture in place before the library logs
        assertTrue(ShmPeer.removeSegments(KEY_BASE, 64)); // an earlier process's with this process id
        peer = ShmPeer.start(KEY_BASE);
    }

    @AfterAll
    static void stopPeer() throws Exception {
        end(peer);
    }

    /** Ends a peer (it removes the suite's segments as it ends) and checks how. */
    private static void end(Process peer) throws Exception {
        peer.outputWriter(US_ASCII).close();
        int status = peer.waitFor();
        assertTrue(ShmPeer.removeSegments(KEY_BASE, 64)); // in case it could not
        assertEquals(0, status, "the peer's exit status");
    }

    @Test
    void javaAndAnotherProcessShareASegmentThatOutlivesTheirAttachments() throws Exception {
        int key = KEY_BASE + 1;
        long first = connect(key, 256);
        ByteBuffer a = retrieve(first);
        assertEquals(256, a.capacity());
        assertEquals("666 256 1", segment(key), "mode, size, attachments");
        long second = connect(key, 256);
        ByteBuffer again = retrieve(first);
        ByteBuffer b = retrieve(second);
        assertNotSame(a, again);
        ShmPeer.send(peer, "attach " + key + " 256");
        // Two attachments of Java's: two mappings, at two addresses, of the same memory.
        assertEquals("666 256 3", segment(key));
        a.put(247, "from java".getBytes(US_ASCII));
        assertEquals("from java", ShmPeer.send(peer, "get 247 9"), "written up to the buffer's last byte");
        ShmPeer.send(peer, "put 0 from the peer");
        assertEquals(List.of("from the peer", "from java"), List.of(text(again, 0, 13), text(b, 247, 9)));

        assertTrue(shm.releaseSharedMemory(first));
        assertEquals("666 256 2", segment(key), "detached");
        assertEquals("from the peer", text(retrieve(second), 0, 13), "the other handle lives on");
        assertTrue(shm.releaseSharedMemory(second));
        assertEquals("true", ShmPeer.send(peer, "release"));
        assertEquals("666 256 0", segment(key), "the segment stays");
        long smaller = connect(key, 16);
        assertEquals(16, retrieve(smaller).capacity(), "the size asked for, not the segment's");
        assertEquals("from the peer", text(retrieve(smaller), 0, 13), "the data stays");
        assertTrue(shm.releaseSharedMemory(smaller));
    }

    /** A 32-bit and a 64-bit process lay the segment out alike: every byte is where the other looks. */
    @Test
    @EnabledIfSystemProperty(named = "ns.otherAbiJava", matches = ".+")
    void aJvmOfTheOtherAbiSeesTheSameBytes() throws Exception {
        String library = System.getProperty("ns.otherAbiLibraryPath");
        assertTrue(Files.exists(Path.of(library, "libNativeSupport.so")), "no library of the other ABI in " + library
                + ": build that tree too (the test command builds both)");
        int key = KEY_BASE + 3;
        long h = connect(key, 4096);
        ByteBuffer mine = retrieve(h);
        mine.put(0, "first bytes".getBytes(US_ASCII)).put(4096 - 10, "last bytes".getBytes(US_ASCII));
        Process other = ShmPeer.start(System.getProperty("ns.otherAbiJava"), System.getProperty("ns.otherAbiEmulator"),
                library, KEY_BASE);
        ShmPeer.send(other, "attach " + key + " 4096"); // a peer left by a failure ends with this JVM
        assertEquals("first bytes", ShmPeer.send(other, "get 0 11"));
        assertEquals("last bytes", ShmPeer.send(other, "get 4086 10"));
        ShmPeer.send(other, "put 2048 from the other ABI");
        assertEquals("from the other ABI", text(mine, 2048, 18));
        assertEquals("true", ShmPeer.send(other, "release"));
        end(other);
        assertTrue(shm.releaseSharedMemory(h));
    }

    /** Without the sanitizers' own quarantine, the allocator would give a new instance a released one's address at once. */
    @Test
    void refusedReleasedAndUnknownHandlesGetNullAndFalse() throws Exception {
        int key = KEY_BASE + 2;
        long released = connect(key, 32);
        assertTrue(shm.releaseSharedMemory(released));
        Set<Long> gone = new HashSet<>(List.of(released));
        for (int round = 0; round < 1000; round++) {
            long h = connect(key, 32);
            assertFalse(gone.contains(h), "round " + round + ": a new instance at a released one's address");
            assertTrue(shm.releaseSharedMemory(h));
            gone.add(h);
        }
        SysLog.drain();
        assertEquals(-1L, shm.connectSharedMemoryMacLinux(key, 33), "larger than the segment");
        assertEquals(-1L, shm.connectSharedMemoryMacLinux(key, -1));
        // The handles of the refused instances, from the line that tells of their construction.
        Matcher refused = Pattern.compile("Constructor Pushing Shared Memory Instance \\((-?\\d+)\\)")
                .matcher(String.join("\n", SysLog.drain()));
        List<Long> handles = new ArrayList<>(List.of(released, -1L, 0L, Long.MIN_VALUE, new Random().nextLong()));
        while (refused.find()) {
            handles.add(Long.parseLong(refused.group(1)));
        }
        assertEquals(7, handles.size(), "two refused instances");
        for (long handle : handles) {
            assertNull(shm.retrieveSharedMemoryDirectByteBuffer(handle), "handle " + handle);
            assertFalse(shm.releaseSharedMemory(handle), "handle " + handle);
        }
        assertEquals("666 32 0", segment(key));
    }

    @Test
    void threadsRacingToReleaseEachHandleReleaseItExactlyOnce() throws Exception {
        // Every thread races for the release of every one of these handles (the stress test
        // connects and releases from many threads at once).
        int shared = KEY_BASE + 10;
        long[] contested = new long[128];
        Arrays.setAll(contested, i -> connect(shared, 64));
        AtomicIntegerArray wins = new AtomicIntegerArray(contested.length);
        inThreads(me -> {
            for (int i = 0; i < contested.length; i++) {
                ByteBuffer lent = shm.retrieveSharedMemoryDirectByteBuffer(contested[i]);
                assertTrue(lent == null || lent.capacity() == 64, "a buffer of a live instance or none");
                if (shm.releaseSharedMemory(contested[i])) {
                    wins.incrementAndGet(i);
                    assertNull(shm.retrieveSharedMemoryDirectByteBuffer(contested[i]));
                }
            }
        });
        assertEquals(Collections.nCopies(contested.length, 1).toString(), wins.toString(), "released exactly once");
        assertEquals("666 64 0", segment(shared), "no attachment of Java's left");
    }

    /** Runs the work in 8 threads at once, each given its number. */
    private static void inThreads(IntConsumer work) throws Exception {
        CyclicBarrier start = new CyclicBarrier(8);
        ExecutorService pool = Executors.newFixedThreadPool(8);
        List<Future<Object>> done = pool.invokeAll(IntStream.range(0, 8).mapToObj(me -> (Callable<Object>) () -> {
            start.await();
            work.accept(me);
            return null;
        }).toList());
        pool.shutdown();
        for (Future<Object> thread : done) {
            thread.get();
        }
    }

    private long connect(int key, int size) {
        long handle = shm.connectSharedMemoryMacLinux(key, size);
        assertNotEquals(-1L, handle, "connect " + key);
        return handle;
    }

    private ByteBuffer retrieve(long handle) {
        return Objects.requireNonNull(shm.retrieveSharedMemoryDirectByteBuffer(handle), "retrieve " + handle);
    }

    private static String text(ByteBuffer buffer, int offset, int length) {
        return US_ASCII.decode(buffer.slice(offset, length)).toString();
    }

    /** The segment of the key as the kernel has it: "mode size attachments"; null when there is none. */
    private static String segment(int key) throws Exception {
        return ShmPeer.segments(KEY_BASE, 64).get(key);
    }
}
