package quorvantelix.demo;

import quorvantelix.dm.connections.usb.NativeUSB;

/** What the library tells about a connected tablet. */
final class TabletIdentity {
    final String path;
    final int vendorId;
    final int productId;
    final String productName;
    final String serialNumber;
    final String firmwareVersion;
    final int maxX;
    final int maxY;

    private TabletIdentity(NativeUSB usb, long handle, String path) {
        this.path = path;
        vendorId = usb.getNativeUsbVid(handle) & 0xffff;
        productId = usb.getNativeUsbPid(handle) & 0xffff;
        productName = usb.getNativeUsbProductName(handle);
        serialNumber = usb.getNativeUsbSerialNumber(handle);
        firmwareVersion = usb.getNativeUsbFirmwareVersion(handle);
        maxX = usb.readMaxX(handle);
        maxY = usb.readMaxY(handle);
    }

    static TabletIdentity read(NativeUSB usb, long handle, String path) {
        return new TabletIdentity(usb, handle, path);
    }

    String describe() {
        return String.format("  vendor %04x  product %04x%n"
                + "  product name \"%s\"  serial number \"%s\"  firmware version \"%s\"%n"
                + "  X range 0..%d  Y range 0..%d", vendorId, productId, productName, serialNumber, firmwareVersion,
                maxX, maxY);
    }
}
