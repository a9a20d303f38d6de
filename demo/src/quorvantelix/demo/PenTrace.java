package quorvantelix.demo;

import java.util.ArrayList;
import java.util.List;

/** The pen positions a tablet reported, scaled to 0..1 by its range, in arrival order. */
final class PenTrace {
    /** One reported position. */
    static final class Point {
        final double x;
        final double y;
        final double pressure;
        final boolean tipDown;

        Point(double x, double y, double pressure, boolean tipDown) {
            this.x = x;
            this.y = y;
            this.pressure = pressure;
            this.tipDown = tipDown;
        }
    }

    private final List<Point> points = new ArrayList<>();
    private final double aspect;

    /** aspect: the tablet's width over its height, as its ranges give it. */
    PenTrace(int maxX, int maxY) {
        aspect = maxX > 0 && maxY > 0 ? (double) maxX / maxY : 1.6;
    }

    synchronized void add(PenReport r, int maxX, int maxY) {
        if (r.inRange() || r.tipDown()) {
            points.add(new Point(r.scaledX(maxX), r.scaledY(maxY), r.scaledPressure(), r.tipDown()));
        }
    }

    synchronized List<Point> points() {
        return new ArrayList<>(points);
    }

    double aspect() {
        return aspect;
    }
}
