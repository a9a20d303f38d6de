package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.*;

import java.nio.file.*;
import java.util.LinkedHashMap;
import java.util.Map;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.condition.EnabledIfSystemProperty;
import quorvantelix.dm.connections.usb.NativeUSB;
import quorvantelix.emulator.UsbEmulator;

/** The Debian package as installed: its library, loaded from the package's jni folder alone, and its udev rule. */
class InstalledPackageTest {
    @Test
    void thePackagedLibraryFindsATabletAndManagesAnInstance() {
        UsbEmulator.plugTablet(0x08ca, 0x0010, 1, 2);
        NativeUSB usb = new NativeUSB();
        long handle = usb.createNativeUsbInstance();
        assertNotEquals(0L, handle);
        assertEquals("001/002-08ca-0010-00-00", usb.discoverUSBInputDevices());
        usb.destroyNativeUsbInstance(handle);
        UsbEmulator.unplugAll();
    }

    /**
     * The rule judged by udev itself: udevadm test runs the machine's rules with the package's
     * on each emulated device's sysfs, and tells whether systemd's 73-seat-late.rules then gives
     * the device to the user at the seat (its uaccess).
     */
    @Test
    @EnabledIfSystemProperty(named = "ns.udevRule", matches = ".+")
    void theSeatGetsTheTabletsAndTheirFirmwareUpdateModeAndNothingElse() throws Exception {
        Path rules = Files.createDirectories(Paths.get("/run/udev/rules.d")); // this suite's own /run
        Path rule = Paths.get(System.getProperty("ns.udevRule"));
        Files.copy(rule, rules.resolve(rule.getFileName()));
        // The tablets and their firmware update modes (0x0483 with the product's marker); then the
        // chip maker's 0x0483 devices without it, a supported vendor's camera, another vendor's device.
        Map<String, Boolean> seat = new LinkedHashMap<>();
        for (String model : "tablet-078c tablet-08ca tablet-5543 tablet-172f tablet-dfu dfu-vornique dfu-vornique-5750 dfu-5543"
                .split(" ")) {
            seat.put(model, true);
        }
        for (String model : "tablet-0483 dfu camera-08ca unsupported".split(" ")) {
            seat.put(model, false);
        }
        UsbEmulator.start();
        StringBuilder wrong = new StringBuilder();
        int address = 2;
        for (Map.Entry<String, Boolean> model : seat.entrySet()) {
            UsbEmulator.plugModel(model.getKey(), 1, address);
            String udev = udevadmTest(String.format("/sys/devices/nsemu/b001/a%03d/1-%d", address, address));
            assertTrue(udev.contains("ID_USB_INTERFACES="), udev); // udev read the device
            if (udev.contains("run: 'uaccess'") != model.getValue()) {
                wrong.append(model.getKey()).append(model.getValue() ? " not given" : " given").append(" to the seat\n");
            }
            address++;
        }
        UsbEmulator.unplugAll();
        assertEquals("", wrong.toString());
    }

    /** udevadm test for an add of that device, with the emulator's sysfs as /sys. */
    private static String udevadmTest(String device) throws Exception {
        ProcessBuilder pb = new ProcessBuilder("unshare", "--mount", "--propagation", "private", "sh", "-c",
                "mount --rbind \"$0/sys\" /sys && exec udevadm test --action=add \"$1\"", UsbEmulator.rootDir(), device)
                .redirectErrorStream(true);
        pb.environment().remove("LD_PRELOAD");
        pb.environment().remove("UMOCKDEV_DIR");
        pb.environment().put("SYSTEMD_DEVICE_VERIFY_SYSFS", "0"); // the emulator's /sys is no sysfs
        Process p = pb.start();
        String out = new String(p.getInputStream().readAllBytes());
        assertEquals(0, p.waitFor(), out);
        return out;
    }
}
