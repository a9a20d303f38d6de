package quorvantelix.bench;

import java.util.ArrayList;
import java.util.List;
import quorvantelix.dm.connections.usb.NativeUSB;

/**
 * The cost of one readNativeUsbState call, with an empty queue and with a report waiting,
 * against the floors in the same JVM: an empty native method of the same shape, and one
 * that only makes and fills the array a report travels in. Each figure is the median over
 * rounds of the mean time per call in a round, and each ratio the median over rounds of
 * one round's ratio; the JIT has compiled the loops first.
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
        // One untimed round first: the loops that take reports are compiled meanwhile (see
        // scripts/bench.sh for the JVM's compile thresholds of this class).
        emptyCalls(CALLS_PER_ROUND);
        emptyPolls(CALLS_PER_ROUND);
        if (takeWaiting() < 0) {
            BenchRig.note("poll cost: the queued reports did not all arrive");
            return false;
        }
        copyCalls(WAITING_PER_ROUND);
        List<Double> empty = new ArrayList<>();
        List<Double> polls = new ArrayList<>();
        List<Double> copies = new ArrayList<>();
        List<Double> waiting = new ArrayList<>();
        List<Double> overFloor = new ArrayList<>();
        List<Double> overCall = new ArrayList<>();
        for (int r = 0; r < ROUNDS; r++) {
            empty.add(emptyCalls(CALLS_PER_ROUND));
            polls.add(emptyPolls(CALLS_PER_ROUND));
            overCall.add(polls.get(r) / empty.get(r));
            double taking = takeWaiting();
            if (taking < 0) {
                BenchRig.note("poll cost: the queued reports did not all arrive");
                return false;
            }
            waiting.add(taking);
            copies.add(copyCalls(WAITING_PER_ROUND));
            overFloor.add(waiting.get(r) / copies.get(r));
        }
        BenchRig.figure(name + ".empty_jni_call_ns", ReportPathBench.median(empty), "ns", 1);
        BenchRig.figure(name + ".poll_empty_ns", ReportPathBench.median(polls), "ns", 1);
        BenchRig.figure(name + ".poll_with_report_ns", ReportPathBench.median(waiting), "ns", 1);
        BenchRig.figure(name + ".poll_with_report_floor_ns", ReportPathBench.median(copies), "ns", 1);
        BenchRig.figure(name + ".poll_empty_over_empty_call", ReportPathBench.median(overCall), "x", 1);
        BenchRig.figure(name + ".poll_with_report_over_floor", ReportPathBench.median(overFloor), "x", 2);
        return sink != 42;   // keeps the results alive
    }

    /**
     * Takes reports queued with nobody polling, round after round, for a profiler to watch.
     * With the system property nsbench.perf_control naming the control and acknowledgement
     * FIFOs of `perf record --control=fifo:CTL,ACK --delay=-1` ("CTL,ACK"), the profiler
     * records only while the timed loops run, after a first round that lets the JIT compile
     * them.
     */
    boolean profile(int rounds) throws java.io.IOException {
        String[] fifos = System.getProperty("nsbench.perf_control", "").split(",");
        try (java.io.FileOutputStream control = fifos.length == 2 ? new java.io.FileOutputStream(fifos[0]) : null;
                java.io.FileInputStream ack = fifos.length == 2 ? new java.io.FileInputStream(fifos[1]) : null) {
            for (int r = 0; r < rounds; r++) {
                if (!queueReports()) {
                    return false;
                }
                boolean watched = control != null && r > 0;
                if (watched) {
                    profiler(control, ack, "enable");
                }
                takeQueued();
                copyCalls(WAITING_PER_ROUND);
                if (watched) {
                    profiler(control, ack, "disable");
                }
            }
        }
        return sink != 42;
    }

    // Sends perf a command and waits for its acknowledgement.
    private static void profiler(java.io.FileOutputStream control, java.io.FileInputStream ack, String command)
            throws java.io.IOException {
        control.write((command + "\n").getBytes(java.nio.charset.StandardCharsets.US_ASCII));
        control.flush();
        for (int c = ack.read(); c != '\n' && c >= 0; c = ack.read()) {
            // "ack\n"
        }
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

    // The floor of takeQueued: the same loop over a native method that only makes the array.
    private double copyCalls(int calls) {
        long start = System.nanoTime();
        for (int i = 0; i < calls; i++) {
            byte[] report = rig.copyCall(handle);
            if (report == null) {
                return -1;
            }
            sink += report[0];
        }
        return (System.nanoTime() - start) / (double) calls;
    }

    // Queues reports with nobody polling, then times taking them: ns per call, or -1.
    private double takeWaiting() {
        return queueReports() ? takeQueued() : -1;
    }

    // Feeds the reports and waits until the read thread has queued them all: the host has
    // reaped every one, and a moment later its completion callback has run.
    private boolean queueReports() {
        BenchRig.feedUnread(device, WAITING_PER_ROUND, BenchRig.REPORT_LENGTH);
        if (!BenchRig.waitForAllTaken(device, 60_000)) {
            return false;
        }
        try {
            Thread.sleep(50);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
        return true;
    }

    private double takeQueued() {
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
