package quorvantelix.demo;

import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

/**
 * Ends a run early and cleanly: on Ctrl-C (or any other end of the JVM) the shutdown hook
 * asks the main thread to stop and waits for it to have let go of the library.
 */
final class RunControl {
    private static final long CLEAN_UP_MS = 30_000;

    /** Counted down when the run is to stop early. */
    final CountDownLatch stop = new CountDownLatch(1);
    private final CountDownLatch finished = new CountDownLatch(1);

    void install() {
        Runtime.getRuntime().addShutdownHook(new Thread(this::onShutdown, "monitor shutdown"));
    }

    boolean stopRequested() {
        return stop.getCount() == 0;
    }

    /** The main thread has cleaned up; the JVM may end. */
    void finished() {
        finished.countDown();
    }

    private void onShutdown() {
        if (finished.getCount() == 0) {
            return;
        }
        System.out.println("Stopping ...");
        stop.countDown();
        try {
            finished.await(CLEAN_UP_MS, TimeUnit.MILLISECONDS);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }
}
