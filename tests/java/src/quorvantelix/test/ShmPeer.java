package quorvantelix.test;

import static java.lang.Integer.parseInt;
import static java.nio.charset.StandardCharsets.US_ASCII;

import java.io.*;
import java.lang.ProcessBuilder.Redirect;
import java.nio.ByteBuffer;
import java.nio.file.*;
import java.util.*;
import java.util.stream.Collectors;
import quorvantelix.dm.deviceapi.SharedMemoryNativeInterface;

/**
 * The second process of the shared memory suite: a JVM of its own that holds a segment
 * through the library, driven one command per line on standard input, each answered by
 * one line on standard output (empty for "attach" and "put"):
 *
 *   attach <key> <size>    connect and retrieve the buffer
 *   put <offset> <text>    write ASCII text into the buffer
 *   get <offset> <count>   answer with that many bytes of the buffer as ASCII text
 *   release                release the handle, answer whether that succeeded
 *
 * Anything that fails ends it. At its end it removes the segments of the suite's 64 keys
 * (from its argument on), so that they go even when the suite's JVM dies.
 */
public final class ShmPeer {
    public static void main(String[] args) throws Exception {
        SharedMemoryNativeInterface shm = new SharedMemoryNativeInterface();
        BufferedReader in = new BufferedReader(new InputStreamReader(System.in, US_ASCII));
        long handle = -1;
        ByteBuffer buffer = null;
        try {
            for (String line; (line = in.readLine()) != null;) {
                String[] word = line.split(" ", 3);
                String reply = "";
                switch (word[0]) {
                    case "attach" -> {
                        handle = shm.connectSharedMemoryMacLinux(parseInt(word[1]), parseInt(word[2]));
                        buffer = Objects.requireNonNull(shm.retrieveSharedMemoryDirectByteBuffer(handle), line);
                    }
                    case "put" -> buffer.put(parseInt(word[1]), word[2].getBytes(US_ASCII));
                    case "get" -> reply = US_ASCII.decode(buffer.slice(parseInt(word[1]), parseInt(word[2])))
                            .toString();
                    case "release" -> reply = Boolean.toString(shm.releaseSharedMemory(handle));
                    default -> throw new IllegalArgumentException(line);
                }
                System.out.println(reply);
            }
        } finally {
            removeSegments(parseInt(args[0]), 64);
        }
    }

    /** Starts a peer of this JVM's ABI and library path for the 64 keys from firstKey on. */
    public static Process start(int firstKey) throws Exception {
        return start(Path.of(System.getProperty("java.home"), "bin", "java").toString(),
                System.getProperty("ns.emulator", ""), System.getProperty("java.library.path"), firstKey);
    }

    /**
     * Starts a peer in the JVM {@code java} (run by {@code emulator} where that is not empty)
     * that loads the library from {@code libraryPath}, for the 64 keys from firstKey on.
     */
    public static Process start(String java, String emulator, String libraryPath, int firstKey) throws Exception {
        // Emulated, the JVM needs its interpreter and cannot run the JDK's spawn helper.
        List<String> command = new ArrayList<>(emulator.isEmpty() ? List.of(java)
                : List.of(emulator, java, "-Xint", "-Djdk.lang.Process.launchMechanism=FORK"));
        command.addAll(List.of("-Djava.library.path=" + libraryPath, "-cp",
                Path.of(ShmPeer.class.getProtectionDomain().getCodeSource().getLocation().toURI()).toString(),
                ShmPeer.class.getName(), Integer.toString(firstKey)));
        ProcessBuilder peer = new ProcessBuilder(command).redirectError(Redirect.INHERIT);
        // A plain process: without the USB emulator's testbed, whatever this JVM runs with.
        peer.environment().remove("UMOCKDEV_DIR");
        peer.environment().computeIfPresent("LD_PRELOAD", (name, value) -> String.join(":",
                Arrays.stream(value.split(":")).filter(lib -> !lib.contains("umockdev")).toArray(String[]::new)));
        return peer.start();
    }

    /** Sends one command to a peer and returns its answer. */
    public static String send(Process peer, String command) throws IOException {
        synchronized (peer) {
            peer.outputWriter(US_ASCII).append(command).append('\n').flush();
            return Objects.requireNonNull(peer.inputReader(US_ASCII).readLine(), "the peer ended at: " + command);
        }
    }

    /** The segments of the {@code count} keys from firstKey on, by key: "mode size attachments" (mode in octal). */
    public static Map<Integer, String> segments(int firstKey, int count) throws Exception {
        return Files.readAllLines(Path.of("/proc/sysvipc/shm")).stream().skip(1).map(line -> line.trim().split("\\s+"))
                .filter(field -> Integer.compareUnsigned(parseInt(field[0]) - firstKey, count) < 0)
                .collect(Collectors.toMap(field -> parseInt(field[0]),
                        field -> String.join(" ", field[2], field[3], field[6])));
    }

    /** Removes the segments of the {@code count} keys from firstKey on (ipcrm); false when that failed. */
    public static boolean removeSegments(int firstKey, int count) throws Exception {
        List<String> command = new ArrayList<>(List.of("ipcrm"));
        segments(firstKey, count).keySet().forEach(key -> command.addAll(List.of("-M", key.toString())));
        return command.size() == 1
                || new ProcessBuilder(command).redirectError(Redirect.INHERIT).start().waitFor() == 0;
    }
}
