package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.*;

import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.LinkedHashMap;
import java.util.Map;
import org.junit.jupiter.api.Test;
import quorvantelix.emulator.UsbEmulator;

/**
 * The package's udev rule, judged by udev itself: udevadm test runs the machine's rules
 * with the package's on each emulated device's sysfs, and tells whether systemd's
 * 73-seat-late.rules then gives the device to the user at the seat (its uaccess).
 */
class UdevRuleTest {
    @Test
    void theSeatGetsTheTabletsAndTheirFirmwareUpdateModeAndNothingElse() throws Exception {
        Path rules = Files.createDirectories(Paths.get("/run/udev/rules.d")); // this suite's own /run
        Files.copy(Paths.get(System.getProperty("ns.udevRule")), rules.resolve("60-libnativesupport-jni.rules"));
        Map<String, Boolean> seat = new LinkedHashMap<>();
        for (String tablet : new String[] {"tablet-078c", "tablet-08ca", "tablet-5543", "tablet-172f", "tablet-dfu"}) {
            seat.put(tablet, true);
        }
        seat.put("dfu-vornique", true); // 0x0483 with the product's marker, in firmware update mode
        seat.put("dfu-vornique-5750", true);
        seat.put("dfu-5543", true); // a supported vendor's tablet in firmware update mode
        seat.put("tablet-0483", false); // 0x0483 without the marker: the chip maker's
        seat.put("dfu", false);
        seat.put("camera-08ca", false); // a supported vendor's device that is no tablet
        seat.put("unsupported", false);

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
