package quorvantelix.test;

import java.awt.Color;
import java.awt.Graphics;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.atomic.AtomicLong;
import javax.swing.JComponent;
import javax.swing.JFrame;
import javax.swing.SwingUtilities;
import javax.swing.Timer;
import javax.swing.UIManager;
import quorvantelix.dm.connections.usb.NativeUSB;

/** A real Swing application's window: shown in a look and feel of choice, painting without end. */
public final class SwingWindow {
    public static final String GTK = "com.sun.java.swing.plaf.gtk.GTKLookAndFeel";
    public static final String METAL = "javax.swing.plaf.metal.MetalLookAndFeel";

    private final AtomicLong paints = new AtomicLong();
    private JFrame frame;

    /** Shows a window in that look and feel (GTK 3 comes into the JVM with the GTK look). */
    public static SwingWindow show(String lookAndFeel) throws Exception {
        SwingWindow window = new SwingWindow();
        SwingUtilities.invokeAndWait(() -> {
            try {
                UIManager.setLookAndFeel(lookAndFeel);
            } catch (Exception e) {
                throw new IllegalStateException(lookAndFeel, e);
            }
            window.frame = new JFrame("NativeSupport");
            window.frame.add(new JComponent() {
                @Override
                protected void paintComponent(Graphics g) {
                    g.setColor(new Color((int) window.paints.incrementAndGet()));
                    g.fillRect(0, 0, getWidth(), getHeight());
                }
            });
            window.frame.setSize(320, 240);
            window.frame.setVisible(true);
            new Timer(20, e -> window.frame.repaint()).start();
        });
        return window;
    }

    /** Waits until the window has painted {@code more} times from now; false after {@code millis}. */
    public boolean paints(int more, long millis) throws InterruptedException {
        long target = paints.get() + more;
        for (long deadline = System.nanoTime() + millis * 1_000_000L; paints.get() < target; Thread.sleep(10)) {
            if (System.nanoTime() > deadline) {
                return false;
            }
        }
        return true;
    }

    public void close() throws Exception {
        SwingUtilities.invokeAndWait(frame::dispose);
    }

    /**
     * This application in a JVM of its own, the JVM of this one's ABI: it subscribes, shows
     * its window in that look and feel, prints "painting" and runs until AWT ends it.
     */
    public static Process startApplication(String lookAndFeel) throws Exception {
        String java = Path.of(System.getProperty("java.home"), "bin", "java").toString();
        String emulator = System.getProperty("ns.emulator", "");
        List<String> command = new ArrayList<>(emulator.isEmpty() ? List.of(java)
                : List.of(emulator, java, "-Xint", "-Djdk.lang.Process.launchMechanism=FORK"));
        command.addAll(List.of("-Djdk.gtk.version=3", "-Djava.library.path=" + System.getProperty("java.library.path"),
                "-cp", System.getProperty("java.class.path"), SwingWindow.class.getName(), lookAndFeel));
        return new ProcessBuilder(command).redirectErrorStream(true).start();
    }

    public static void main(String[] args) throws Exception {
        new NativeUSB().subscribeUSBChangeEvents();
        if (show(args[0]).paints(1, 120_000)) {
            System.out.println("painting");
        }
        Thread.sleep(Long.MAX_VALUE);
    }
}
