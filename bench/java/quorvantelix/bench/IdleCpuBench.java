package quorvantelix.bench;

import java.util.ArrayList;
import java.util.List;
import java.util.Set;
import quorvantelix.dm.connections.usb.NativeUSB;

/**
 * Processor time and wake-ups (context switches) of the library's own threads over a
 * fixed window: first with N open devices that send nothing, then with an idle USB
 * change subscription. The window is the measurement itself; nothing waits on it.
 */
final class IdleCpuBench {
    private final NativeUSB usb;
    private final Plan plan;

    IdleCpuBench(NativeUSB usb, Plan plan) {
        this.usb = usb;
        this.plan = plan;
    }

    boolean idleDevices() throws InterruptedException {
        long[] devices = new long[plan.idleDevices];
        for (int i = 0; i < devices.length; i++) {
            devices[i] = BenchRig.plugTablet(2, 2 + i);
        }
        ThreadUsage beforeOpen = ThreadUsage.now();
        long[] handles = connectAll(devices);
        try {
            for (int i = 0; i < devices.length; i++) {
                if (handles[i] == 0 || !BenchRig.waitForPendingIn(devices[i], 20_000)) {
                    BenchRig.note("idle devices: device " + i + " did not open");
                    return false;
                }
            }
            ThreadUsage start = ThreadUsage.now();
            Set<Long> library = start.newSince(beforeOpen);
            long[] used = window(start, library);
            BenchRig.figure("idle_devices.count", devices.length, "devices", 0);
            BenchRig.figure("idle_devices.library_threads", library.size(), "threads", 0);
            BenchRig.figure("idle_devices.cpu_ms", used[0] / 1e6, "ms", 3);
            BenchRig.figure("idle_devices.wakeups", used[1], "switches", 0);
            return true;
        } finally {
            for (long h : handles) {
                if (h != 0) {
                    usb.destroyNativeUsbInstance(h);
                }
            }
        }
    }

    boolean idleSubscription() throws InterruptedException {
        ThreadUsage before = ThreadUsage.now();
        usb.subscribeUSBChangeEvents();
        try {
            ThreadUsage start = ThreadUsage.now();
            Set<Long> library = start.newSince(before);
            long[] used = window(start, library);
            BenchRig.figure("idle_subscription.library_threads", library.size(), "threads", 0);
            BenchRig.figure("idle_subscription.cpu_ms", used[0] / 1e6, "ms", 3);
            BenchRig.figure("idle_subscription.wakeups", used[1], "switches", 0);
            return true;
        } finally {
            usb.unsubscribeUSBChangeEvents();
        }
    }

    private long[] window(ThreadUsage start, Set<Long> threads) throws InterruptedException {
        BenchRig.figure("idle.window_s", plan.idleSeconds, "s", 0);
        Thread.sleep(plan.idleSeconds * 1000);
        return ThreadUsage.now().since(start, threads);
    }

    // Opens every device at once: each open ends with a one-second pause of its own.
    private long[] connectAll(long[] devices) throws InterruptedException {
        long[] handles = new long[devices.length];
        List<Thread> openers = new ArrayList<>();
        for (int i = 0; i < devices.length; i++) {
            final int index = i;
            Thread t = new Thread(() -> {
                long h = usb.createNativeUsbInstance();
                if (usb.connectNativeUsb(h, BenchRig.path(devices[index]))) {
                    handles[index] = h;
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
        return handles;
    }
}
