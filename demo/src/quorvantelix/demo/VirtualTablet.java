package quorvantelix.demo;

import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import quorvantelix.emulator.UsbEmulator;

/**
 * A pen tablet of the USB emulator (emulator/): libusb inside the library
 * finds, opens and reads it as if it were plugged in. The JVM runs with umockdev's preload
 * library and starts the emulator before the library first starts libusb.
 */
final class VirtualTablet implements AutoCloseable {
    static final String DEFAULT_MODEL = "tablet-08ca";
    private static final int BUS = 1;
    private static final int ADDRESS = 2;
    /** The emulator's models the monitor offers, with the X and Y range each reports. */
    private static final Map<String, int[]> RANGES = new LinkedHashMap<>();

    static {
        RANGES.put("tablet-08ca", new int[] {31999, 19999});   // told by its start-up answers
        RANGES.put("tablet-172f", new int[] {31999, 19999});
        RANGES.put("tablet-078c", new int[] {10000, 6250});    // its report descriptor's
        RANGES.put("tablet-5543", new int[] {20000, 12500});   // twice the report descriptor's
    }

    final String model;
    final int maxX;
    final int maxY;
    private final UdevDatabase udev;
    private final long device;
    private final String entry;

    private VirtualTablet(String model, UdevDatabase udev) {
        this.model = model;
        this.udev = udev;
        maxX = RANGES.get(model)[0];
        maxY = RANGES.get(model)[1];
        device = UsbEmulator.plugModel(model, BUS, ADDRESS);
        // the entry the udev daemon keeps for a USB device node: c<major>:<minor>
        entry = "c189:" + ((BUS - 1) * 128 + ADDRESS - 1);
        udev.announce(entry);
    }

    static List<String> modelNames() {
        return new ArrayList<>(RANGES.keySet());
    }

    /** Starts the emulator; call before anything in this JVM starts libusb. */
    static void startEmulator() {
        UsbEmulator.start();
    }

    /** Plugs a tablet of the model and announces it in the udev database. */
    static VirtualTablet plug(String model, UdevDatabase udev) {
        return new VirtualTablet(model, udev);
    }

    String path() {
        return UsbEmulator.path(device);
    }

    void feed(PenReport r) {
        UsbEmulator.feedInput(device, r.encode());
    }

    /** Unplugs the tablet and takes back its announcement. */
    @Override
    public void close() {
        UsbEmulator.unplug(device);
        udev.withdraw(entry);
    }
}
