package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.*;
import static org.junit.jupiter.api.DynamicTest.dynamicTest;

import java.util.ArrayList;
import java.util.List;
import java.util.regex.Pattern;
import java.util.stream.Stream;
import org.junit.jupiter.api.DynamicTest;
import org.junit.jupiter.api.TestFactory;
import quorvantelix.dm.deviceapi.SharedMemoryNativeInterface;
import quorvantelix.emulator.UsbEmulator;
import quorvantelix.test.ShmPeer;
import quorvantelix.test.SysLog;

/**
 * The log contract: every line the library writes about devices, discovery and shared memory,
 * with its priority and its values, scenario by scenario. The other suites check behaviour.
 * In a line, "{n}" stands for a number of this run (a handle, an address, a segment id), "{p}"
 * for the scenario's device path and "{a}" for its bus/address prefix.
 */
class LogContractTest extends EmulatedUsbSuite {
    private static final String D = "7 NATIVESUPPORT: ";
    private static final String I = "6 NATIVESUPPORT: ";
    private static final String S = "7 SHAREDMEMORY: ";
    private static final String NO_DEVICE = D + "USBDevice* doesn't exist for nativeInstanceHandle {n}";
    private static final String[] CLOSE = {D + "close_Device on handle {n}",
        D + "close_Device: About to clear input report queue for handle {n}",
        D + "close_Device: About to release interface and close for handle {n}"};
    private static final String STOPPED = D + "readThreadLoop has stopped. No IN transactions will be processed.";
    private static final int SHM_KEY = 0x3d00_0000 | (int) (ProcessHandle.current().pid() & 0xff_ffff);

    private final SharedMemoryNativeInterface shm = new SharedMemoryNativeInterface();
    private String path = "";

    private interface Scenario {
        void run() throws Exception;
    }

    private DynamicTest row(String name, Scenario scenario, String... lines) {
        return dynamicTest(name, () -> {
            noDevices();
            path = "";
            scenario.run();
            destroyInstances();
            List<String> logged = SysLog.drain();
            assertEquals(lines.length, logged.size(), String.join("\n", logged));
            for (int i = 0; i < lines.length; i++) {
                assertTrue(matches(lines[i], logged.get(i)), "line " + i + ": " + logged.get(i) + "\nwanted " + lines[i]);
            }
        });
    }

    private boolean matches(String template, String line) {
        String prefix = path.length() >= 7 ? path.substring(0, 7) : "";
        StringBuilder regex = new StringBuilder();
        for (String part : template.replace("{p}", path).replace("{a}", prefix).split("\\{n}", -1)) {
            regex.append(regex.length() == 0 ? "" : "-?\\d+").append(Pattern.quote(part));
        }
        return line.matches(regex.toString());
    }

    /** Plugs the scenario's device; lines then name it by {p} and {a}. */
    private long plug(long device) {
        path = UsbEmulator.path(device);
        SysLog.drain();
        return device;
    }

    private long open(long device) {
        long h = connectTo(UsbEmulator.path(device));
        SysLog.drain();
        return h;
    }

    private static String[] connected(String vendor, String... more) {
        List<String> lines = new ArrayList<>(List.of(I + "open_Device() Looking For : {p}", I + "Found VID: " + vendor,
                I + "open_Device() Found : {p}"));
        lines.addAll(List.of(more));
        return lines.toArray(new String[0]);
    }

    private static String[] concat(String[]... parts) {
        return Stream.of(parts).flatMap(Stream::of).toArray(String[]::new);
    }

