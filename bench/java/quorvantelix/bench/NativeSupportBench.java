package quorvantelix.bench;

import java.util.Set;
import quorvantelix.dm.connections.usb.NativeUSB;

/**
 * The library's benchmarks in a 64-bit JVM. The first argument picks a part: "path" (the
 * report path and the cost of a poll, run once per round beside the peers) or "others"
 * (the memory of queued reports, idle devices and subscription, discovery); the rest are
 * as in {@link Plan}. Figures are named after the system property nsbench.name
 * ("library" by default), so that two builds of the library can be told apart. Prints
 * one figure a line; exits 1 if a benchmark could not finish.
 */
public final class NativeSupportBench {
    private NativeSupportBench() {
    }

    public static void main(String[] args) throws Exception {
        boolean path = args.length > 0 && args[0].equals("path");
        Plan plan = new Plan(java.util.Arrays.copyOfRange(args, Math.min(1, args.length), args.length));
        String name = System.getProperty("nsbench.name", "library");
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
        boolean ok;
        if (path) {
            ok = new ReportPathBench(usb, handle, device, plan, libraryThreads, name).run()
                    && new PollCostBench(usb, handle, device, name).run();
            usb.destroyNativeUsbInstance(handle);
        } else {
            ok = new QueueMemoryBench(usb, handle, device).run();
            usb.destroyNativeUsbInstance(handle);
            IdleCpuBench idle = new IdleCpuBench(usb, plan);
            ok = ok && idle.idleDevices() && idle.idleSubscription() && new DiscoveryBench(usb).run();
        }
        System.exit(ok ? 0 : 1);
    }
}
