package quorvantelix.bench;

import java.nio.ByteBuffer;

/**
 * The benchmarks' native side (libNativeSupportBench.so, loaded from the system property
 * {@code nsbench.library}): the emulated tablets, the report feeder every reader shares,
 * the figure printing and the process readings. The JVM must run with umockdev's preload
 * library, and {@link #start()} must come before libNativeSupport.so initialises libusb.
 */
final class BenchRig {
    static {
        System.load(System.getProperty("nsbench.library"));
    }

    /** Starts the emulator; its threads are named "nsemu". */
    static native void start();

    /** The emulated tablets' report length (their interrupt IN packet size), unless told. */
    static final int REPORT_LENGTH = 64;

    /** An emulated pen tablet (0x078c:0x0600, {@link #REPORT_LENGTH}-byte reports) at bus/address. */
    static long plugTablet(int bus, int address) {
        return plugTablet(bus, address, REPORT_LENGTH);
    }

    /** The same tablet with reports of {@code packetSize} bytes (its wMaxPacketSize). */
    static native long plugTablet(int bus, int address, int packetSize);

    static native String path(long device);

    static native void unplugAll();

    static native boolean waitForPendingIn(long device, long timeoutMillis);

    /**
     * Waits until the host has taken every fed report, reaped every completed transfer and
     * has a new IN transfer pending.
     */
    static native boolean waitForAllTaken(long device, long timeoutMillis);

    /** The feeder reads how many reports were taken from the first 8 bytes of {@code taken}. */
    static native void attachFeeder(long device, ByteBuffer taken);

    static native boolean feedStream(long device, long count, long window);

    static native boolean feedPingPong(long device, long count);

    static native long fed(long device);

    /** Reports fed to the device that no IN transfer of the host has taken yet. */
    static native long queuedInput(long device);

    /** Feeds {@code count} plain reports of {@code length} bytes at once, for nobody in particular to take. */
    static native void feedUnread(long device, long count, int length);

    static native void figure(String key, double value, String unit, int decimals);

    static native void note(String text);

    static native void latencies(String prefix, long[] nanos, int count);

    /** (thread id, nanoseconds on a processor, context switches) for every thread. */
    static native long[] threadUsage();

    /** A native method shaped like readNativeUsbState that does nothing. */
    native byte[] emptyCall(long handle);

    /**
     * A native method shaped like readNativeUsbState that only makes a byte array of the
     * report length (64) and fills it from a native buffer: the floor of a poll that
     * carries a report.
     */
    native byte[] copyCall(long handle);

    /** The calling thread's kernel id, as {@link #threadUsage()} names it. */
    static native long threadId();

    /**
     * Feeds each device {@code count} stamped reports {@code intervalMicros} apart, the
     * devices' turns spread evenly over the interval; returns how many each was fed. With
     * {@code emptyBlock} not 0, the devices answer every poll with an empty packet while they
     * have no report in every other block of that many reports, from the second on.
     */
    static native long[] feedPaced(long[] devices, long count, long intervalMicros, long emptyBlock);

    /** hidapi's hid_enumerate of every HID device: how many interfaces it listed, or -1. */
    static native int hidEnumerate();
}
