package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;
import quorvantelix.dm.connections.usb.NativeUSB;
import quorvantelix.dm.deviceapi.SharedMemoryNativeInterface;

/**
 * The JVM exits while daemon threads are still inside the library: the instance and segment
 * registries must outlive the exit handlers that run meanwhile. A fault shows as a crash or
 * a sanitizer report when this JVM exits, which fails the suite.
 */
class ExitWhileInUseTest {
    private static final int SHM_KEY = 0x5e5f0001; // one segment, kept for the next run

    @Test
    void daemonThreadsKeepCallingWhileTheJvmExits() throws Exception {
        CountDownLatch running = new CountDownLatch(4 * 100);
        for (int i = 0; i < 4; i++) {
            boolean sharedMemory = i % 2 == 1;
            Thread t = new Thread(() -> {
                NativeUSB usb = new NativeUSB();
                SharedMemoryNativeInterface shm = new SharedMemoryNativeInterface();
                for (;;) {
                    if (sharedMemory) {
                        long h = shm.connectSharedMemoryMacLinux(SHM_KEY, 64);
                        shm.retrieveSharedMemoryDirectByteBuffer(h);
                        shm.releaseSharedMemory(h);
                    } else {
                        long h = usb.createNativeUsbInstance();
                        usb.getNativeUsbVid(h);
                        usb.readNativeUsbState(h);
                        usb.destroyNativeUsbInstance(h);
                    }
                    running.countDown();
                }
            }, "exit-caller-" + i);
            t.setDaemon(true);
            t.start();
        }
        assertTrue(running.await(60, TimeUnit.SECONDS), "the callers did not get going");
    }
}
