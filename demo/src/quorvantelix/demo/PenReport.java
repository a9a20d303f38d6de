package quorvantelix.demo;

/**
 * One pen report as the supported tablets send it (report id 2): a byte of switches (tip,
 * barrel, eraser, invert, in range), then X, Y and tip pressure as 16-bit little-endian
 * numbers. Positions are scaled by the coordinate range the library reports for the device;
 * the library reports no pressure range, and these tablets declare 8191 levels.
 */
final class PenReport {
    static final int REPORT_ID = 2;
    static final int MAX_PRESSURE = 8191;
    static final int TIP = 0x01;
    static final int BARREL = 0x02;
    static final int ERASER = 0x04;
    static final int IN_RANGE = 0x10;

    final int switches;
    final int x;
    final int y;
    final int pressure;

    PenReport(int switches, int x, int y, int pressure) {
        this.switches = switches;
        this.x = x;
        this.y = y;
        this.pressure = pressure;
    }

    /** The pen report in bytes, or null when they are not one. */
    static PenReport decode(byte[] report) {
        if (report == null || report.length < 8 || report[0] != REPORT_ID) {
            return null;
        }
        return new PenReport(report[1] & 0xff, u16(report, 2), u16(report, 4), u16(report, 6));
    }

    /** The 8 bytes of this report. */
    byte[] encode() {
        return new byte[] {REPORT_ID, (byte) switches, (byte) x, (byte) (x >> 8), (byte) y, (byte) (y >> 8),
                (byte) pressure, (byte) (pressure >> 8)};
    }

    boolean tipDown() {
        return (switches & TIP) != 0;
    }

    boolean inRange() {
        return (switches & IN_RANGE) != 0;
    }

    /** X as a fraction of the device's range 0..maxX. */
    double scaledX(int maxX) {
        return maxX > 0 ? (double) x / maxX : 0;
    }

    double scaledY(int maxY) {
        return maxY > 0 ? (double) y / maxY : 0;
    }

    double scaledPressure() {
        return Math.min(1.0, (double) pressure / MAX_PRESSURE);
    }

    private static int u16(byte[] b, int at) {
        return (b[at] & 0xff) | (b[at + 1] & 0xff) << 8;
    }
}
