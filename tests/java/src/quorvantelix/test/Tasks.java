package quorvantelix.test;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.file.*;
import java.util.*;
import java.util.function.ToLongFunction;

/** This process as /proc shows it: its threads by name, how often they wake, and its descriptors. */
public final class Tasks {
    private Tasks() {
    }

    /** Names of this process's threads. */
    public static List<String> names() throws IOException {
        return each(null, task -> Files.readString(task.resolve("comm")).trim());
    }

    /** Waits (up to 10 s) until no thread's name starts with the prefix. */
    public static void awaitGone(String prefix) throws Exception {
        awaitGone(prefix, 10_000);
    }

    /** Waits until no thread's name starts with {@code prefix}; fails after {@code millis}. */
    public static void awaitGone(String prefix, long millis) throws Exception {
        for (long deadline = System.nanoTime() + millis * 1_000_000L; names().stream().anyMatch(n -> n.startsWith(prefix));
                Thread.sleep(1)) {
            assertTrue(System.nanoTime() < deadline, "threads still running: " + names());
        }
    }

    /** Wake-ups (context switches) of the one thread of that name during {@code millis}, from when it sleeps. */
    public static long wakeupsDuring(String name, long millis) throws Exception {
        return during(name, millis, "status", status -> status.lines()
                .filter(l -> l.matches("(non)?voluntary_ctxt_switches:.*")).mapToLong(l -> Long.parseLong(l.replaceAll("\\D", "")))
                .sum());
    }

    /** Processor time (ms) of the one thread of that name during {@code millis}. */
    public static long cpuMillisDuring(String name, long millis) throws Exception {
        // After the name in parentheses, utime and stime are the 12th and 13th fields, in ticks of 10 ms.
        return during(name, millis, "stat", stat -> {
            String[] f = stat.substring(stat.lastIndexOf(')') + 2).split(" ");
            return (Long.parseLong(f[11]) + Long.parseLong(f[12])) * 10;
        });
    }

    /** Descriptor number to target, of every descriptor this process holds but the listing's own. */
    public static TreeMap<Integer, String> descriptors() throws IOException {
        SysLog.peek(); // the capture closes its end of connections the library's log closed
        TreeMap<Integer, String> fds = new TreeMap<>();
        try (DirectoryStream<Path> s = Files.newDirectoryStream(Paths.get("/proc/self/fd"))) {
            for (Path p : s) {
                try {
                    fds.put(Integer.parseInt(p.getFileName().toString()), Files.readSymbolicLink(p).toString());
                } catch (IOException gone) {
                    // closed while listed
                }
            }
        }
        fds.values().removeIf(t -> t.startsWith("/proc/"));
        return fds;
    }

    /**
     * No descriptor opened or closed between the snapshots, but for glibc's syslog connection
     * (two sockets of this process, with the capture's end), which a line logged after the
     * library closed the log opens again.
     */
    public static void assertSameDescriptors(Map<Integer, String> before, Map<Integer, String> after) {
        Map<Integer, String> b = new TreeMap<>(before);
        Map<Integer, String> a = new TreeMap<>(after);
        long sockets = b.values().stream().filter(t -> t.startsWith("socket:")).count()
                - a.values().stream().filter(t -> t.startsWith("socket:")).count();
        b.values().removeIf(t -> t.startsWith("socket:"));
        a.values().removeIf(t -> t.startsWith("socket:"));
        assertEquals(b, a);
        assertTrue(Math.abs(sockets) <= 2, "sockets changed by " + sockets + ": " + after);
    }

    /** The /proc directory of the one thread of that name; its file name is the thread's kernel id. */
    public static Path task(String name) throws IOException {
        List<Path> tasks = each(name, task -> task);
        assertEquals(1, tasks.size(), "threads named " + name);
        return tasks.get(0);
    }

    /** The /proc status of each thread of that name. */
    public static List<String> statusOf(String name) throws IOException {
        return each(name, task -> Files.readString(task.resolve("status")));
    }

    /** Waits until the one thread of that name sleeps in the kernel function that {@code wchan} begins. */
    public static void awaitSleepingIn(String name, String wchan) throws Exception {
        Path task = task(name);
        for (long deadline = System.nanoTime() + 20_000_000_000L; ; Thread.sleep(1)) {
            String in = Files.readString(task.resolve("wchan"));
            if (in.startsWith(wchan)) {
                return;
            }
            assertTrue(System.nanoTime() < deadline, name + " sleeps in " + in + ", not in " + wchan);
        }
    }

    private interface TaskFunction<T> {
        T apply(Path task) throws IOException;
    }

    /** What f finds of each thread (of that name, unless null); threads that end meanwhile are left out. */
    private static <T> List<T> each(String name, TaskFunction<T> f) throws IOException {
        List<T> found = new ArrayList<>();
        try (DirectoryStream<Path> tasks = Files.newDirectoryStream(Paths.get("/proc/self/task"))) {
            for (Path task : tasks) {
                try {
                    if (name == null || Files.readString(task.resolve("comm")).trim().equals(name)) {
                        found.add(f.apply(task));
                    }
                } catch (IOException ended) {
                    // ended while listed
                }
            }
        }
        return found;
    }

    /** A reading of the one thread of that name over {@code millis}, from when it sleeps (its going to sleep is no wake-up). */
    private static long during(String name, long millis, String file, ToLongFunction<String> reading) throws Exception {
        Path task = task(name);
        for (long deadline = System.nanoTime() + 10_000_000_000L; System.nanoTime() < deadline; Thread.sleep(1)) {
            String stat = Files.readString(task.resolve("stat"));
            if (stat.charAt(stat.lastIndexOf(')') + 2) == 'S') {
                break;
            }
        }
        long before = reading.applyAsLong(Files.readString(task.resolve(file)));
        Thread.sleep(millis);
        return reading.applyAsLong(Files.readString(task.resolve(file))) - before;
    }
}
