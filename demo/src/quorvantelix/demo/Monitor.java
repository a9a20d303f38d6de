package quorvantelix.demo;

import java.io.PrintStream;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Iterator;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicBoolean;
import quorvantelix.dm.DeviceDiscoveryService;
import quorvantelix.dm.connections.usb.NativeUSB;

/**
 * Uses the library the way the device manager does: subscribe to change events, discover the
 * supported tablets, connect each, poll their report queues, discover again when USB devices
 * come or go, and at the end destroy every instance before unsubscribing.
 */
final class Monitor implements DeviceDiscoveryService.Listener {
    private static final long POLL_MS = 4;

    private final NativeUSB usb = new NativeUSB();
    private final PrintStream out;
    private final Map<String, ConnectedTablet> tablets = new LinkedHashMap<>();
    private final List<PenTrace> traces = new ArrayList<>();
    private final AtomicBoolean devicesChanged = new AtomicBoolean();
    private final long started = System.nanoTime();
    private boolean subscribed;

    Monitor(PrintStream out) {
        this.out = out;
    }

    void subscribe() {
        DeviceDiscoveryService.setListener(this);
        usb.subscribeUSBChangeEvents();
        subscribed = true;
        out.println("Subscribed to USB hot-plug and display change events.");
    }

    /** Discovers the supported tablets, connects the new ones and lets go of those gone. */
    void refreshDevices() {
        String found = usb.discoverUSBInputDevices();
        List<String> paths = found.isEmpty() ? List.of() : Arrays.asList(found.split("\\|"));
        out.println("Discovered: " + (paths.isEmpty() ? "no supported tablet" : String.join(", ", paths)));
        for (Iterator<ConnectedTablet> i = tablets.values().iterator(); i.hasNext();) {
            ConnectedTablet t = i.next();
            if (!paths.contains(t.identity.path)) {
                out.println("Gone: " + t.identity.path);
                destroy(t);
                i.remove();
            }
        }
        for (String path : paths) {
            if (!tablets.containsKey(path)) {
                connect(path);
            }
        }
    }

    int connectedCount() {
        return tablets.size();
    }

    /** Polls the tablets until the time is up or stop is counted down; 0 ms: until stop. */
    void watch(long millis, CountDownLatch stop) throws InterruptedException {
        long deadline = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(millis);
        while (stop.getCount() > 0 && (millis == 0 || System.nanoTime() < deadline)) {
            if (devicesChanged.getAndSet(false)) {
                refreshDevices();
            }
            boolean any = false;
            for (ConnectedTablet t : tablets.values()) {
                any |= t.drain();
            }
            if (!any) {
                stop.await(POLL_MS, TimeUnit.MILLISECONDS);
            }
        }
    }

    /** Destroys every instance, then unsubscribes. */
    void close() {
        for (ConnectedTablet t : tablets.values()) {
            destroy(t);
        }
        tablets.clear();
        if (subscribed) {
            usb.unsubscribeUSBChangeEvents();
            subscribed = false;
            out.println("Unsubscribed.");
        }
        DeviceDiscoveryService.setListener(null);
    }

    /** The traces of every tablet connected during the run. */
    List<PenTrace> traces() {
        return traces;
    }

    @Override
    public void usbDevicesChanged() {
        out.printf("[%6.2f s] event: USB devices came or went%n", elapsedSeconds());
        devicesChanged.set(true);
    }

    @Override
    public void displayChanged() {
        out.printf("[%6.2f s] event: the screen size changed%n", elapsedSeconds());
    }

    private void connect(String path) {
        long handle = usb.createNativeUsbInstance();
        if (handle == 0) {
            out.println("Could not create a native instance for " + path);
            return;
        }
        out.println("Connecting " + path + " ...");
        if (!usb.connectNativeUsb(handle, path)) {
            usb.destroyNativeUsbInstance(handle);
            out.println("Could not connect " + path + " (in use, gone, or a firmware-update device of another maker)");
            return;
        }
        TabletIdentity identity = TabletIdentity.read(usb, handle, path);
        out.println("Connected " + path);
        out.println(identity.describe());
        ConnectedTablet t = new ConnectedTablet(usb, handle, identity, out);
        tablets.put(path, t);
        traces.add(t.trace);
    }

    private void destroy(ConnectedTablet t) {
        t.drain();
        t.flush();
        usb.destroyNativeUsbInstance(t.handle);
        out.println("Disconnected " + t.summary());
    }

    private double elapsedSeconds() {
        return (System.nanoTime() - started) / 1e9;
    }
}
