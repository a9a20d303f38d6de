package quorvantelix.demo;

import java.io.IOException;
import java.io.PrintStream;
import java.util.List;
import java.util.Map;
import quorvantelix.dm.connections.usb.NativeUSB;

/**
 * The tablet monitor: shows the library at work. It connects the supported tablets, shows
 * each one's identity and live pen reports, prints hot-plug and display change events, and
 * can save the pen trace as a picture. With no tablet attached it runs against a virtual
 * tablet of the USB emulator that draws a star in a circle.
 */
public final class TabletMonitor {
    private final Options options;
    private final RunControl control;
    private final PrintStream out = System.out;

    private TabletMonitor(Options options, RunControl control) {
        this.options = options;
        this.control = control;
    }

    public static void main(String[] args) throws Exception {
        if (args.length == 1 && (args[0].equals("--help") || args[0].equals("-h"))) {
            System.out.println(Options.USAGE);
            return;
        }
        Options options;
        try {
            options = Options.parse(args);
        } catch (IllegalArgumentException e) {
            System.out.println("tablet-monitor: " + e.getMessage());
            System.out.println(Options.USAGE);
            System.exit(2);
            return;
        }
        RunControl control = new RunControl();
        control.install();
        int status;
        try {
            status = new TabletMonitor(options, control).run();
        } finally {
            control.finished();
        }
        System.exit(status);
    }

    private int run() throws Exception {
        if (VirtualTabletJvm.isThisOne()) {
            return watchVirtualTablet();
        }
        out.println("NativeSupport loaded into a " + System.getProperty("sun.arch.data.model") + "-bit JVM");
        if (!options.virtualOnly) {
            String attached = new NativeUSB().discoverUSBInputDevices();
            if (!attached.isEmpty() || options.realOnly) {
                out.println(attached.isEmpty() ? "No supported tablet is attached; waiting for one (--real-only)."
                        : "Attached supported tablets: " + attached.replace("|", ", "));
                return watchAttachedTablets();
            }
            out.println("No supported tablet is attached.");
        }
        out.println("Running against a virtual tablet (" + options.model + ", the tests' USB emulator) in a JVM with "
                + "umockdev's preload library; --real-only watches attached tablets only.");
        return VirtualTabletJvm.run(options.given, control);
    }

    private int watchAttachedTablets() throws Exception {
        Monitor monitor = new Monitor(out);
        Map<String, String> threadsBefore = LibraryThreads.snapshot();
        try {
            monitor.subscribe();
            monitor.refreshDevices();
            watch(monitor);
        } finally {
            monitor.close();
        }
        return finish(monitor, threadsBefore);
    }

    private int watchVirtualTablet() throws Exception {
        VirtualTablet.startEmulator();   // before the library first starts libusb
        Monitor monitor = new Monitor(out);
        try (UdevDatabase udev = UdevDatabase.prepare()) {
            Map<String, String> threadsBefore = LibraryThreads.snapshot();
            VirtualTablet tablet = null;
            FigureFeeder pen = null;
            try {
                monitor.subscribe();
                tablet = VirtualTablet.plug(options.model, udev);   // comes as a hot-plug event too
                out.println("Plugged the virtual tablet " + tablet.path());
                monitor.refreshDevices();
                if (monitor.connectedCount() > 0) {
                    pen = new FigureFeeder(tablet, drawMillis());
                    pen.start();
                    out.println("The virtual pen draws a star in a circle.");
                }
                watch(monitor);
            } finally {
                if (pen != null) {
                    pen.stop();
                }
                monitor.close();
                if (tablet != null) {
                    tablet.close();
                }
            }
            return finish(monitor, threadsBefore);
        }
    }

    /** The figure takes 60% of the run, from 1.5 to 6 s. */
    private long drawMillis() {
        return options.seconds == 0 ? 6000 : Math.min(6000, Math.max(1500, options.seconds * 600L));
    }

    private void watch(Monitor monitor) throws InterruptedException {
        if (control.stopRequested()) {
            return;
        }
        out.println(options.seconds == 0 ? "Watching until Ctrl-C ..."
                : "Watching for " + options.seconds + " s (Ctrl-C ends it sooner) ...");
        monitor.watch(options.seconds * 1000L, control.stop);
    }

    /** Saves the picture and checks that the library's threads ended; the exit status. */
    private int finish(Monitor monitor, Map<String, String> threadsBefore) throws InterruptedException {
        int status = 0;
        List<String> left = LibraryThreads.awaitEnded(threadsBefore, 5000);
        if (left.isEmpty()) {
            out.println("All library threads have ended.");
        } else {
            out.println("Library threads still running: " + left);
            status = 1;
        }
        if (options.png != null && !monitor.traces().isEmpty()) {
            try {
                TraceImage.save(monitor.traces(), options.png);
                out.println("Saved the pen trace to " + options.png.toAbsolutePath().normalize());
            } catch (IOException e) {
                out.println("Could not save the pen trace to " + options.png + ": " + e);
                status = 1;
            }
        }
        return status;
    }
}
