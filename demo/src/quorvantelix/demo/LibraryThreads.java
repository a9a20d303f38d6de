package quorvantelix.demo;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;
import java.util.concurrent.TimeUnit;
import java.util.stream.Stream;

/**
 * The threads of this process as /proc shows them. The library's threads are the native
 * ones the JVM did not name: its notification and display threads call themselves "ns-...",
 * its read threads keep the "java" name of the thread that connected.
 */
final class LibraryThreads {
    private static final Path TASKS = Paths.get("/proc/self/task");

    private LibraryThreads() {
    }

    static Map<String, String> snapshot() {
        Map<String, String> tasks = new TreeMap<>();
        try (Stream<Path> s = Files.list(TASKS)) {
            s.forEach(t -> {
                try {
                    tasks.put(t.getFileName().toString(), Files.readString(t.resolve("comm")).trim());
                } catch (IOException ended) {
                    // ended while listed
                }
            });
        } catch (IOException e) {
            // no /proc: nothing to tell
        }
        return tasks;
    }

    /** Waits up to timeoutMillis until no library thread started after before runs; returns those left. */
    static List<String> awaitEnded(Map<String, String> before, long timeoutMillis) throws InterruptedException {
        long deadline = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(timeoutMillis);
        List<String> left = started(before);
        while (!left.isEmpty() && System.nanoTime() < deadline) {
            Thread.sleep(10);   // native threads leave no handle to wait on
            left = started(before);
        }
        return left;
    }

    private static List<String> started(Map<String, String> before) {
        List<String> left = new ArrayList<>();
        for (Map.Entry<String, String> e : snapshot().entrySet()) {
            boolean library = e.getValue().startsWith("ns-") || e.getValue().equals("java");
            if (library && !before.containsKey(e.getKey())) {
                left.add(e.getValue() + " (" + e.getKey() + ")");
            }
        }
        return left;
    }
}
