package quorvantelix.demo;

import quorvantelix.dm.connections.usb.NativeUSB;

/** Lists the supported tablets the library finds, with their ids. */
public final class TabletMonitor {
    public static void main(String[] args) {
        NativeUSB usb = new NativeUSB();
        System.out.println("NativeSupport loaded into a " + System.getProperty("sun.arch.data.model") + "-bit JVM");
        String found = usb.discoverUSBInputDevices();
        if (found.isEmpty()) {
            System.out.println("No supported tablet is attached.");
            return;
        }
        for (String path : found.split("\\|")) {
            System.out.printf("%s  vendor %04x  product %04x%n", path, usb.getNativeUsbVidDirect(path) & 0xffff,
                    usb.getNativeUsbPidDirect(path) & 0xffff);
        }
    }
}
