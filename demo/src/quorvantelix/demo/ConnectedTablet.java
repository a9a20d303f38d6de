package quorvantelix.demo;

import java.io.PrintStream;
import quorvantelix.dm.connections.usb.NativeUSB;

/**
 * One tablet the monitor connected: its native instance, its identity and the pen reports
 * taken from its queue. The live view prints a line when the pen touches, lifts, comes or
 * goes, and otherwise at most every PRINT_INTERVAL_MS while it moves.
 */
final class ConnectedTablet {
    private static final long PRINT_INTERVAL_MS = 150;

    final long handle;
    final TabletIdentity identity;
    final PenTrace trace;
    private final NativeUSB usb;
    private final PrintStream out;
    private long reports;
    private long otherReports;
    private String lastState = "away";
    private long lastPrinted;
    private PenReport unprinted;

    ConnectedTablet(NativeUSB usb, long handle, TabletIdentity identity, PrintStream out) {
        this.usb = usb;
        this.handle = handle;
        this.identity = identity;
        this.out = out;
        trace = new PenTrace(identity.maxX, identity.maxY);
    }

    /** Takes every report queued now; true if there was any. */
    boolean drain() {
        boolean any = false;
        for (byte[] bytes = usb.readNativeUsbState(handle); bytes != null; bytes = usb.readNativeUsbState(handle)) {
            any = true;
            PenReport r = PenReport.decode(bytes);
            if (r == null) {
                otherReports++;
                continue;
            }
            reports++;
            trace.add(r, identity.maxX, identity.maxY);
            show(r);
        }
        return any;
    }

    /** Prints the last position not yet shown. */
    void flush() {
        if (unprinted != null) {
            print(unprinted, stateOf(unprinted));
        }
    }

    String summary() {
        return String.format("%s: %d pen reports%s", identity.path, reports,
                otherReports > 0 ? ", " + otherReports + " other reports" : "");
    }

    long penReports() {
        return reports;
    }

    private void show(PenReport r) {
        String state = stateOf(r);
        long now = System.currentTimeMillis();
        if (!state.equals(lastState) || now - lastPrinted >= PRINT_INTERVAL_MS) {
            print(r, state);
        } else {
            unprinted = r;
        }
    }

    private void print(PenReport r, String state) {
        lastState = state;
        lastPrinted = System.currentTimeMillis();
        unprinted = null;
        out.printf("%s pen %-5s x %5d (%5.1f%%)  y %5d (%5.1f%%)  pressure %4d (%5.1f%%)%s%n", identity.path, state,
                r.x, 100 * r.scaledX(identity.maxX), r.y, 100 * r.scaledY(identity.maxY), r.pressure,
                100 * r.scaledPressure(), buttons(r));
    }

    private static String stateOf(PenReport r) {
        return r.tipDown() ? "down" : r.inRange() ? "hover" : "away";
    }

    private static String buttons(PenReport r) {
        return ((r.switches & PenReport.BARREL) != 0 ? "  barrel" : "")
                + ((r.switches & PenReport.ERASER) != 0 ? "  eraser" : "");
    }
}
