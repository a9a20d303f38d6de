package quorvantelix.demo;

import java.awt.BasicStroke;
import java.awt.Color;
import java.awt.Graphics2D;
import java.awt.RenderingHints;
import java.awt.geom.Line2D;
import java.awt.image.BufferedImage;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import javax.imageio.ImageIO;

/**
 * Draws pen traces as a picture of the tablets' active areas: strokes where the tip was
 * down, wider and darker the harder the pen pressed; faint dots where it hovered.
 */
final class TraceImage {
    private static final int WIDTH = 800;
    private static final int MARGIN = 20;

    private TraceImage() {
    }

    /** Writes the traces, one area under the other, to file as a PNG. */
    static void save(List<PenTrace> traces, Path file) throws IOException {
        int[] heights = traces.stream().mapToInt(t -> (int) Math.round(WIDTH / t.aspect())).toArray();
        int total = MARGIN;
        for (int h : heights) {
            total += h + MARGIN;
        }
        BufferedImage image = new BufferedImage(WIDTH + 2 * MARGIN, Math.max(total, 2 * MARGIN),
                BufferedImage.TYPE_INT_RGB);
        Graphics2D g = image.createGraphics();
        try {
            g.setRenderingHint(RenderingHints.KEY_ANTIALIASING, RenderingHints.VALUE_ANTIALIAS_ON);
            g.setColor(new Color(0xf4f4f0));
            g.fillRect(0, 0, image.getWidth(), image.getHeight());
            int top = MARGIN;
            for (int i = 0; i < traces.size(); i++) {
                drawArea(g, traces.get(i).points(), top, heights[i]);
                top += heights[i] + MARGIN;
            }
        } finally {
            g.dispose();
        }
        Path dir = file.toAbsolutePath().getParent();
        if (dir != null) {
            Files.createDirectories(dir);
        }
        if (!ImageIO.write(image, "png", file.toFile())) {
            throw new IOException("no PNG writer in this JVM");
        }
    }

    private static void drawArea(Graphics2D g, List<PenTrace.Point> points, int top, int height) {
        g.setColor(Color.WHITE);
        g.fillRect(MARGIN, top, WIDTH, height);
        g.setColor(new Color(0xb0b0b0));
        g.setStroke(new BasicStroke(1));
        g.drawRect(MARGIN, top, WIDTH, height);
        PenTrace.Point previous = null;
        for (PenTrace.Point p : points) {
            double x = MARGIN + p.x * WIDTH;
            double y = top + p.y * height;
            if (p.tipDown && previous != null && previous.tipDown) {
                double pressure = (p.pressure + previous.pressure) / 2;
                g.setStroke(new BasicStroke((float) (1 + 9 * pressure), BasicStroke.CAP_ROUND, BasicStroke.JOIN_ROUND));
                g.setColor(inkFor(pressure));
                g.draw(new Line2D.Double(MARGIN + previous.x * WIDTH, top + previous.y * height, x, y));
            } else if (!p.tipDown) {
                g.setColor(new Color(0xc8d0e0));
                g.fillOval((int) x - 1, (int) y - 1, 3, 3);
            }
            previous = p;
        }
    }

    /** Light blue for a light touch to dark red for a firm one. */
    private static Color inkFor(double pressure) {
        double p = Math.max(0, Math.min(1, pressure));
        return new Color((int) (40 + 150 * p), (int) (120 - 100 * p), (int) (220 - 180 * p));
    }
}
