package quorvantelix.bench;

import java.util.Set;
import quorvantelix.dm.connections.usb.NativeUSB;

/**
 * The library's benchmarks in one 64-bit JVM: the report path, the cost of a poll, the
 * memory of queued reports, idle devices and subscription, and discovery. Arguments as
 * in {@link Plan}. Prints one figure a line; exits 1 if a benchmark could not finish.
 */
public final class NativeSupportBench {
    private NativeSupportBench() {
    }

    public static void main(String[] args) throws Exception {
        Plan plan = new Plan(args);
        BenchRig.start();
        NativeUSB usb = new NativeUSB();
        long device = BenchRig.plugTablet(1, 2);
        ThreadUsage beforeOpen = ThreadUsage.now();
        long handle = usb.createNativeUsbInstance();
        if (!usb.connectNativeUsb(handle, BenchRig.path(device)) || !BenchRig.waitForPendingIn(device, 20_000)) {
            BenchRig.note("cannot connect the emulated tablet");
            System.exit(1);
        }
        Set<Long> libraryThreads = ThreadUsage.now().newSince(beforeOpen);
        boolean ok = new ReportPathBench(usb, handle, device, plan, libraryThreads).run()
                && new PollCostBench(usb, handle, device).run()
                && new QueueMemoryBench(usb, handle, device).run();
        usb.destroyNativeUsbInstance(handle);
        IdleCpuBench idle = new IdleCpuBench(usb, plan);
        ok = ok && idle.idleDevices() && idle.idleSubscription() && new DiscoveryBench(usb).run();
        System.exit(ok ? 0 : 1);
    }
}
