package quorvantelix.bench;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Paths;
import quorvantelix.dm.connections.usb.NativeUSB;

/**
 * What a queued report costs while Java does not poll: the C heap in use (all of malloc's
 * arenas) and the resident set, before and after the read thread queued many reports,
 * and the heap once Java has taken them all again.
 */
final class QueueMemoryBench {
    private static final int REPORTS = 20_000;

    private final NativeUSB usb;
    private final long handle;
    private final long device;

    QueueMemoryBench(NativeUSB usb, long handle, long device) {
        this.usb = usb;
        this.handle = handle;
        this.device = device;
    }

    boolean run() throws IOException {
        while (usb.readNativeUsbState(handle) != null) {
            // start from an empty queue
        }
        long heapBefore = BenchRig.heapInUse();
        long rssBefore = residentBytes();
        BenchRig.feedUnread(device, REPORTS);
        if (!BenchRig.waitForAllTaken(device, 120_000)) {
            BenchRig.note("queue memory: the host did not take the reports");
            return false;
        }
        long heapQueued = BenchRig.heapInUse();
        long rssQueued = residentBytes();
        int drained = 0;
        while (usb.readNativeUsbState(handle) != null) {
            drained++;
        }
        long heapAfter = BenchRig.heapInUse();
        BenchRig.figure("queue.reports", REPORTS, "reports", 0);
        BenchRig.figure("queue.heap_per_report_bytes", (heapQueued - heapBefore) / (double) REPORTS, "bytes", 1);
        BenchRig.figure("queue.rss_per_report_bytes", (rssQueued - rssBefore) / (double) REPORTS, "bytes", 1);
        BenchRig.figure("queue.drained", drained, "reports", 0);
        BenchRig.figure("queue.heap_left_after_drain_bytes", heapAfter - heapBefore, "bytes", 0);
        return drained == REPORTS;
    }

    private static long residentBytes() throws IOException {
        for (String line : Files.readAllLines(Paths.get("/proc/self/status"))) {
            if (line.startsWith("VmRSS:")) {
                return Long.parseLong(line.replaceAll("[^0-9]", "")) * 1024;
            }
        }
        return 0;
    }
}
