package quorvantelix.dm.deviceapi;

import java.nio.ByteBuffer;

/** Stand-in for the device manager's SharedMemoryNativeInterface. */
public class SharedMemoryNativeInterface {
    static {
        System.loadLibrary("NativeSupport");
    }

    public native long connectSharedMemoryMacLinux(int key, int size);
    public native ByteBuffer retrieveSharedMemoryDirectByteBuffer(long nativeInstanceHandle);
    public native boolean releaseSharedMemory(long nativeInstanceHandle);
}
