package quorvantelix.dm.connections.usb;

/** Stand-in for the device manager's NativeUSB: the native methods as the product declares them. */
public class NativeUSB {
    static {
        System.loadLibrary("NativeSupport");
    }

    public native long createNativeUsbInstance();
    public native void destroyNativeUsbInstance(long nativeInstanceHandle);

    public native short getNativeUsbVid(long nativeInstanceHandle);
    public native short getNativeUsbPid(long nativeInstanceHandle);
    public native int getNativeUsbxMax(long nativeInstanceHandle);
    public native int readMaxX(long nativeInstanceHandle);
    public native int readMaxY(long nativeInstanceHandle);
    public native String getNativeUsbSerialNumber(long nativeInstanceHandle);
    public native String getNativeUsbFirmwareVersion(long nativeInstanceHandle);
    public native String getNativeUsbProductName(long nativeInstanceHandle);

    public native boolean connectNativeUsb(long nativeInstanceHandle, String devicePath);
    public native byte[] readNativeUsbState(long nativeInstanceHandle);
    public native boolean writeCommand(long nativeInstanceHandle, char[] command);
    public native boolean writeFirmwareCommand(long nativeInstanceHandle, char[] command);
    public native boolean writeToControlTransfer(long nativeInstanceHandle, char[] data);

    public native boolean dfuDetach(long nativeInstanceHandle);
    public native boolean dfuDownload(long nativeInstanceHandle, int blockNumber, char[] data, int length);
    public native byte[] dfuGetStatus(long nativeInstanceHandle);
    public native boolean dfuClearStatus(long nativeInstanceHandle);
    public native byte[] dfuGetState(long nativeInstanceHandle);
    public native boolean dfuAbort(long nativeInstanceHandle);

    public native String discoverUSBInputDevices();
    public native short getNativeUsbVidDirect(String devicePath);
    public native short getNativeUsbPidDirect(String devicePath);

    public native void subscribeUSBChangeEvents();
    public native void unsubscribeUSBChangeEvents();
}
