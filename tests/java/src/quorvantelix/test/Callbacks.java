package quorvantelix.test;

import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.CountDownLatch;
import quorvantelix.dm.DeviceDiscoveryService;

/**
 * Records when the library's calls of DeviceDiscoveryService begin, for the suites to look at,
 * and plays an application that blocks or fails when asked to.
 */
public final class Callbacks implements DeviceDiscoveryService.Listener {
    /** The calls of handleUSBHotPlugEvent, and of handleDisplayChangedEvent. */
    public static final Kind HOT_PLUG = new Kind();
    public static final Kind DISPLAY = new Kind();

    static {
        DeviceDiscoveryService.setListener(new Callbacks());
    }

    /** The calls of one callback, and what the next one does. */
    public static final class Kind {
        private final List<Long> calls = new ArrayList<>();
        private volatile String nextFailure;
        private volatile CountDownLatch nextHold;

        private void call() {
            synchronized (calls) {
                calls.add(System.nanoTime());
                calls.notifyAll();
            }
            CountDownLatch hold = nextHold;
            String failure = nextFailure;
            nextHold = null;
            nextFailure = null;
            try {
                if (hold != null) {
                    hold.await();
                }
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
            if (failure != null) {
                throw new IllegalStateException(failure);
            }
        }

        /** Waits until at least {@code count} calls have begun; false after the timeout. */
        public boolean await(int count, long timeoutMillis) throws InterruptedException {
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

        /** Start times (System.nanoTime) of the calls so far. */
        public List<Long> calls() {
            synchronized (calls) {
                return new ArrayList<>(calls);
            }
        }

        /** The next call waits until the latch returned is counted down (an application that blocks). */
        public CountDownLatch holdNext() {
            nextHold = new CountDownLatch(1);
            return nextHold;
        }

        /** The next call throws an IllegalStateException with that message. */
        public void failNext(String message) {
            nextFailure = message;
        }

        private void reset() {
            nextFailure = null;
            nextHold = null;
            synchronized (calls) {
                calls.clear();
            }
        }
    }

    @Override
    public void usbDevicesChanged() {
        HOT_PLUG.call();
    }

    @Override
    public void displayChanged() {
        DISPLAY.call();
    }

    /** Forgets the calls so far. */
    public static void reset() {
        HOT_PLUG.reset();
        DISPLAY.reset();
    }
}
