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

    /**
     * Opens them as {@link #open} does, and waits until each has an IN transfer pending;
     * null (with a note that names {@code what}, the tablets closed) if one did not get there.
     */
    static Tablets openReady(NativeUSB usb, int bus, int count, String what) throws InterruptedException {
        Tablets tablets = open(usb, bus, count);
        for (int i = 0; i < count; i++) {
            if (tablets.handles[i] == 0 || !BenchRig.waitForPendingIn(tablets.devices[i], 20_000)) {
                BenchRig.note(what + ": tablet " + i + " did not open");
                close(tablets);
                return null;
            }
        }
        return tablets;
    }

    /** Closes every tablet that opened; nothing if {@code tablets} is null. */
    static void close(Tablets tablets) {
        for (long h : tablets == null ? new long[0] : tablets.handles) {
            if (h != 0) {
                tablets.usb.destroyNativeUsbInstance(h);
            }
        }
    }
}
