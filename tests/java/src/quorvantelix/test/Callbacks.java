package quorvantelix.test;

import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.CountDownLatch;
import quorvantelix.dm.DeviceDiscoveryService;

/**
 * Records when the library's calls of DeviceDiscoveryService begin, for the suites to look at,
 * and plays a slow or failing application when asked to.
 */
public final class Callbacks implements DeviceDiscoveryService.Listener {
    private static final Kind hotPlug = new Kind();
    private static final Kind display = new Kind();

    static {
        DeviceDiscoveryService.setListener(new Callbacks());
    }

    /** The calls of one callback, and what the next one does. */
    private static final class Kind {
        final List<Long> calls = new ArrayList<>();
        int ended;
        volatile long nextDelay;
        volatile String nextFailure;
        volatile CountDownLatch nextHold;

        void call() {
            synchronized (calls) {
                calls.add(System.nanoTime());
                calls.notifyAll();
            }
            long delay = nextDelay;
            String failure = nextFailure;
            CountDownLatch hold = nextHold;
            nextDelay = 0;
            nextFailure = null;
            nextHold = null;
            try {
                Thread.sleep(delay);
                if (hold != null) {
                    hold.await();
                }
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
            synchronized (calls) {
                ended++;
            }
            if (failure != null) {
                throw new IllegalStateException(failure);
            }
        }

        boolean await(int count, long timeoutMillis) throws InterruptedException {
            long deadline = System.nanoTime() + timeoutMillis * 1_000_000L;
            synchronized (calls) {
                for (long left = timeoutMillis; calls.size() < count; left = (deadline - System.nanoTime()) / 1_000_000L) {
                    if (left <= 0) {
                        return false;
                    }
                    calls.wait(left);
                }
                return true;
            }
        }

        List<Long> list() {
            synchronized (calls) {
                return new ArrayList<>(calls);
            }
        }

        void reset() {
            nextDelay = 0;
            nextFailure = null;
            nextHold = null;
            synchronized (calls) {
                calls.clear();
                ended = 0;
            }
        }
    }

    @Override
    public void usbDevicesChanged() {
        hotPlug.call();
    }

    @Override
    public void displayChanged() {
        display.call();
    }

    /** Forgets the calls so far; also makes sure the recorder is listening. */
    public static void reset() {
        hotPlug.reset();
        display.reset();
    }

    /** Start times (System.nanoTime) of the calls so far. */
    public static List<Long> hotPlugCalls() {
        return hotPlug.list();
    }

    public static List<Long> displayCalls() {
        return display.list();
    }

    /** Waits until at least {@code count} calls have begun; false after the timeout. */
    public static boolean awaitHotPlugCalls(int count, long timeoutMillis) throws InterruptedException {
        return hotPlug.await(count, timeoutMillis);
    }

    public static boolean awaitDisplayCalls(int count, long timeoutMillis) throws InterruptedException {
        return display.await(count, timeoutMillis);
    }

    /** The next call takes that long (a slow application). */
    public static void delayNextHotPlugCall(long millis) {
        hotPlug.nextDelay = millis;
    }

    /** The next call waits until the latch returned is counted down (an application that blocks). */
    public static CountDownLatch holdNextHotPlugCall() {
        hotPlug.nextHold = new CountDownLatch(1);
        return hotPlug.nextHold;
    }

    /** How many calls have returned (or are about to throw). */
    public static int hotPlugCallsEnded() {
        synchronized (hotPlug.calls) {
            return hotPlug.ended;
        }
    }

    /** The next display call waits until the latch returned is counted down (an application that blocks). */
    public static CountDownLatch holdNextDisplayCall() {
        display.nextHold = new CountDownLatch(1);
        return display.nextHold;
    }

    /** The next display call throws an IllegalStateException with that message. */
    public static void failNextDisplayCall(String message) {
        display.nextFailure = message;
    }
}
