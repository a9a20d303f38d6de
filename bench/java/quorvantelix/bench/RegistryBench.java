package quorvantelix.bench;

import java.util.ArrayList;
import java.util.List;
import quorvantelix.dm.connections.usb.NativeUSB;

/**
 * Whether a poll costs more when many instances are live: an empty poll (an instance
 * without a device) with that one instance live, and with 10,000 live, the rest created
 * for the round and destroyed after it. The polled instance is always the newest, which a
 * registry searched in order of creation meets last. Medians over rounds of the mean time
 * per call; each measurement polls for about 20 ms.
 */
final class RegistryBench {
    static final int INSTANCES = 10_000;
    private static final int ROUNDS = 5;
    private static final long WINDOW_NANOS = 20_000_000;
    private static final int BATCH = 1_000;

    private final NativeUSB usb;
    private final String name;
    private long sink;

    RegistryBench(NativeUSB usb, String name) {
        this.usb = usb;
        this.name = name;
    }

    boolean run() {
        long alone = usb.createNativeUsbInstance();
        for (int i = 0; i < 10; i++) {
            polls(alone);   // compiles the loop
        }
        usb.destroyNativeUsbInstance(alone);
        List<Double> one = new ArrayList<>();
        List<Double> many = new ArrayList<>();
        long[] others = new long[INSTANCES - 1];
        for (int r = 0; r < ROUNDS; r++) {
            long polled = usb.createNativeUsbInstance();
            one.add(polls(polled));
            usb.destroyNativeUsbInstance(polled);
            for (int i = 0; i < others.length; i++) {
                others[i] = usb.createNativeUsbInstance();
            }
            polled = usb.createNativeUsbInstance();
            many.add(polls(polled));
            usb.destroyNativeUsbInstance(polled);
            for (long h : others) {
                usb.destroyNativeUsbInstance(h);
            }
        }
        BenchRig.figure(name + ".registry_poll_1_ns", ReportPathBench.median(one), "ns", 1);
        BenchRig.figure(name + ".registry_poll_" + INSTANCES + "_ns", ReportPathBench.median(many), "ns", 1);
        return sink != 42;   // keeps the results alive
    }

    // ns per empty poll of `handle`, over batches until the window has passed.
    private double polls(long handle) {
        long calls = 0;
        long start = System.nanoTime();
        long elapsed;
        do {
            for (int i = 0; i < BATCH; i++) {
                if (usb.readNativeUsbState(handle) != null) {
                    sink++;
                }
            }
            calls += BATCH;
            elapsed = System.nanoTime() - start;
        } while (elapsed < WINDOW_NANOS);
        return elapsed / (double) calls;
    }
}
