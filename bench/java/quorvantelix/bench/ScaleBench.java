package quorvantelix.bench;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.locks.LockSupport;
import java.util.function.IntPredicate;
import java.util.stream.IntStream;
import quorvantelix.dm.connections.usb.NativeUSB;

/**
 * Many tablets at once in one JVM: each sends a report every {@code intervalMicros} (a
 * 1000 Hz pen at 1000) for {@code seconds}, the tablets' turns spread over the interval,
 * and one Java thread per tablet polls it as an application would: it takes what is
 * queued, and after an empty poll parks for {@code pollMicros} (0: polls again at once).
 * Printed under a prefix (scale.N_devices, scale_RATEhz.N_devices for another rate than
 * 1000 Hz): reports lost (not in Java 5 s after the last was sent; of those, how many the
 * emulated devices still held), latency from feeding the report to Java holding the array
 * (its time queued in the emulated device included), how long each poll call took, and
 * the processor time per report of the library's read thread and of the pollers, beside
 * the rest of the process's (the emulated devices, their feeder, the JVM) and how many
 * processors the whole process kept busy. The same runs also compare N pollers at once
 * with one ({@link #pollers}), and tablets that answer every poll with an empty packet
 * with tablets that wait, in the same run ({@link #emptyPackets}).
 */
final class ScaleBench {
    // Empty packets take turns with waiting by blocks of a second; the first fifth of each
    // block is left out, in which a pause begun in the block before may still run.
    private static final long EMPTY_BLOCK_MICROS = 1_000_000;

    private final NativeUSB usb;
    private final int count;
    private final long seconds;
    private final long intervalMicros;
    private final long pollMicros;

    /** What one run measured: each tablet's latencies in nanoseconds, and every poll's duration. */
    private record Result(long[][] latencies, Durations polls) {
        /** Every tablet's latencies of its k-th report delivered, for each k that passes {@code which}. */
        long[] latencies(IntPredicate which) {
            return Arrays.stream(latencies)
                    .flatMapToLong(l -> IntStream.range(0, l.length).filter(which).mapToLong(i -> l[i]))
                    .toArray();
        }
    }

    ScaleBench(NativeUSB usb, int count, long seconds, long intervalMicros, long pollMicros) {
        this.usb = usb;
        this.count = count;
        this.seconds = seconds;
        this.intervalMicros = intervalMicros;
        this.pollMicros = pollMicros;
    }

    /** One tablet's poller: takes its reports in order, records each one's latency and times each poll. */
    private final class Poller extends Thread {
        final long handle;
        final long[] latencies;
        final Durations polls = new Durations();
        final CountDownLatch started;
        final CountDownLatch done;
        final CountDownLatch release;
        volatile boolean stop;
        volatile long tid;
        long taken;
        long outOfOrder; // reports whose sequence number is not the one after the last's
        long next;       // the sequence number the next report should carry

        Poller(int index, long handle, long expected, CountDownLatch started, CountDownLatch done,
                CountDownLatch release) {
            super("bench-poller-" + index);
            this.handle = handle;
            this.latencies = new long[(int) expected];
            this.started = started;
            this.done = done;
            this.release = release;
        }

        @Override
        public void run() {
            tid = BenchRig.threadId();
            started.countDown();
            while (taken < latencies.length && !stop) {
                long called = System.nanoTime();
                byte[] report = usb.readNativeUsbState(handle);
                long now = System.nanoTime();
                polls.add(now - called);
                if (report == null) {
                    LockSupport.parkNanos(pollMicros * 1000);   // returns at once for 0
                    continue;
                }
                ByteBuffer bytes = ByteBuffer.wrap(report).order(ByteOrder.LITTLE_ENDIAN);
                long sequence = bytes.getLong(8);
                if (sequence != next) {
                    outOfOrder++;
                }
                next = sequence + 1;
                latencies[(int) taken] = now - bytes.getLong(16);
                taken++;
            }
            // Lives on until the processor times are read.
            done.countDown();
            try {
                release.await();
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
        }
    }

    /** N tablets at once: scale.N_devices (scale_RATEhz.N_devices for another rate). */
    boolean run() throws InterruptedException {
        String rate = intervalMicros == 1000 ? "scale." : "scale_" + 1_000_000 / intervalMicros + "hz.";
        Tablets tablets = Tablets.openReady(usb, 4, count, "scale");
        try {
            return tablets != null && run(rate + count + "_devices", tablets, count, 0) != null;
        } finally {
            Tablets.close(tablets);
        }
    }

    /**
     * One poller spinning on its busy tablet (poll.1_threads), then N at once, each on its
     * own (poll.N_threads): poll.p99_N_threads_over_1 is how much longer the slowest
     * hundredth of polls took with N than with one.
     */
    boolean pollers() throws InterruptedException {
        Tablets tablets = Tablets.openReady(usb, 6, count, "pollers");
        try {
            Result one = tablets == null ? null : run("poll.1_threads", tablets, 1, 0);
            Result all = one == null ? null : run("poll." + count + "_threads", tablets, count, 0);
            if (all != null) {
                BenchRig.figure("poll.p99_" + count + "_threads_over_1", all.polls.percentile(99)
                        / one.polls.percentile(99), "x", 2);
            }
            return all != null;
        } finally {
            Tablets.close(tablets);
        }
    }

