package quorvantelix.dm;

import java.util.ArrayList;
import java.util.List;

/**
 * Stand-in for the device manager's DeviceDiscoveryService: the library calls its two
 * static methods. This one records when each call came, for the tests to look at.
 */
public class DeviceDiscoveryService {
    private static final List<Long> hotPlugCalls = new ArrayList<>();
    private static final List<Long> displayCalls = new ArrayList<>();

    public static void handleUSBHotPlugEvent() {
        synchronized (hotPlugCalls) {
            hotPlugCalls.add(System.nanoTime());
            hotPlugCalls.notifyAll();
        }
    }

    public static void handleDisplayChangedEvent() {
        synchronized (displayCalls) {
            displayCalls.add(System.nanoTime());
            displayCalls.notifyAll();
        }
    }

    public static List<Long> hotPlugCalls() {
        synchronized (hotPlugCalls) {
            return new ArrayList<>(hotPlugCalls);
        }
    }

    public static List<Long> displayCalls() {
        synchronized (displayCalls) {
            return new ArrayList<>(displayCalls);
        }
    }

    /** Waits until at least {@code count} hot-plug calls have come; false after the timeout. */
    public static boolean awaitHotPlugCalls(int count, long timeoutMillis) throws InterruptedException {
        return await(hotPlugCalls, count, timeoutMillis);
    }

    public static boolean awaitDisplayCalls(int count, long timeoutMillis) throws InterruptedException {
        return await(displayCalls, count, timeoutMillis);
    }

    public static void reset() {
        synchronized (hotPlugCalls) {
            hotPlugCalls.clear();
        }
        synchronized (displayCalls) {
            displayCalls.clear();
        }
    }

    private static boolean await(List<Long> calls, int count, long timeoutMillis) throws InterruptedException {
        long deadline = System.nanoTime() + timeoutMillis * 1_000_000L;
        synchronized (calls) {
            while (calls.size() < count) {
                long left = (deadline - System.nanoTime()) / 1_000_000L;
                if (left <= 0) {
                    return false;
                }
                calls.wait(left);
            }
            return true;
        }
    }
}
