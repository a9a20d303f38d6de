package quorvantelix.demo;

import java.util.List;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.locks.LockSupport;

/** A thread that moves the virtual pen: it feeds the figure's reports, one every STEP_MS. */
final class FigureFeeder {
    static final long STEP_MS = 5;

    private final VirtualTablet tablet;
    private final List<PenReport> reports;
    private final Thread thread;
    private volatile boolean stopped;

    /** Draws the figure in about drawMillis. */
    FigureFeeder(VirtualTablet tablet, long drawMillis) {
        this.tablet = tablet;
        reports = Figure.reports(tablet.maxX, tablet.maxY, (int) (drawMillis / STEP_MS));
        thread = new Thread(this::run, "virtual pen");
    }

    void start() {
        thread.start();
    }

    /** Stops the pen where it is and waits for the thread to end. */
    void stop() throws InterruptedException {
        stopped = true;
        LockSupport.unpark(thread);
        thread.join();
    }

    private void run() {
        long next = System.nanoTime();
        for (PenReport r : reports) {
            if (stopped) {
                return;
            }
            tablet.feed(r);
            next += TimeUnit.MILLISECONDS.toNanos(STEP_MS);
            for (long wait = next - System.nanoTime(); wait > 0 && !stopped; wait = next - System.nanoTime()) {
                LockSupport.parkNanos(wait);
            }
        }
    }
}
