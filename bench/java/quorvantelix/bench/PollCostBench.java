package quorvantelix.bench;

import java.util.ArrayList;
import java.util.List;
import quorvantelix.dm.connections.usb.NativeUSB;

/**
 * The cost of one readNativeUsbState call, with an empty queue and with a report waiting,
 * against an empty native method of the same shape. Each figure is the median over
 * rounds of the mean time per call in a round; the JIT has compiled the loops first.
 */
final class PollCostBench {
    private static final int ROUNDS = 5;
    private static final int CALLS_PER_ROUND = 1_000_000;
    private static final int WAITING_PER_ROUND = 4_000;

    private final NativeUSB usb;
    private final long handle;
    private final long device;
    private final BenchRig rig = new BenchRig();
    private final String name;
    private long sink;

    PollCostBench(NativeUSB usb, long handle, long device, String name) {
        this.name = name;
        this.usb = usb;
        this.handle = handle;
        this.device = device;
    }

    boolean run() {
        while (usb.readNativeUsbState(handle) != null) {
            // drain what earlier runs left
        }
        emptyCalls(CALLS_PER_ROUND);
        emptyPolls(CALLS_PER_ROUND);
        List<Double> empty = new ArrayList<>();
        List<Double> polls = new ArrayList<>();
        List<Double> waiting = new ArrayList<>();
        for (int r = 0; r < ROUNDS; r++) {
            empty.add(emptyCalls(CALLS_PER_ROUND));
            polls.add(emptyPolls(CALLS_PER_ROUND));
            double taking = takeWaiting();
            if (taking < 0) {
                BenchRig.note("poll cost: the queued reports did not all arrive");
                return false;
            }
            waiting.add(taking);
        }
        double floor = ReportPathBench.median(empty);
        double poll = ReportPathBench.median(polls);
        BenchRig.figure(name + ".empty_jni_call_ns", floor, "ns", 1);
        BenchRig.figure(name + ".poll_empty_ns", poll, "ns", 1);
        BenchRig.figure(name + ".poll_with_report_ns", ReportPathBench.median(waiting), "ns", 1);
        BenchRig.figure(name + ".poll_empty_over_empty_call", poll / floor, "x", 1);
        return sink != 42;   // keeps the results alive
    }

    private double emptyCalls(int calls) {
        long start = System.nanoTime();
        for (int i = 0; i < calls; i++) {
            if (rig.emptyCall(handle) != null) {
                sink++;
            }
        }
        return (System.nanoTime() - start) / (double) calls;
    }

    private double emptyPolls(int calls) {
        long start = System.nanoTime();
        for (int i = 0; i < calls; i++) {
            if (usb.readNativeUsbState(handle) != null) {
                sink++;
            }
        }
        return (System.nanoTime() - start) / (double) calls;
    }

    // Queues reports with nobody polling, then times taking them: ns per call, or -1.
    private double takeWaiting() {
        BenchRig.feedUnread(device, WAITING_PER_ROUND);
        if (!BenchRig.waitForAllTaken(device, 60_000)) {
            return -1;
        }
        long start = System.nanoTime();
        for (int i = 0; i < WAITING_PER_ROUND; i++) {
            byte[] report = usb.readNativeUsbState(handle);
            if (report == null) {
                return -1;
            }
            sink += report[0];
        }
        return (System.nanoTime() - start) / (double) WAITING_PER_ROUND;
    }
}
