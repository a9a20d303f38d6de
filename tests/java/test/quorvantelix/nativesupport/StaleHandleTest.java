package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.*;

import java.util.HashSet;
import java.util.List;
import java.util.Set;
import org.junit.jupiter.api.Test;
import quorvantelix.dm.connections.usb.NativeUSB;
import quorvantelix.dm.deviceapi.SharedMemoryNativeInterface;
import quorvantelix.test.ShmPeer;
import quorvantelix.test.SysLog;

/**
 * A handle that Java still holds after its instance went names none of the next 1,000
 * instances of its kind: the allocator would give a new instance the freed address at once.
 * Run in the release trees (AddressSanitizer's own quarantine would hide the reuse).
 */
class StaleHandleTest {
    private static final int ROUNDS = 1000;

    @Test
    void aDestroyedUsbInstancesHandleNamesNoneOfTheNextThousandAndIsRefused() {
        NativeUSB usb = new NativeUSB();
        SysLog.drain();
        long stale = usb.createNativeUsbInstance();
        usb.destroyNativeUsbInstance(stale);
        Set<Long> released = new HashSet<>(List.of(stale));
        for (int round = 0; round < ROUNDS; round++) {
            long h = usb.createNativeUsbInstance();
            assertFalse(released.contains(h), "round " + round + ": a new instance at a destroyed one's address");
            usb.destroyNativeUsbInstance(h);
            released.add(h);
        }
        assertNull(usb.readNativeUsbState(stale));
        assertFalse(usb.writeCommand(stale, new char[64]));
        usb.destroyNativeUsbInstance(stale);
        String refused = SysLog.debug("NATIVESUPPORT: USBDevice* doesn't exist for nativeInstanceHandle " + (int) stale);
        assertEquals(List.of(refused, refused, refused), SysLog.drain());
    }

    @Test
    void aReleasedSegmentsHandleNamesNoneOfTheNextThousandAndIsRefused() throws Exception {
        SharedMemoryNativeInterface shm = new SharedMemoryNativeInterface();
        int key = 0x3b00_0000 | (int) (ProcessHandle.current().pid() & 0xff_ffff);
        try {
            Set<Long> released = new HashSet<>();
            for (int round = 0; round <= ROUNDS; round++) {
                long h = shm.connectSharedMemoryMacLinux(key, 4096);
                assertNotEquals(-1L, h);
                assertFalse(released.contains(h), "round " + round + ": a new instance at a released one's address");
                assertTrue(shm.releaseSharedMemory(h));
                released.add(h);
            }
            long stale = released.iterator().next();
            assertNull(shm.retrieveSharedMemoryDirectByteBuffer(stale));
            assertFalse(shm.releaseSharedMemory(stale));
        } finally {
            assertTrue(ShmPeer.removeSegments(key, 1));
        }
    }
}
