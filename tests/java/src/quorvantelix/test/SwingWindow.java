package quorvantelix.test;

import java.awt.Graphics;
import java.io.File;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.atomic.AtomicLong;
import javax.swing.*;
import quorvantelix.dm.connections.usb.NativeUSB;

/** A real Swing application's window: shown in a look and feel of choice, painting without end. */
public final class SwingWindow {
    public static final String GTK = "com.sun.java.swing.plaf.gtk.GTKLookAndFeel";
    public static final String METAL = "javax.swing.plaf.metal.MetalLookAndFeel";

    private final AtomicLong paints = new AtomicLong();
    private final JFrame frame = new JFrame("NativeSupport");

    private SwingWindow() {
        frame.add(new JPanel() {
            @Override
            protected void paintComponent(Graphics g) {
                super.paintComponent(g);
                paints.incrementAndGet();
            }
        });
        frame.setSize(320, 240);
        frame.setVisible(true);
        new Timer(20, e -> frame.repaint()).start();
    }

    /** Shows a window in that look and feel (GTK 3 comes into the JVM with the GTK look). */
    public static SwingWindow show(String lookAndFeel) throws Exception {
        SwingWindow[] shown = new SwingWindow[1];
        SwingUtilities.invokeAndWait(() -> {
            try {
                UIManager.setLookAndFeel(lookAndFeel);
            } catch (Exception e) {
                throw new IllegalStateException(lookAndFeel, e);
            }
            shown[0] = new SwingWindow();
        });
        return shown[0];
    }

    /** Waits until the window has painted {@code more} times from now; false after {@code millis}. */
    public boolean paints(int more, long millis) throws InterruptedException {
        long target = paints.get() + more;
        long deadline = System.nanoTime() + millis * 1_000_000L;
        while (paints.get() < target && System.nanoTime() < deadline) {
            Thread.sleep(10);
        }
        return paints.get() >= target;
    }

    public void close() throws Exception {
        SwingUtilities.invokeAndWait(frame::dispose);
    }

    /**
     * This application in a JVM of this one's ABI, all it prints going to {@code output}: it
     * subscribes, shows its window in that look and feel, prints "painting" and runs until AWT ends it.
     */
    public static Process startApplication(String lookAndFeel, File output) throws Exception {
        String emulator = System.getProperty("ns.emulator", "");
        List<String> command = new ArrayList<>(emulator.isEmpty() ? List.of() : List.of(emulator));
        command.add(Path.of(System.getProperty("java.home"), "bin", "java").toString());
        command.addAll(emulator.isEmpty() ? List.of() : List.of("-Xint", "-Djdk.lang.Process.launchMechanism=FORK"));
        command.addAll(List.of("-Djdk.gtk.version=3", "-Djava.library.path=" + System.getProperty("java.library.path"),
                "-cp", System.getProperty("java.class.path"), SwingWindow.class.getName(), lookAndFeel));
        return new ProcessBuilder(command).redirectErrorStream(true).redirectOutput(output).start();
    }

    public static void main(String[] args) throws Exception {
        new NativeUSB().subscribeUSBChangeEvents();
        if (show(args[0]).paints(1, 120_000)) {
            System.out.println("painting");
        }
        Thread.sleep(Long.MAX_VALUE);
    }
}