    /**
     * N tablets that wait while they have no report and answer every poll with an empty packet
     * meanwhile by turns, a second each, so that the machine's moods hit both alike (zlp): the
     * latencies of the reports sent either way (zlp.without, zlp.with), and
     * zlp.latency_p99_with_over_without, the median over the pairs of blocks of the p99 with
     * over the p99 without, so that a stall of the machine in one block does not decide it.
     */
    boolean emptyPackets() throws InterruptedException {
        int block = (int) (EMPTY_BLOCK_MICROS / intervalMicros);
        int settle = block / 5;
        Tablets tablets = Tablets.openReady(usb, 5, count, "empty packets");
        try {
            Result both = tablets == null ? null : run("zlp", tablets, count, block);
            if (both == null) {
                return false;
            }
            IntPredicate settled = k -> k % block >= settle;
            long[] without = both.latencies(settled.and(k -> k / block % 2 == 0));
            long[] with = both.latencies(settled.and(k -> k / block % 2 == 1));
            BenchRig.latencies("zlp.without", without, without.length);
            BenchRig.latencies("zlp.with", with, with.length);
            List<Double> ratios = new ArrayList<>();
            for (int b = 1; b < seconds * 1_000_000 / intervalMicros / block; b += 2) {
                int w = b;
                ratios.add(p99(both.latencies(settled.and(k -> k / block == w)))
                        / p99(both.latencies(settled.and(k -> k / block == w - 1))));
            }
            if (ratios.isEmpty()) {
                BenchRig.note("empty packets: the run is shorter than two blocks");
                return false;
            }
            BenchRig.figure("zlp.latency_p99_with_over_without", ReportPathBench.median(ratios), "x", 2);
            return true;
        } finally {
            Tablets.close(tablets);
        }
    }

    /** The nearest-rank 99th percentile, as {@link BenchRig#latencies} prints it. */
    private static double p99(long[] values) {
        long[] sorted = values.clone();
        Arrays.sort(sorted);
        return sorted.length == 0 ? Double.NaN : sorted[(int) Math.ceil(0.99 * sorted.length) - 1];
    }

    /**
     * The first {@code used} of the tablets, printed under {@code prefix}, with empty packets
     * by turns if {@code emptyBlock} is not 0; null if no report came.
     */
    private Result run(String prefix, Tablets tablets, int used, long emptyBlock) throws InterruptedException {
        long[] devices = Arrays.copyOf(tablets.devices, used);
        long perTablet = seconds * 1_000_000 / intervalMicros;
        CountDownLatch started = new CountDownLatch(used);
        CountDownLatch done = new CountDownLatch(used);
        CountDownLatch release = new CountDownLatch(1);
        Poller[] pollers = new Poller[used];
        for (int i = 0; i < used; i++) {
            pollers[i] = new Poller(i, tablets.handles[i], perTablet, started, done, release);
            pollers[i].start();
        }
        started.await();
        Set<Long> pollerThreads = new HashSet<>();
        for (Poller p : pollers) {
            pollerThreads.add(p.tid);
        }

        ThreadUsage start = ThreadUsage.now();
        Set<Long> readThreads = start.named(ThreadUsage.READ_THREAD);
        long begun = System.nanoTime();
        long[] fed = BenchRig.feedPaced(devices, perTablet, intervalMicros, emptyBlock);
        // The last reports have a few seconds to arrive; what has not come by then is lost.
        if (!done.await(5, TimeUnit.SECONDS)) {
            for (Poller p : pollers) {
                p.stop = true;
            }
            done.await();
        }
        ThreadUsage end = ThreadUsage.now();
        double window = (System.nanoTime() - begun) / 1e9;
        long inEmulator = 0;
        for (long device : devices) {
            inEmulator += BenchRig.queuedInput(device);
        }
        release.countDown();
        for (Poller p : pollers) {
            p.join();
        }

        long fedAll = 0;
        long taken = 0;
        long outOfOrder = 0;
        long[][] latencies = new long[used][];
        Durations polls = new Durations();
        for (int i = 0; i < used; i++) {
            Poller p = pollers[i];
            fedAll += fed[i];
            taken += p.taken;
            outOfOrder += p.outOfOrder;
            latencies[i] = Arrays.copyOf(p.latencies, (int) p.taken);
            polls.addAll(p.polls);
        }
        long[] readUsage = end.since(start, readThreads);
        long[] pollerUsage = end.since(start, pollerThreads);
        long[] processUsage = end.since(start, end.ids());
        Result result = new Result(latencies, polls);
        double perReport = Math.max(1, taken) * 1000.0;   // ns to us per report
        BenchRig.figure(prefix + ".reports", taken, "reports", 0);
        BenchRig.figure(prefix + ".lost", fedAll - taken + outOfOrder, "reports", 0);
        BenchRig.figure(prefix + ".lost_still_in_emulator", inEmulator, "reports", 0);
        long[] all = result.latencies(k -> true);
        BenchRig.latencies(prefix, all, all.length);
        BenchRig.figure(prefix + ".poll_median_ns", polls.percentile(50), "ns", 0);
        BenchRig.figure(prefix + ".poll_p99_ns", polls.percentile(99), "ns", 0);
        BenchRig.figure(prefix + ".read_thread_cpu_per_report_us", readUsage[0] / perReport, "us", 2);
        BenchRig.figure(prefix + ".poller_cpu_per_report_us", pollerUsage[0] / perReport, "us", 2);
        BenchRig.figure(prefix + ".cpu_per_report_us", (readUsage[0] + pollerUsage[0]) / perReport, "us", 2);
        BenchRig.figure(prefix + ".read_thread_wakeups_per_report", readUsage[1] * 1000.0 / perReport,
                "switches", 2);
        BenchRig.figure(prefix + ".rest_of_process_cpu_per_report_us",
                (processUsage[0] - readUsage[0] - pollerUsage[0]) / perReport, "us", 2);
        BenchRig.figure(prefix + ".process_processors", processUsage[0] / 1e9 / window, "processors", 2);
        return taken == 0 ? null : result;
    }
}
