package quorvantelix.bench;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Paths;
import quorvantelix.dm.connections.usb.NativeUSB;

/**
 * A tablet whose Java side never polls: 64 MiB of 1 KiB reports go through the library's
 * read thread into its queue, and the process's resident set grows by what the library
 * keeps of them (backlog.growth_mib). The reports are fed a mebibyte at a time, each once
 * the host took the one before, so that the emulated device never holds more than that.
 * Then Java takes what was kept (backlog.kept_reports).
 */
final class BacklogBench {
    private static final int REPORT_BYTES = 1024;
    private static final int FED_MIB = 64;
    private static final int CHUNK = (1 << 20) / REPORT_BYTES;

    private final NativeUSB usb;

    BacklogBench(NativeUSB usb) {
        this.usb = usb;
    }

    boolean run() throws IOException {
        long device = BenchRig.plugTablet(7, 2, REPORT_BYTES);
        long handle = usb.createNativeUsbInstance();
        try {
            if (!usb.connectNativeUsb(handle, BenchRig.path(device)) || !BenchRig.waitForPendingIn(device, 20_000)) {
                return fail("cannot connect the emulated tablet");
            }
            // A first mebibyte taken by Java sets the path up; its allocations are not the backlog's.
            if (!feed(device, 1)) {
                return fail("the host did not take the reports");
            }
            while (usb.readNativeUsbState(handle) != null) {
                // start from an empty queue
            }
            long before = residentBytes();
            if (!feed(device, FED_MIB)) {
                return fail("the host did not take the reports");
            }
            long growth = residentBytes() - before;
            int kept = 0;
            while (usb.readNativeUsbState(handle) != null) {
                kept++;
            }
            BenchRig.figure("backlog.fed_mib", FED_MIB, "MiB", 0);
            BenchRig.figure("backlog.growth_mib", growth / (double) (1 << 20), "MiB", 1);
            BenchRig.figure("backlog.kept_reports", kept, "reports", 0);
            return true;
        } finally {
            usb.destroyNativeUsbInstance(handle);
        }
    }

    private static boolean feed(long device, int mebibytes) {
        for (int i = 0; i < mebibytes; i++) {
            BenchRig.feedUnread(device, CHUNK, REPORT_BYTES);
            if (!BenchRig.waitForAllTaken(device, 60_000)) {
                return false;
            }
        }
        return true;
    }

    private static boolean fail(String why) {
        BenchRig.note("backlog: " + why);
        return false;
    }

    private static long residentBytes() throws IOException {
        for (String line : Files.readAllLines(Paths.get("/proc/self/status"))) {
            if (line.startsWith("VmRSS:")) {
                return Long.parseLong(line.replaceAll("[^0-9]", "")) * 1024;
            }
        }
        return 0;
    }
}
