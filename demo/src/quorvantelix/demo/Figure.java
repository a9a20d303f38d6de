package quorvantelix.demo;

import java.util.ArrayList;
import java.util.List;

/**
 * The virtual pen's drawing: it comes into range, draws a five-pointed star in one stroke,
 * pressing hardest in the middle of each line, lifts, circles the star with a pressure that
 * grows all the way round, and leaves. Positions are in the tablet's own coordinates.
 */
final class Figure {
    private static final double STAR_RADIUS = 0.36;   // of the tablet's height
    private static final double CIRCLE_RADIUS = 0.45;

    private final int maxX;
    private final int maxY;
    private final double aspect;
    private final List<PenReport> reports = new ArrayList<>();

    private Figure(int maxX, int maxY) {
        this.maxX = maxX;
        this.maxY = maxY;
        aspect = (double) maxX / maxY;
    }

    /** The figure as about {@code count} reports, one per time step. */
    static List<PenReport> reports(int maxX, int maxY, int count) {
        Figure f = new Figure(maxX, maxY);
        f.draw(Math.max(count, 100));
        return f.reports;
    }

    private void draw(int count) {
        double[] star = starPoint(0);
        hover(0.08 * aspect, 0.1, star[0], star[1], (int) (0.08 * count));
        for (int side = 0; side < 5; side++) {
            double[] from = starPoint(side);
            double[] to = starPoint(side + 1);
            int steps = (int) (0.09 * count);
            for (int i = 0; i <= steps; i++) {
                double t = (double) i / steps;
                pen(PenReport.TIP, lerp(from[0], to[0], t), lerp(from[1], to[1], t), 0.15 + 0.8 * Math.sin(Math.PI * t));
            }
        }
        double[] circle = circlePoint(0);
        hover(star[0], star[1], circle[0], circle[1], (int) (0.05 * count));
        int steps = (int) (0.35 * count);
        for (int i = 0; i <= steps; i++) {
            double t = (double) i / steps;
            double[] p = circlePoint(t);
            pen(PenReport.TIP, p[0], p[1], 0.1 + 0.9 * t);
        }
        hover(circle[0], circle[1], aspect - 0.08 * aspect, 0.9, (int) (0.07 * count));
        reports.add(new PenReport(0, 0, 0, 0));   // out of range
    }

    /** Vertex k of the star, drawn as a pentagram: every second corner of a pentagon. */
    private double[] starPoint(int k) {
        double angle = -Math.PI / 2 + k * 4 * Math.PI / 5;
        return new double[] {aspect / 2 + STAR_RADIUS * Math.cos(angle), 0.5 + STAR_RADIUS * Math.sin(angle)};
    }

    private double[] circlePoint(double t) {
        double angle = -Math.PI / 2 + 2 * Math.PI * t;
        return new double[] {aspect / 2 + CIRCLE_RADIUS * Math.cos(angle), 0.5 + CIRCLE_RADIUS * Math.sin(angle)};
    }

    private void hover(double x0, double y0, double x1, double y1, int steps) {
        for (int i = 0; i <= steps; i++) {
            double t = (double) i / Math.max(steps, 1);
            pen(0, lerp(x0, x1, t), lerp(y0, y1, t), 0);
        }
    }

    /** A report at (x, y), given in units of the tablet's height. */
    private void pen(int tip, double x, double y, double pressure) {
        int dx = clamp((int) Math.round(x / aspect * maxX), maxX);
        int dy = clamp((int) Math.round(y * maxY), maxY);
        int dp = tip != 0 ? clamp((int) Math.round(pressure * PenReport.MAX_PRESSURE), PenReport.MAX_PRESSURE) : 0;
        reports.add(new PenReport(PenReport.IN_RANGE | tip, dx, dy, dp));
    }

    private static double lerp(double a, double b, double t) {
        return a + (b - a) * t;
    }

    private static int clamp(int v, int max) {
        return Math.max(0, Math.min(max, v));
    }
}
