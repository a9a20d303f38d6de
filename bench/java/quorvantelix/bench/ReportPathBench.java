package quorvantelix.bench;

import java.lang.invoke.MethodHandles;
import java.lang.invoke.VarHandle;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.Set;
import quorvantelix.dm.connections.usb.NativeUSB;

/**
 * Reports from the emulated tablet through the library's read thread, its queue and
 * readNativeUsbState into Java: throughput with none lost, latency from the completed IN
 * transfer to Java holding the array, and the read thread's processor time per report.
 * Java polls as fast as it can, yielding the processor after each empty poll.
 */
final class ReportPathBench {
    private static final VarHandle TAKEN = MethodHandles.byteBufferViewVarHandle(long[].class, ByteOrder.nativeOrder());

    private final NativeUSB usb;
    private final long handle;
    private final long device;
    private final Plan plan;
    private final Set<Long> readThreads;
    private final String name;
    private final ByteBuffer takenCounter = ByteBuffer.allocateDirect(8);
    private long taken;
    private long outOfOrder;
    private long[] latencies = new long[0];
    private int latencyCount = -1;   // -1: not recording

    ReportPathBench(NativeUSB usb, long handle, long device, Plan plan, Set<Long> readThreads, String name) {
        this.name = name;
        this.usb = usb;
        this.handle = handle;
        this.device = device;
        this.plan = plan;
        this.readThreads = readThreads;
        BenchRig.attachFeeder(device, takenCounter);
    }

    boolean run() throws InterruptedException {
        if (!feedAndTake(() -> BenchRig.feedStream(device, plan.reportsPerTrial / 10, plan.window),
                plan.reportsPerTrial / 10)) {
            return fail("the library stopped delivering reports during the warm-up");
        }
        List<Double> rates = new ArrayList<>();
        ThreadUsage before = ThreadUsage.now();
        for (int t = 0; t < plan.trials; t++) {
            long start = System.nanoTime();
            if (!feedAndTake(() -> BenchRig.feedStream(device, plan.reportsPerTrial, plan.window),
                    plan.reportsPerTrial)) {
                return fail("the library stopped delivering reports");
            }
            rates.add(plan.reportsPerTrial * 1e9 / (System.nanoTime() - start));
        }
        long[] cpu = ThreadUsage.now().since(before, readThreads);

        latencies = new long[(int) plan.latencySamples];
        latencyCount = 0;
        if (!feedAndTake(() -> BenchRig.feedPingPong(device, plan.latencySamples), plan.latencySamples)) {
            return fail("the library stopped delivering reports while measuring latency");
        }
        int measured = latencyCount;
        latencyCount = -1;

        BenchRig.figure(name + ".throughput", median(rates), "reports/s", 0);
        BenchRig.figure(name + ".read_thread_cpu_per_report_us", cpu[0] / 1000.0 / (plan.reportsPerTrial * plan.trials),
                "us", 2);
        BenchRig.latencies(name, latencies, measured);
        BenchRig.figure(name + ".lost", BenchRig.fed(device) - taken + outOfOrder, "reports", 0);
        return true;
    }

    private interface Feeding {
        boolean feed();
    }

    // Feeds on a thread of its own while this one polls; true when all `count` came.
    private boolean feedAndTake(Feeding feeding, long count) throws InterruptedException {
        boolean[] fedAll = new boolean[1];
        Thread feeder = new Thread(() -> fedAll[0] = feeding.feed(), "bench-feeder");
        long target = taken + count;
        feeder.start();
        while (taken < target) {
            byte[] report = usb.readNativeUsbState(handle);
            long now = System.nanoTime();
            if (report != null) {
                take(report, now);
            } else if (!feeder.isAlive()) {
                break;
            } else {
                Thread.yield();
            }
        }
        feeder.join();
        return fedAll[0] && taken == target;
    }

    private void take(byte[] report, long now) {
        ByteBuffer bytes = ByteBuffer.wrap(report).order(ByteOrder.LITTLE_ENDIAN);
        if (bytes.getLong(8) != taken) {
            outOfOrder++;
        }
        if (latencyCount >= 0 && latencyCount < latencies.length) {
            latencies[latencyCount++] = now - bytes.getLong(16);
        }
        taken++;
        TAKEN.setRelease(takenCounter, 0, taken);
    }

    static double median(List<Double> values) {
        List<Double> sorted = new ArrayList<>(values);
        Collections.sort(sorted);
        int n = sorted.size();
        return n % 2 == 1 ? sorted.get(n / 2) : (sorted.get(n / 2 - 1) + sorted.get(n / 2)) / 2;
    }

    private static boolean fail(String why) {
        BenchRig.note("report path: " + why);
        return false;
    }
}