    @TestFactory
    Stream<DynamicTest> everyLineOfEveryPath() {
        String dfuEntry = D + "Java_quorvantelix_dm_connections_usb_NativeUSB_dfuGetStatus.";
        List<String> unknown = new ArrayList<>();
        for (int i = 0; i < 14; i++) {
            unknown.add(NO_DEVICE);
        }
        for (String m : new String[] {"dfuDetach", "dfuDownload", "dfuGetStatus", "dfuClearStatus", "dfuGetState", "dfuAbort"}) {
            if (m.equals("dfuGetStatus")) {
                unknown.add(dfuEntry);
            }
            unknown.add(D + "Java_quorvantelix_dm_connections_usb_NativeUSB_" + m + ".  USBDevice* doesn't exist for "
                    + "nativeInstanceHandle {n}");
        }
        return Stream.of(
            row("every method with a handle that names nothing", () -> callEveryMethod(0), unknown.toArray(new String[0])),
            row("requests on an instance never connected", () -> callEveryMethod(create()),
                D + "connectNativeUsb() called without a device path.", D + "write_Device failed.  m_usb_handle was NULL.", D + "write_Device failed.  m_usb_handle was NULL.",
                D + "Getting ready to perform a control transfer. Size: (0)",
                D + "Control Transfer Failed.  m_usb_handle was NULL.", D + "DFU Detach Failed. m_usb_handle was NULL.",
                D + "DFU Download Failed. m_usb_handle was NULL.", dfuEntry, D + "DFU GetStatus Failed. m_usb_handle was NULL.",
                D + "DFU ClearStatus Failed. m_usb_handle was NULL.", D + "DFU GetState Failed. m_usb_handle was NULL.",
                D + "DFU Abort Failed. m_usb_handle was NULL."),
            row("connect, read and destroy", () -> {
                long h = connectTo(UsbEmulator.path(plug(UsbEmulator.plugTablet(0x078c, 0x0600, 1, 2))));
                usb.readNativeUsbState(h);
                destroy(h);
            }, concat(connected("078c", D + "Read thread is starting for device: Pen Tablet Pen"), CLOSE_OPEN())),
            row("connect to a device of another vendor, or to nothing", () -> {
                plug(UsbEmulator.plugModel("unsupported", 1, 3));
                assertFalse(usb.connectNativeUsb(create(), path));
                assertFalse(usb.connectNativeUsb(create(), "009/009-078c-0600-00-00"));
            }, I + "open_Device() Looking For : {p}", I + "Found VID: 046d",
                I + "open_Device() Looking For : 009/009-078c-0600-00-00", I + "Found VID: 046d"),
            row("connect an open instance again", () -> {
                long h = open(plug(UsbEmulator.plugTablet(0x5543, 0x0064, 1, 2)));
                assertFalse(usb.connectNativeUsb(h, path));
            }, concat(connected("5543", D + "m_usb_handle is not NULL.  Device is already open."), CLOSE_OPEN())),
            row("connect a device that another instance holds", () -> {
                open(plug(UsbEmulator.plugTablet(0x078c, 0x0600, 1, 2)));
                assertFalse(usb.connectNativeUsb(create(), path));
            }, concat(connected("078c", D + "Unable to claim interface. Closing device.", I + "The tablet at "
                + "/dev/bus/usb/001/002 is held by another program.  Close the other program that uses it (another copy "
                + "of the application, or a tablet driver), then connect again."), CLOSE, CLOSE_OPEN())),
            row("connect a device in firmware update mode that is not ours", () ->
                assertFalse(usb.connectNativeUsb(create(), UsbEmulator.path(plug(UsbEmulator.plugModel("dfu", 1, 2))))),
                concat(connected("0483", D + " get_Device_Info() Retrieving Report descriptor Failed..."), CLOSE,
                    new String[] {D + "DFU Device isn't ours.  Closing device."})),
            row("connect a device without an IN endpoint", () -> assertFalse(usb.connectNativeUsb(create(), UsbEmulator.path(
                plug(UsbEmulator.plug(1, 2, 0x078c, 0x0600, 0, 0, 0x100, new byte[0], 0, 0, 0, "", "", "", "", false))))),
                concat(connected("078c", D + "Interface 0 has no endpoint to read reports from.  Closing device."), CLOSE)),
            row("a report descriptor the device refuses", () -> {
                long device = plug(UsbEmulator.plugTablet(0x5543, 0x0064, 1, 2));
                UsbEmulator.stallRequest(device, 0x81, 6, 0x2200, 1);
                connectTo(path);
            }, concat(connected("5543", D + " get_Device_Info() Retrieving Report descriptor Failed...",
                D + "Read thread is starting for device: Pen Tablet Pen"), CLOSE_OPEN())),
            row("the read thread's failures", () -> {
                long device = UsbEmulator.plugTablet(0x078c, 0x0600, 1, 2);
                long h = open(device);
                assertTrue(waitForQueued(device));
                UsbEmulator.failEndpoint(device, 0x81, -UsbEmulator.EOVERFLOW, 1);
                UsbEmulator.feedInput(device, new byte[] {2});
                assertTrue(waitForQueued(device));
                UsbEmulator.unplug(device);
                assertTrue(SysLog.await(STOPPED, WAIT));
                destroy(h);
            }, D + "libusb_interrupt_transfer failed. Bytes written (0). Error Code (LIBUSB_ERROR_OVERFLOW)",
                D + "libusb_interrupt_transfer failed. Bytes written (0). Error Code (LIBUSB_ERROR_NO_DEVICE)", STOPPED,
                CLOSE[0], CLOSE[1], CLOSE[2]),
            row("writes and control transfers", () -> {
                long device = UsbEmulator.plugTablet(0x078c, 0x0600, 1, 2);
                long h = open(device);
                assertTrue(usb.writeCommand(h, new char[64]));
                UsbEmulator.failEndpoint(device, 0x01, -UsbEmulator.EPIPE, 1);
                assertFalse(usb.writeCommand(h, new char[64]));
                UsbEmulator.hangEndpoint(device, 0x01, 1);
                assertFalse(usb.writeCommand(h, new char[64]));
                assertTrue(usb.writeToControlTransfer(h, new char[64]));
                UsbEmulator.stallRequest(device, 0x21, 9, 0x0200, 1);
                assertFalse(usb.writeToControlTransfer(h, new char[64]));
            }, concat(new String[] {D + "write_Device Succeeded.  Bytes written (64).",
                D + "write_Device failed.  Bytes written (0). Error Code (LIBUSB_ERROR_PIPE).",
                D + "write_Device failed.  Bytes written (0). Error Code (LIBUSB_ERROR_TIMEOUT).",
                D + "Getting ready to perform a control transfer. Size: (64)",
                D + "Control Transfer Succeeded.  Bytes written (64).",
                D + "Getting ready to perform a control transfer. Size: (64)", D + "Control Transfer Failed."}, CLOSE_OPEN())),
            row("firmware update requests", () -> {
                long dfu = UsbEmulator.plugModel("dfu-vornique", 1, 2);
                UsbEmulator.setDfuPollTimeouts(dfu, 0, 0);
                long h = open(dfu);
                usb.dfuGetState(h);
                usb.dfuDownload(h, 0, new char[16], 16);
                usb.dfuGetStatus(h);
                usb.dfuAbort(h);
                usb.dfuDetach(h); // not a request for a device in firmware update mode: dfuERROR
                usb.dfuClearStatus(h);
                UsbEmulator.stallRequest(dfu, UsbEmulator.ANY, UsbEmulator.ANY, UsbEmulator.ANY, UsbEmulator.ALWAYS);
                usb.dfuDownload(h, 0, new char[16], 16);
                usb.dfuGetStatus(h);
                usb.dfuClearStatus(h);
                usb.dfuGetState(h);
                usb.dfuAbort(h);
                usb.dfuDownload(h, 0, new char[16], -1);
            }, concat(new String[] {D + "DFU GetState Succeeded.  Bytes received (1)",
                D + "DFU Download Succeeded.  Bytes written (16)", dfuEntry, D + "DFU GetStatus Succeeded.  Bytes received (6)",
                D + "DFU Abort Succeeded.", D + "DFU Detach Failed.", D + "DFU ClearStatus Succeeded.",
                D + "DFU Download Failed.", dfuEntry, D + "DFU GetStatus Failed.", D + "DFU ClearStatus Failed.",
                D + "DFU GetState Failed.", D + "DFU Abort Failed.",
                D + "DFU Download Failed.  Length (-1) does not fit a DFU block."}, CLOSE)),
            row("discovery and the lookups", () -> {
                plug(UsbEmulator.plugModel("unsupported", 1, 3));
                plug(UsbEmulator.plugTablet(0x172f, 0x0031, 1, 2));
                usb.discoverUSBInputDevices();
                usb.getNativeUsbVidDirect(path);
                usb.getNativeUsbPidDirect("009/009");
            }, I + "Found VID: 046d", I + "Found VID: 172f", I + "Found: {p}", I + "getVid() Looking For : {p}",
                I + "getVid() Found : {a}", I + "getPid() Looking For : 009/009"),
            row("shared memory", () -> {
                long h = shm.connectSharedMemoryMacLinux(SHM_KEY, 64);
                shm.retrieveSharedMemoryDirectByteBuffer(h);
                assertTrue(shm.releaseSharedMemory(h));
                shm.releaseSharedMemory(h);
                shm.retrieveSharedMemoryDirectByteBuffer(-1);
                shm.connectSharedMemoryMacLinux(SHM_KEY, 65);
                assertTrue(ShmPeer.removeSegments(SHM_KEY, 1));
            }, S + "Constructor Pushing Shared Memory Instance ({n})",
                S + "shmget was successful for key (" + SHM_KEY + ").  Shared Memory ID Created ({n})",
                S + "shmat was successful Shared Memory Address ({n})",
                S + "Successfully attached and created a new Shared Memory Instance ({n})",
                S + "retrieveSharedMemoryDirectByteBuffer() called for Shared Memory Instance ({n})",
                S + "Shared Memory Instance ({n}) found.", S + "releaseSharedMemory() called for Shared Memory Instance ({n})",
                S + "Shared Memory Instance ({n}) found.", S + "shmdt returned (0)",
                S + "Successfully detached Shared Memory Address ({n})", S + "Deleting Shared Memory Instance ({n})",
                S + "releaseSharedMemory() called for Shared Memory Instance ({n})",
                S + "retrieveSharedMemoryDirectByteBuffer() called for Shared Memory Instance (-1)",
                S + "Constructor Pushing Shared Memory Instance ({n})"));
    }

