package quorvantelix.bench;

import java.util.ArrayList;
import java.util.List;
import quorvantelix.dm.connections.usb.NativeUSB;

/**
 * discoverUSBInputDevices with 1, 10 and 50 emulated tablets beside hidapi's hid_enumerate
 * of the same tablets in the same process, the two taking turns call by call: the median
 * and the slowest of a few calls each.
 */
final class DiscoveryBench {
    private static final int[] COUNTS = {1, 10, 50};
    private static final int CALLS = 15;

    private final NativeUSB usb;

    DiscoveryBench(NativeUSB usb) {
        this.usb = usb;
    }

    boolean run() {
        BenchRig.unplugAll();
        int plugged = 0;
        for (int count : COUNTS) {
            while (plugged < count) {
                BenchRig.plugTablet(3, 2 + plugged);
                plugged++;
            }
            usb.discoverUSBInputDevices();   // warm-up
            BenchRig.hidEnumerate();
            List<Double> library = new ArrayList<>();
            List<Double> hidapi = new ArrayList<>();
            String listed = "";
            int enumerated = 0;
            for (int i = 0; i < CALLS; i++) {
                long start = System.nanoTime();
                listed = usb.discoverUSBInputDevices();
                library.add((System.nanoTime() - start) / 1e6);
                start = System.nanoTime();
                enumerated = BenchRig.hidEnumerate();
                hidapi.add((System.nanoTime() - start) / 1e6);
            }
            int found = listed.isEmpty() ? 0 : listed.split("\\|").length;
            if (found != count || enumerated != count) {
                BenchRig.note("discovery: the library listed " + found + " and hidapi " + enumerated + " of "
                        + count + " devices");
                return false;
            }
            figures("discovery." + count + "_devices", library);
            figures("hidapi.discovery_" + count + "_devices", hidapi);
        }
        BenchRig.unplugAll();
        return true;
    }

    private static void figures(String prefix, List<Double> times) {
        BenchRig.figure(prefix + "_median_ms", ReportPathBench.median(times), "ms", 2);
        BenchRig.figure(prefix + "_max_ms", times.stream().max(Double::compare).get(), "ms", 2);
    }
}
