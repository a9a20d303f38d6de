package quorvantelix.bench;

import java.util.HashSet;
import java.util.Set;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import quorvantelix.dm.DeviceDiscoveryService;
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
        Tablets tablets = Tablets.openReady(usb, 2, idleDevices, "idle devices");
        if (tablets == null) {
            return false;
        }
        try {
            ThreadUsage start = ThreadUsage.now();
            // The read thread may have been started by an earlier open, and serves these too.
            Set<Long> library = new HashSet<>(start.newSince(beforeOpen));
            library.addAll(start.named(ThreadUsage.READ_THREAD));
            long[] used = window(start).since(start, library);
            BenchRig.figure("idle_devices.count", tablets.devices.length, "devices", 0);
            BenchRig.figure("idle_devices.library_threads", library.size(), "threads", 0);
            BenchRig.figure("idle_devices.cpu_ms", used[0] / 1e6, "ms", 3);
            BenchRig.figure("idle_devices.wakeups", used[1], "switches", 0);
            return true;
        } finally {
            Tablets.close(tablets);
        }
    }

    /**
     * The idle subscription's threads over the window, printed under {@code prefix}
     * ("idle_subscription" for the library now, "before.idle_subscription" for an earlier
     * build). The window opens once the subscription has settled: its first second (the
     * threads starting, the display connection being made) is printed apart, as
     * {@code prefix}.start_*. Nothing changes on the bus meanwhile, so no quiet interval
     * ends: every wake-up in the window is one too many. The display thread's share is
     * printed apart ({@code prefix}.display_*), and after the window the screen's size is
     * changed once (xrandr on $DISPLAY): {@code prefix}.display_reports is 1 when the display
     * thread passed that change on, so when it was connected to the X server all along.
     */
    boolean idleSubscription(String prefix) throws Exception {
        CountDownLatch displayChanged = new CountDownLatch(1);
        DeviceDiscoveryService.setListener(new DeviceDiscoveryService.Listener() {
            @Override
            public void usbDevicesChanged() {
            }

            @Override
            public void displayChanged() {
                displayChanged.countDown();
            }
        });
        ThreadUsage before = ThreadUsage.now();
        usb.subscribeUSBChangeEvents();
        try {
            Thread.sleep(SETTLE_MILLIS);
            ThreadUsage start = ThreadUsage.now();
            Set<Long> library = start.newSince(before);
            long[] starting = start.since(before, library);
            ThreadUsage end = window(start);
            long[] used = end.since(start, library);
            BenchRig.figure(prefix + ".library_threads", library.size(), "threads", 0);
            BenchRig.figure(prefix + ".start_cpu_ms", starting[0] / 1e6, "ms", 3);
            BenchRig.figure(prefix + ".start_wakeups", starting[1], "switches", 0);
            BenchRig.figure(prefix + ".cpu_ms", used[0] / 1e6, "ms", 3);
            BenchRig.figure(prefix + ".wakeups", used[1], "switches", 0);
            Set<Long> display = start.named("ns-display");
            if (!display.isEmpty()) {
                long[] displayUsed = end.since(start, display);
                BenchRig.figure(prefix + ".display_cpu_ms", displayUsed[0] / 1e6, "ms", 3);
                BenchRig.figure(prefix + ".display_wakeups", displayUsed[1], "switches", 0);
            }
            BenchRig.figure(prefix + ".display_reports", changeScreenSize("1600x1000")
                    && displayChanged.await(5, TimeUnit.SECONDS) ? 1 : 0, "calls", 0);
            changeScreenSize("1920x1200");
            return true;
        } finally {
            usb.unsubscribeUSBChangeEvents();
        }
    }

    private ThreadUsage window(ThreadUsage start) throws InterruptedException {
        BenchRig.figure("idle.window_s", windowSeconds, "s", 0);
        Thread.sleep(windowSeconds * 1000);
        return ThreadUsage.now();
    }

    /** The X screen's size set with xrandr; false without a display or when xrandr fails. */
    private static boolean changeScreenSize(String size) throws Exception {
        String display = System.getenv("DISPLAY");
        return display != null && new ProcessBuilder("xrandr", "-display", display, "--fb", size).inheritIO().start().waitFor() == 0;
    }
}