    /** The close lines of the open instance a row leaves for the end. */
    private static String[] CLOSE_OPEN() {
        return new String[] {CLOSE[0], STOPPED, CLOSE[1], CLOSE[2]};
    }

    /** Calls all twenty methods that take an instance handle. */
    private void callEveryMethod(long handle) {
        if (handle == 0) {
            usb.destroyNativeUsbInstance(handle);
        }
        usb.connectNativeUsb(handle, handle == 0 ? "001/002-078c-0700-00-00" : null);
        usb.getNativeUsbVid(handle);
        usb.getNativeUsbPid(handle);
        usb.getNativeUsbxMax(handle);
        usb.readMaxX(handle);
        usb.readMaxY(handle);
        usb.getNativeUsbSerialNumber(handle);
        usb.getNativeUsbFirmwareVersion(handle);
        usb.getNativeUsbProductName(handle);
        usb.readNativeUsbState(handle);
        usb.writeCommand(handle, new char[64]);
        usb.writeFirmwareCommand(handle, new char[64]);
        usb.writeToControlTransfer(handle, new char[64]);
        usb.dfuDetach(handle);
        usb.dfuDownload(handle, 1, new char[16], 16);
        usb.dfuGetStatus(handle);
        usb.dfuClearStatus(handle);
        usb.dfuGetState(handle);
        usb.dfuAbort(handle);
    }
}
