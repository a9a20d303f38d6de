package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.*;

import org.junit.jupiter.api.Test;
import quorvantelix.dm.connections.usb.NativeUSB;
import quorvantelix.emulator.UsbEmulator;

/** The library as the Debian package installs it, loaded from the package's jni folder alone. */
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
}
