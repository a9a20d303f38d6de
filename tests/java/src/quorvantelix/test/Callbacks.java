package quorvantelix.test;

import java.util.ArrayList;
import java.util.List;
import quorvantelix.dm.DeviceDiscoveryService;

/** Records when the library's calls of DeviceDiscoveryService came, for the suites to look at. */
public final class Callbacks implements DeviceDiscoveryService.Listener {
    private static final List<Long> hotPlugCalls = new ArrayList<>();
    private static final List<Long> displayCalls = new ArrayList<>();
    private static volatile long nextHotPlugDelay;
    private static volatile long nextDisplayDelay;
    private static volatile String nextDisplayFailure;

    static {
        DeviceDiscoveryService.setListener(new Callbacks());
    }

    private Callbacks() {
    }

    @Override
    public void usbDevicesChanged() {
        record(hotPlugCalls);
        long delay = nextHotPlugDelay;
        nextHotPlugDelay = 0;
        sleep(delay);
    }

    /** The next hot-plug call takes that long (a slow application); calls are recorded as they start. */
    public static void delayNextHotPlugCall(long millis) {
        nextHotPlugDelay = millis;
    }

    @Override
    public void displayChanged() {
        record(displayCalls);
        long delay = nextDisplayDelay;
        nextDisplayDelay = 0;
        sleep(delay);
        String failure = nextDisplayFailure;
        nextDisplayFailure = null;
        if (failure != null) {
            throw new IllegalStateException(failure);
        }
    }

    /** The next display call takes that long. */
    public static void delayNextDisplayCall(long millis) {
        nextDisplayDelay = millis;
    }

    /** The next display call throws an IllegalStateException with that message. */
    public static void failNextDisplayCall(String message) {
        nextDisplayFailure = message;
    }

    private static void sleep(long millis) {
        if (millis > 0) {
            try {
                Thread.sleep(millis);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
        }
    }

    private static void record(List<Long> calls) {
        synchronized (calls) {
            calls.add(System.nanoTime());
            calls.notifyAll();
        }
    }

    public static List<Long> hotPlugCalls() {
        return copy(hotPlugCalls);
    }

    public static List<Long> displayCalls() {
        return copy(displayCalls);
    }

    /** Forgets the calls so far; also makes sure the recorder is listening. */
    public static void reset() {
        nextHotPlugDelay = 0;
        nextDisplayDelay = 0;
        nextDisplayFailure = null;
        synchronized (hotPlugCalls) {
            hotPlugCalls.clear();
        }
        synchronized (displayCalls) {
            displayCalls.clear();
        }
    }

    /** Waits until at least {@code count} hot-plug calls have come; false after the timeout. */
    public static boolean awaitHotPlugCalls(int count, long timeoutMillis) throws InterruptedException {
        return await(hotPlugCalls, count, timeoutMillis);
    }

    public static boolean awaitDisplayCalls(int count, long timeoutMillis) throws InterruptedException {
        return await(displayCalls, count, timeoutMillis);
    }

    private static List<Long> copy(List<Long> calls) {
        synchronized (calls) {
            return new ArrayList<>(calls);
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
