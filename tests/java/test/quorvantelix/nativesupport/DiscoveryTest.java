package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static quorvantelix.test.SysLog.info;

import java.util.List;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import quorvantelix.dm.connections.usb.NativeUSB;
import quorvantelix.test.SysLog;
import quorvantelix.emulator.UsbEmulator;

/** Discovery of emulated devices, and the lookups by device path string. */
class DiscoveryTest extends EmulatedUsbSuite {

    @Test
    void listsSupportedVendorsInLibusbOrderAndLogsEveryVendor() {
        UsbEmulator.plugTablet(0x078c, 0x0700, 1, 4);
        UsbEmulator.plugModel("unsupported", 1, 7);
        UsbEmulator.plugModel("dfu", 2, 11);
        UsbEmulator.plugTablet(0x172f, 0x0031, 2, 12);

        String found = usb.discoverUSBInputDevices();

        // libusb lists the device enumerated last first.
        assertEquals("002/012-172f-0031-00-00|002/011-0483-df11-00-00|001/004-078c-0700-00-00", found);
        assertEquals(List.of(
                info("NATIVESUPPORT: Found VID: 172f"),
                info("NATIVESUPPORT: Found VID: 0483"),
                info("NATIVESUPPORT: Found VID: 046d"),
                info("NATIVESUPPORT: Found VID: 078c"),
                info("NATIVESUPPORT: Found: " + found)), SysLog.drain());
    }

    @Test
    void lookupsReadSignedIdsOfTheFirstDeviceWhosePrefixOccurs() {
        long other = UsbEmulator.plugModel("unsupported", 3, 5);
        UsbEmulator.plugModel("dfu", 2, 11);
        String list = usb.discoverUSBInputDevices();
        SysLog.drain();

        assertEquals(-8431, usb.getNativeUsbPidDirect("002/011-0483-df11-00-00"));
        assertEquals(0x0483, usb.getNativeUsbVidDirect(list));
        assertEquals(List.of(
                info("NATIVESUPPORT: getPid() Looking For : 002/011-0483-df11-00-00"),
                info("NATIVESUPPORT: getPid() Found : 002/011"),
                info("NATIVESUPPORT: getVid() Looking For : " + list),
                info("NATIVESUPPORT: getVid() Found : 002/011")), SysLog.drain());

        // Only the bus/address prefix counts: the rest of the string may say anything,
        // and vendors that discovery leaves out are still answered.
        assertEquals(0x046d, usb.getNativeUsbVidDirect("xx 003/005-ffff-ffff-ff-ff"));
        assertEquals((short) 0xc52b, usb.getNativeUsbPidDirect(UsbEmulator.path(other)));
        assertEquals(0, usb.getNativeUsbVidDirect(""));
        assertEquals(0, usb.getNativeUsbPidDirect("no slash at all"));
        assertEquals(0, usb.getNativeUsbPidDirect("009/009-0483-df11-00-00"));
    }

    @Test
    void replugAtANewAddressChangesThePath() {
        long tablet = UsbEmulator.plugTablet(0x5543, 0x0064, 1, 2);
        String before = usb.discoverUSBInputDevices();
        assertEquals("001/002-5543-0064-00-00", before);

        UsbEmulator.unplug(tablet);
        assertEquals("", usb.discoverUSBInputDevices());
        assertEquals(0, usb.getNativeUsbVidDirect(before));

        UsbEmulator.plugTablet(0x5543, 0x0064, 1, 3);
        assertEquals("001/003-5543-0064-00-00", usb.discoverUSBInputDevices());
        assertEquals(0, usb.getNativeUsbVidDirect(before));
        assertEquals(0x5543, usb.getNativeUsbVidDirect("001/003"));
    }
}
