package quorvantelix.bench;

import java.util.Arrays;
import java.util.Set;
import quorvantelix.dm.connections.usb.NativeUSB;

/**
 * The library's benchmarks in a 64-bit JVM. The first argument picks a part:
 * <ul>
 * <li>"path" (the registry with many instances, then the report path and the cost of a
 * poll, run once per round beside the peers), the rest as in {@link Plan};</li>
 * <li>"report" (the report path alone, for a profiler), the rest as in {@link Plan};</li>
 * <li>"poll" (the registry and the poll cost; with a number, only that many rounds of
 * taking queued reports, for a profiler);</li>
 * <li>"scale" N seconds interval_us poll_us (N tablets at once, see {@link ScaleBench});</li>
 * <li>"pollers" N seconds interval_us poll_us (one poller, then N at once, see
 * {@link ScaleBench#pollers});</li>
 * <li>"zlp" N seconds interval_us poll_us (N tablets with and without empty packets by
 * turns, see {@link ScaleBench#emptyPackets});</li>
 * <li>"discovery" (discovery beside hidapi's enumeration);</li>
 * <li>"subscription" seconds (an idle change subscription);</li>
 * <li>"others" (a backlog nobody polls, see {@link BacklogBench}, and idle devices), the
 * rest as in {@link Plan}.</li>
 * </ul>
 * Figures are named after the system property nsbench.name ("library" by default), so
 * that builds of the library can be told apart. Prints one figure a line; exits 1 if a
 * benchmark could not finish.
 */
public final class NativeSupportBench {
    private NativeSupportBench() {
    }

    public static void main(String[] args) throws Exception {
        String part = args.length > 0 ? args[0] : "path";
        String[] rest = Arrays.copyOfRange(args, Math.min(1, args.length), args.length);
        String name = System.getProperty("nsbench.name", "library");
        BenchRig.start();
        NativeUSB usb = new NativeUSB();
        boolean ok;
        switch (part) {
            case "scale":
            case "pollers":
            case "zlp":
                ScaleBench scale = new ScaleBench(usb, Integer.parseInt(rest[0]), Long.parseLong(rest[1]),
                        Long.parseLong(rest[2]), Long.parseLong(rest[3]));
                ok = part.equals("scale") ? scale.run()
                        : part.equals("pollers") ? scale.pollers() : scale.emptyPackets();
                break;
            case "others":
                Plan plan = new Plan(rest);
                ok = new BacklogBench(usb).run()
                        && new IdleCpuBench(usb, plan.idleDevices, plan.idleSeconds).idleDevices();
                break;
            case "discovery":
                ok = new DiscoveryBench(usb).run();
                break;
            case "subscription":
                ok = new IdleCpuBench(usb, 0, Long.parseLong(rest[0]))
                        .idleSubscription(name.equals("library") ? "idle_subscription" : name + ".idle_subscription");
                break;
            default:
                ok = withTablet(usb, part, new Plan(rest), rest, name);
                break;
        }
        System.exit(ok ? 0 : 1);
    }

    // The parts that read one open tablet.
    private static boolean withTablet(NativeUSB usb, String part, Plan plan, String[] rest, String name)
            throws Exception {
        boolean registry = part.equals("path") || part.equals("poll") && rest.length == 0;
        boolean ok = !registry || new RegistryBench(usb, name).run();
        long device = BenchRig.plugTablet(1, 2);
        long handle = usb.createNativeUsbInstance();
        if (!usb.connectNativeUsb(handle, BenchRig.path(device)) || !BenchRig.waitForPendingIn(device, 20_000)) {
            BenchRig.note("cannot connect the emulated tablet");
            return false;
        }
        Set<Long> readThreads = ThreadUsage.now().named(ThreadUsage.READ_THREAD);
        switch (part) {
            case "path":
            case "report":
                ok = ok && new ReportPathBench(usb, handle, device, plan, readThreads, name).run()
                        && (part.equals("report") || new PollCostBench(usb, handle, device, name).run());
                usb.destroyNativeUsbInstance(handle);
                return ok;
            default:
                PollCostBench poll = new PollCostBench(usb, handle, device, name);
                ok = ok && (rest.length > 0 ? poll.profile(Integer.parseInt(rest[0])) : poll.run());
                usb.destroyNativeUsbInstance(handle);
                return ok;
        }
    }
}
