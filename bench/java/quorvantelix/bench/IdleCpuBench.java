package quorvantelix.bench;

import java.util.Set;
import quorvantelix.dm.connections.usb.NativeUSB;

/**
 * Processor time and wake-ups (context switches) of the library's own threads over a
 * fixed window: first with N open devices that send nothing, then with an idle USB
 * change subscription. The window is the measurement itself; nothing waits on it.
 */
final class IdleCpuBench {
    private static final long SETTLE_MILLIS = 1000;

    private final NativeUSB usb;
    private final int idleDevices;
    private final long windowSeconds;

    IdleCpuBench(NativeUSB usb, int idleDevices, long windowSeconds) {
        this.usb = usb;
        this.idleDevices = idleDevices;
        this.windowSeconds = windowSeconds;
    }

    boolean idleDevices() throws InterruptedException {
        ThreadUsage beforeOpen = ThreadUsage.now();
        Tablets tablets = Tablets.open(usb, 2, idleDevices);
        try {
            int failed = tablets.firstNotReady();
            if (failed >= 0) {
                BenchRig.note("idle devices: device " + failed + " did not open");
                return false;
            }
            ThreadUsage start = ThreadUsage.now();
            Set<Long> library = start.newSince(beforeOpen);
            long[] used = window(start, library);
            BenchRig.figure("idle_devices.count", tablets.devices.length, "devices", 0);
            BenchRig.figure("idle_devices.library_threads", library.size(), "threads", 0);
            BenchRig.figure("idle_devices.cpu_ms", used[0] / 1e6, "ms", 3);
            BenchRig.figure("idle_devices.wakeups", used[1], "switches", 0);
            return true;
        } finally {
            tablets.close();
        }
    }

    /**
     * The idle subscription's threads over the window, printed under {@code prefix}
     * ("idle_subscription" for the library now, "before.idle_subscription" for an earlier
     * build). The window opens once the subscription has settled: its first second (the
     * threads starting, the display connection being made) is printed apart, as
     * {@code prefix}.start_*. Nothing changes on the bus meanwhile, so no quiet interval
     * ends: every wake-up in the window is one too many.
     */
    boolean idleSubscription(String prefix) throws InterruptedException {
        ThreadUsage before = ThreadUsage.now();
        usb.subscribeUSBChangeEvents();
        try {
            Thread.sleep(SETTLE_MILLIS);
            ThreadUsage start = ThreadUsage.now();
            Set<Long> library = start.newSince(before);
            long[] starting = start.since(before, library);
            long[] used = window(start, library);
            BenchRig.figure(prefix + ".library_threads", library.size(), "threads", 0);
            BenchRig.figure(prefix + ".start_cpu_ms", starting[0] / 1e6, "ms", 3);
            BenchRig.figure(prefix + ".start_wakeups", starting[1], "switches", 0);
            BenchRig.figure(prefix + ".cpu_ms", used[0] / 1e6, "ms", 3);
            BenchRig.figure(prefix + ".wakeups", used[1], "switches", 0);
            return true;
        } finally {
            usb.unsubscribeUSBChangeEvents();
        }
    }

    private long[] window(ThreadUsage start, Set<Long> threads) throws InterruptedException {
        BenchRig.figure("idle.window_s", windowSeconds, "s", 0);
        Thread.sleep(windowSeconds * 1000);
        return ThreadUsage.now().since(start, threads);
    }
}
