package quorvantelix.bench;

import java.util.ArrayList;
import java.util.List;
import quorvantelix.dm.connections.usb.NativeUSB;

/**
 * Emulated tablets plugged on one bus and opened through the library, all at once: each
 * open ends with a one-second pause of its own.
 */
final class Tablets {
    final long[] devices;
    final long[] handles;
    private final NativeUSB usb;

    private Tablets(NativeUSB usb, long[] devices) {
        this.usb = usb;
        this.devices = devices;
        this.handles = new long[devices.length];
    }

    /** Plugs {@code count} tablets at addresses 2, 3, ... of {@code bus} and opens them. */
    static Tablets open(NativeUSB usb, int bus, int count) throws InterruptedException {
        long[] devices = new long[count];
        for (int i = 0; i < count; i++) {
            devices[i] = BenchRig.plugTablet(bus, 2 + i);
        }
        Tablets tablets = new Tablets(usb, devices);
        List<Thread> openers = new ArrayList<>();
        for (int i = 0; i < count; i++) {
            final int index = i;
            Thread t = new Thread(() -> {
                long h = usb.createNativeUsbInstance();
                if (usb.connectNativeUsb(h, BenchRig.path(devices[index]))) {
                    tablets.handles[index] = h;
                } else {
                    usb.destroyNativeUsbInstance(h);
                }
            }, "bench-open-" + i);
            openers.add(t);
            t.start();
        }
        for (Thread t : openers) {
            t.join();
        }
        return tablets;
    }

    /** The index of the first tablet that did not open or has no IN transfer pending, or -1. */
    int firstNotReady() {
        for (int i = 0; i < devices.length; i++) {
            if (handles[i] == 0 || !BenchRig.waitForPendingIn(devices[i], 20_000)) {
                return i;
            }
        }
        return -1;
    }

    void close() {
        for (long h : handles) {
            if (h != 0) {
                usb.destroyNativeUsbInstance(h);
            }
        }
    }
}
