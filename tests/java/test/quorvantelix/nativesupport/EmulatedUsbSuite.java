package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.BeforeEach;
import quorvantelix.dm.connections.usb.NativeUSB;
import quorvantelix.test.SysLog;
import quorvantelix.emulator.UsbEmulator;

/**
 * What the suites on emulated devices share: the emulator and the log capture for the whole
 * class, no device and no earlier line at the start of each test, and every instance a test
 * created destroyed after it.
 */
abstract class EmulatedUsbSuite {
    static final long WAIT = 20_000;
    /** How many interrupt IN transfers an open device's read thread keeps pending. */
    static final int READ_TRANSFERS = 4;
    final NativeUSB usb = new NativeUSB();
    private final List<Long> handles = new ArrayList<>();

    /**
     * The read thread has queued every report fed so far once the device has them all
     * back and all of its transfers are pending again.
     */
    static boolean waitForQueued(long device) {
        return UsbEmulator.waitForInputTaken(device, READ_TRANSFERS, WAIT);
    }

    /** The next report the library hands out, polling until it arrives; null when none does in time. */
    byte[] nextReport(long h) throws InterruptedException {
        long deadline = System.nanoTime() + WAIT * 1_000_000L;
        for (byte[] r = usb.readNativeUsbState(h); ; r = usb.readNativeUsbState(h)) {
            if (r != null || System.nanoTime() > deadline) {
                return r;
            }
            Thread.sleep(1);
        }
    }

    /** A report of {@code length} bytes: report id 2, then {@code seq} (little endian), then a pattern. */
    static byte[] numbered(int length, int seq) {
        byte[] r = new byte[length];
        for (int i = 0; i < length; i++) {
            r[i] = (byte) (i * 31 + seq);
        }
        r[0] = 2;
        for (int i = 1; i < Math.min(length, 5); i++) {
            r[i] = (byte) (seq >> 8 * (i - 1));
        }
        return r;
    }

    /** The number in a report made by {@link #numbered}. */
    static int seqOf(byte[] r) {
        return java.nio.ByteBuffer.wrap(r, 1, 4).order(java.nio.ByteOrder.LITTLE_ENDIAN).getInt();
    }

    @BeforeAll
    static void startRig() {
        UsbEmulator.start();
        SysLog.drain(); // the capture in place before the library logs
    }

    @AfterAll
    static void stopRig() {
        UsbEmulator.unplugAll();
    }

    @BeforeEach
    void noDevices() {
        UsbEmulator.unplugAll();
        SysLog.drain();
    }

    @AfterEach
    void destroyInstances() {
        for (long h : handles) {
            usb.destroyNativeUsbInstance(h);
        }
        handles.clear();
    }

    long create() {
        long h = usb.createNativeUsbInstance();
        handles.add(h);
        return h;
    }

    long connectTo(String devicePath) {
        long h = create();
        assertTrue(usb.connectNativeUsb(h, devicePath), devicePath);
        return h;
    }

    void destroy(long h) {
        usb.destroyNativeUsbInstance(h);
        handles.remove(h);
    }
}
