package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.*;

import java.nio.ByteBuffer;
import org.junit.jupiter.api.Test;
import quorvantelix.dm.connections.usb.NativeUSB;
import quorvantelix.dm.deviceapi.SharedMemoryNativeInterface;
import quorvantelix.emulator.UsbEmulator;
import quorvantelix.test.ShmPeer;

/** The library as the Debian package installs it, loaded from the package's jni folder alone. */
class InstalledPackageTest {
    @Test
    void thePackagedLibraryFindsATabletAndManagesAnInstance() {
        UsbEmulator.plugTablet(0x08ca, 0x0010, 1, 2);
        NativeUSB usb = new NativeUSB();
        long handle = usb.createNativeUsbInstance();
        assertNotEquals(0L, handle);
        assertEquals("001/002-08ca-0010-00-00", usb.discoverUSBInputDevices());
        usb.destroyNativeUsbInstance(handle);
        UsbEmulator.unplugAll();
    }

    @Test
    void aSharedMemorySegmentKeepsWhatWasWrittenAcrossAttachments() throws Exception {
        int key = 0x3c00_0000 | (int) (ProcessHandle.current().pid() & 0xff_ffff);
        byte[] written = {1, 2, 3, 42, -1}, read = new byte[written.length];
        SharedMemoryNativeInterface shm = new SharedMemoryNativeInterface();
        try {
            long first = shm.connectSharedMemoryMacLinux(key, 4096);
            assertNotEquals(-1L, first);
            shm.retrieveSharedMemoryDirectByteBuffer(first).put(written);
            assertTrue(shm.releaseSharedMemory(first));

            long second = shm.connectSharedMemoryMacLinux(key, 4096);
            assertNotEquals(-1L, second);
            ByteBuffer buffer = shm.retrieveSharedMemoryDirectByteBuffer(second);
            buffer.get(read);
            assertArrayEquals(written, read);
            assertEquals(4096, buffer.capacity());
            assertTrue(shm.releaseSharedMemory(second));
        } finally {
            assertTrue(ShmPeer.removeSegments(key, 1));
        }
    }
}
