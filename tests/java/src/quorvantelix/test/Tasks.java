package quorvantelix.test;

import java.io.IOException;
import java.nio.file.DirectoryStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;

/** This process's threads as /proc shows them: by name, and how often they woke. */
public final class Tasks {
    private Tasks() {
    }

    /** Names of this process's threads. */
    public static List<String> names() throws IOException {
        List<String> names = new ArrayList<>();
        for (Path task : list()) {
            try {
                names.add(Files.readString(task.resolve("comm")).trim());
            } catch (IOException ended) {
                // ended while listed
            }
        }
        return names;
    }

    /** Context switches (wake-ups) of each thread of that name so far. */
    public static List<Long> wakeups(String name) throws IOException {
        List<Long> found = new ArrayList<>();
        for (Path task : list()) {
            try {
                if (!Files.readString(task.resolve("comm")).trim().equals(name)) {
                    continue;
                }
                long switches = 0;
                for (String line : Files.readAllLines(task.resolve("status"))) {
                    if (line.matches("(non)?voluntary_ctxt_switches:.*")) {
                        switches += Long.parseLong(line.replaceAll("[^0-9]", ""));
                    }
                }
                found.add(switches);
            } catch (IOException ended) {
                // ended while listed
            }
        }
        return found;
    }

    /** Processor time, in milliseconds, each thread of that name has used so far. */
    public static List<Long> cpuMillis(String name) throws IOException {
        List<Long> found = new ArrayList<>();
        for (Path task : list()) {
            try {
                if (!Files.readString(task.resolve("comm")).trim().equals(name)) {
                    continue;
                }
                // After the name in parentheses: utime and stime are the 12th and 13th fields, in
                // clock ticks of 10 ms.
                String stat = Files.readString(task.resolve("stat"));
                String[] fields = stat.substring(stat.lastIndexOf(')') + 2).split(" ");
                found.add((Long.parseLong(fields[11]) + Long.parseLong(fields[12])) * 10);
            } catch (IOException ended) {
                // ended while listed
            }
        }
        return found;
    }

    /** Wake-ups of the one thread of that name during {@code millis}, counted from when it sleeps. */
    public static long wakeupsDuring(String name, long millis) throws Exception {
        awaitSleeping(name);
        return during(wakeups(name), millis, () -> wakeups(name), name);
    }

    /** Waits (up to 10 s) until every thread of that name sleeps. */
    public static void awaitSleeping(String name) throws Exception {
        long deadline = System.nanoTime() + 10_000_000_000L;
        for (;;) {
            boolean sleeping = true;
            for (Path task : list()) {
                try {
                    if (Files.readString(task.resolve("comm")).trim().equals(name)) {
                        String stat = Files.readString(task.resolve("stat"));
                        sleeping &= stat.charAt(stat.lastIndexOf(')') + 2) == 'S';
                    }
                } catch (IOException ended) {
                    // ended while listed
                }
            }
            if (sleeping || System.nanoTime() > deadline) {
                return;
            }
            Thread.sleep(1);
        }
    }

    /** Processor time (ms) of the one thread of that name during {@code millis}. */
    public static long cpuMillisDuring(String name, long millis) throws Exception {
        return during(cpuMillis(name), millis, () -> cpuMillis(name), name);
    }

    private interface Reading {
        List<Long> read() throws IOException;
    }

    private static long during(List<Long> before, long millis, Reading reading, String name) throws Exception {
        Thread.sleep(millis);
        List<Long> after = reading.read();
        if (before.size() != 1 || after.size() != 1) {
            throw new AssertionError("not one thread named " + name + ": " + before + " then " + after);
        }
        return after.get(0) - before.get(0);
    }

    private static List<Path> list() throws IOException {
        List<Path> tasks = new ArrayList<>();
        try (DirectoryStream<Path> s = Files.newDirectoryStream(Paths.get("/proc/self/task"))) {
            s.forEach(tasks::add);
        }
        return tasks;
    }
}
