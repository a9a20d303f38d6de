package quorvantelix.bench;

import java.util.ArrayList;
import java.util.List;
import quorvantelix.dm.connections.usb.NativeUSB;

/** discoverUSBInputDevices with 1, 10 and 50 emulated tablets: median and slowest of a few calls. */
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
            List<Double> times = new ArrayList<>();
            String listed = "";
            for (int i = 0; i < CALLS; i++) {
                long start = System.nanoTime();
                listed = usb.discoverUSBInputDevices();
                times.add((System.nanoTime() - start) / 1e6);
            }
            int found = listed.isEmpty() ? 0 : listed.split("\\|").length;
            if (found != count) {
                BenchRig.note("discovery: listed " + found + " of " + count + " devices");
                return false;
            }
            BenchRig.figure("discovery." + count + "_devices_median_ms", ReportPathBench.median(times), "ms", 2);
            BenchRig.figure("discovery." + count + "_devices_max_ms", times.stream().max(Double::compare).get(), "ms", 2);
        }
        BenchRig.unplugAll();
        return true;
    }
}
