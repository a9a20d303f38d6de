package quorvantelix.bench;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.util.HashSet;
import java.util.Set;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.locks.LockSupport;
import quorvantelix.dm.connections.usb.NativeUSB;

/**
 * Many tablets at once in one JVM: each sends a report every {@code intervalMicros} (a
 * 1000 Hz pen at 1000) for {@code seconds}, the tablets' turns spread over the interval,
 * and one Java thread per tablet polls it as an application would: it takes what is
 * queued, and after an empty poll parks for {@code pollMicros}. Printed under
 * scale.N_devices (scale_RATEhz.N_devices for another rate than 1000 Hz): reports lost
 * (not in Java 5 s after the last was sent; of those, how many the emulated devices still
 * held), latency from feeding the report to Java holding the array (its time queued in
 * the emulated device included), and the read side's processor time per report (the library's threads and
 * the pollers), beside the rest of the process's (the emulated devices, their feeder,
 * the JVM) and how many processors the whole process kept busy.
 */
final class ScaleBench {
    private final NativeUSB usb;
    private final int count;
    private final long seconds;
    private final long intervalMicros;
    private final long pollMicros;

    ScaleBench(NativeUSB usb, int count, long seconds, long intervalMicros, long pollMicros) {
        this.usb = usb;
        this.count = count;
        this.seconds = seconds;
        this.intervalMicros = intervalMicros;
        this.pollMicros = pollMicros;
    }

    /** One tablet's poller: takes its reports in order and records each one's latency. */
    private final class Poller extends Thread {
        final long handle;
        final long[] latencies;
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
                byte[] report = usb.readNativeUsbState(handle);
                long now = System.nanoTime();
                if (report == null) {
                    LockSupport.parkNanos(pollMicros * 1000);
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

    boolean run() throws InterruptedException {
        String prefix = (intervalMicros == 1000 ? "scale." : "scale_" + 1_000_000 / intervalMicros + "hz.") + count
                + "_devices";
        ThreadUsage beforeOpen = ThreadUsage.now();
        Tablets tablets = Tablets.open(usb, 4, count);
        try {
            int failed = tablets.firstNotReady();
            if (failed >= 0) {
                BenchRig.note(prefix + ": tablet " + failed + " did not open");
                return false;
            }
            Set<Long> library = ThreadUsage.now().newSince(beforeOpen);
            long perTablet = seconds * 1_000_000 / intervalMicros;
            CountDownLatch started = new CountDownLatch(count);
            CountDownLatch done = new CountDownLatch(count);
            CountDownLatch release = new CountDownLatch(1);
            Poller[] pollers = new Poller[count];
            for (int i = 0; i < count; i++) {
                pollers[i] = new Poller(i, tablets.handles[i], perTablet, started, done, release);
                pollers[i].start();
            }
            started.await();
            Set<Long> pollerThreads = new HashSet<>();
            for (Poller p : pollers) {
                pollerThreads.add(p.tid);
            }

            ThreadUsage start = ThreadUsage.now();
            long begun = System.nanoTime();
            long[] fed = BenchRig.feedPaced(tablets.devices, perTablet, intervalMicros);
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
            for (long device : tablets.devices) {
                inEmulator += BenchRig.queuedInput(device);
            }
            release.countDown();
            for (Poller p : pollers) {
                p.join();
            }

            long fedAll = 0;
            long taken = 0;
            long outOfOrder = 0;
            int measured = 0;
            long[] latencies = new long[count * (int) perTablet];
            for (int i = 0; i < count; i++) {
                fedAll += fed[i];
                taken += pollers[i].taken;
                outOfOrder += pollers[i].outOfOrder;
                System.arraycopy(pollers[i].latencies, 0, latencies, measured, (int) pollers[i].taken);
                measured += (int) pollers[i].taken;
            }
            long[] libraryUsage = end.since(start, library);
            long[] pollerUsage = end.since(start, pollerThreads);
            long[] processUsage = end.since(start, end.ids());
            double perReport = Math.max(1, taken) * 1000.0;   // ns to us per report
            BenchRig.figure(prefix + ".reports", taken, "reports", 0);
            BenchRig.figure(prefix + ".lost", fedAll - taken + outOfOrder, "reports", 0);
            BenchRig.figure(prefix + ".lost_still_in_emulator", inEmulator, "reports", 0);
            BenchRig.latencies(prefix, latencies, measured);
            BenchRig.figure(prefix + ".read_thread_cpu_per_report_us", libraryUsage[0] / perReport, "us", 2);
            BenchRig.figure(prefix + ".poller_cpu_per_report_us", pollerUsage[0] / perReport, "us", 2);
            BenchRig.figure(prefix + ".cpu_per_report_us", (libraryUsage[0] + pollerUsage[0]) / perReport, "us", 2);
            BenchRig.figure(prefix + ".read_thread_wakeups_per_report", libraryUsage[1] * 1000.0 / perReport,
                    "switches", 2);
            BenchRig.figure(prefix + ".rest_of_process_cpu_per_report_us",
                    (processUsage[0] - libraryUsage[0] - pollerUsage[0]) / perReport, "us", 2);
            BenchRig.figure(prefix + ".process_processors", processUsage[0] / 1e9 / window, "processors", 2);
            return true;
        } finally {
            tablets.close();
        }
    }
}
