package quorvantelix.bench;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.HashMap;
import java.util.Map;
import java.util.Set;
import java.util.stream.Collectors;

/** Processor time and context switches of the process's threads at one moment. */
final class ThreadUsage {
    /** The library's event thread, which reads every open device. */
    static final String READ_THREAD = "ns-usb-read";

    private final Map<Long, long[]> byThread = new HashMap<>();

    static ThreadUsage now() {
        ThreadUsage usage = new ThreadUsage();
        long[] flat = BenchRig.threadUsage();
        for (int i = 0; i + 2 < flat.length; i += 3) {
            usage.byThread.put(flat[i], new long[] {flat[i + 1], flat[i + 2]});
        }
        return usage;
    }

    Set<Long> ids() {
        return byThread.keySet();
    }

    /** {nanoseconds, switches} spent since {@code earlier} by the threads in {@code ids}. */
    long[] since(ThreadUsage earlier, Set<Long> ids) {
        long[] sum = new long[2];
        for (long id : ids) {
            long[] end = byThread.get(id);
            if (end == null) {
                continue;
            }
            long[] start = earlier.byThread.getOrDefault(id, new long[2]);
            sum[0] += end[0] - start[0];
            sum[1] += end[1] - start[1];
        }
        return sum;
    }

    /** The threads here that {@code earlier} did not have. */
    Set<Long> newSince(ThreadUsage earlier) {
        Set<Long> ids = new java.util.TreeSet<>(byThread.keySet());
        ids.removeAll(earlier.byThread.keySet());
        return ids;
    }

    /** The threads here named {@code name} (their comm). */
    Set<Long> named(String name) {
        return byThread.keySet().stream().filter(id -> name.equals(threadName(id))).collect(Collectors.toSet());
    }

    private static String threadName(long id) {
        try {
            return Files.readString(Paths.get("/proc/self/task/" + id + "/comm")).trim();
        } catch (IOException ended) {
            return "";
        }
    }
}
