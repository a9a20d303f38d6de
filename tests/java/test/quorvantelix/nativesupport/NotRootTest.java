package quorvantelix.nativesupport;

import static java.nio.charset.StandardCharsets.US_ASCII;
import static org.junit.jupiter.api.Assertions.*;

import java.nio.ByteBuffer;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.*;
import org.junit.jupiter.api.*;
import quorvantelix.dm.connections.usb.NativeUSB;
import quorvantelix.dm.deviceapi.SharedMemoryNativeInterface;
import quorvantelix.emulator.UsbEmulator;
import quorvantelix.test.*;

/**
 * The library in a desktop user's JVM. Root first sets up what the machine gives such a
 * user: one tablet's node root:root 0664 with an access entry for the user (what logind's
 * uaccess gives the user at the seat), another tablet's node root:root 0600, the udev
 * database, and processes of its own (udev's stand-in and a shared memory peer). Then the
 * whole JVM becomes the user for good: a user id the suite makes up, with no account.
 */
class NotRootTest {
    private static final int USER = 64_123;
    private static final long WAIT = 20_000;
    private static final int KEY_BASE = 0x3d00_0000 | (int) (ProcessHandle.current().pid() & 0x3_ffff) << 6;
    private static final Path UDEV_DATA = Path.of("/run/udev/data");
    private static long seat, locked;
    private static Process udev, peer;
    private final NativeUSB usb = new NativeUSB();

    @BeforeAll
    static void becomeADesktopUser() throws Exception {
        UsbEmulator.start();
        SysLog.drain(); // the capture's socket in place
        seat = UsbEmulator.plugModel("tablet-dfu", 1, 3);
        locked = UsbEmulator.plugModel("tablet-08ca", 1, 9);
        // The emulator's files become the user's (its emulator plugs devices too), but for the two nodes.
        NotifyRig.run("sh", "-ec", "chown -R $0:$0 \"$1\"; cd \"$1/dev/bus/usb/001\"; chown 0:0 003 009; "
                + "chmod 0664 003; setfacl -m u:$0:rw 003; chmod 0600 009; chmod 0666 /dev/log",
                Integer.toString(USER), UsbEmulator.rootDir());
        Files.createDirectories(UDEV_DATA);
        // udev: makes the entry it is given, or removes it when it is there.
        udev = new ProcessBuilder("sh", "-c", "while read e; do if [ -e \"$e\" ]; then rm \"$e\"; else : > \"$e\"; fi; "
                + "echo; done").start();
        peer = ShmPeer.start(KEY_BASE);
        assertTrue(ShmPeer.send(peer, "attach " + KEY_BASE + " 64").isEmpty()); // root made this segment
        assertTrue(Privileges.become(USER, USER));
        String ids = USER + "\t" + USER + "\t" + USER + "\t" + USER;
        List<String> status = Files.readAllLines(Path.of("/proc/self/status"));
        assertTrue(status.containsAll(List.of("Uid:\t" + ids, "Gid:\t" + ids, "CapEff:\t0000000000000000")), status.toString());
    }

    @AfterAll
    static void stopRootsProcesses() throws Exception {
        udev.outputWriter(US_ASCII).close();
        peer.outputWriter(US_ASCII).close(); // root's peer removes the suite's segments as it ends
        assertEquals(0, peer.waitFor());
        assertEquals(0, udev.waitFor());
        UsbEmulator.unplugAll();
    }

    @Test
    void aTabletTheUserMayNotUseOrThatAnotherProgramHoldsIsRefusedWithWhatToDo() throws Exception {
        Map<Integer, String> before = null;
        for (int attempt = 0; attempt < 2; attempt++) { // the first opens what stays (the log's connection)
            SysLog.drain();
            long h = usb.createNativeUsbInstance();
            assertFalse(usb.connectNativeUsb(h, UsbEmulator.path(locked)));
            usb.destroyNativeUsbInstance(h);
            assertLinesInOrder(SysLog.debug("NATIVESUPPORT: libusb_open failed with error code LIBUSB_ERROR_ACCESS"),
                    SysLog.info("NATIVESUPPORT: No permission to open the tablet at /dev/bus/usb/001/009.  The "
                            + "libnativesupport-jni package's udev rule gives tablets to the user logged in at this "
                            + "computer's own screen and keyboard (the seat): install the package, and run the "
                            + "application as that user."));
            before = before == null ? Tasks.descriptors() : before;
        }
        // umockdev's preload connects a socket even for an open that failed; nothing else may stay.
        Tasks.assertSameDescriptors(before, Tasks.descriptors());
        assertTrue(Tasks.names().stream().noneMatch(n -> n.startsWith("ns-")), Tasks.names().toString());

        long held = UsbEmulator.plugModel("tablet-5543", 1, 5); // the user's own node
        long first = usb.createNativeUsbInstance(), second = usb.createNativeUsbInstance();
        assertTrue(usb.connectNativeUsb(first, UsbEmulator.path(held)));
        SysLog.drain();
        assertFalse(usb.connectNativeUsb(second, UsbEmulator.path(held)));
        assertLinesInOrder(SysLog.debug("NATIVESUPPORT: Unable to claim interface. Closing device."),
                SysLog.info("NATIVESUPPORT: The tablet at /dev/bus/usb/001/005 is held by another program.  Close the "
                        + "other program that uses it (another copy of the application, or a tablet driver), then "
                        + "connect again."));
        usb.destroyNativeUsbInstance(second);
        usb.destroyNativeUsbInstance(first);
        assertTrue(UsbEmulator.waitForClients(held, 0, WAIT));
        UsbEmulator.unplug(held);
    }

    @Test
    void withAccessATabletConnectsReadsWritesAndTakesAWholeFirmwareUpdate() throws Exception {
        long h = usb.createNativeUsbInstance();
        assertTrue(usb.connectNativeUsb(h, UsbEmulator.path(seat)));
        byte[] report = new byte[64];
        report[0] = 2;
        report[2] = 0x34;
        UsbEmulator.feedInput(seat, report);
        assertTrue(UsbEmulator.waitForInputTaken(seat, 4, WAIT));
        assertArrayEquals(report, usb.readNativeUsbState(h));
        char[] command = new char[64];
        command[0] = 2;
        command[1] = 0x10;
        assertTrue(usb.writeCommand(h, command));
        byte[][] sent = UsbEmulator.outReports(seat);
        assertEquals(0x10, sent[sent.length - 1][1]);

        assertTrue(usb.dfuDetach(h));
        long dfu = UsbEmulator.waitForSuccessor(seat, WAIT);
        assertNotEquals(0L, dfu, "the tablet came back in firmware update mode");
        usb.destroyNativeUsbInstance(h);
        long d = usb.createNativeUsbInstance();
        assertTrue(usb.connectNativeUsb(d, UsbEmulator.path(dfu)));
        UsbEmulator.setDfuPollTimeouts(dfu, 0, 0);
        byte[] image = new byte[300];
        new Random(7).nextBytes(image);
        for (int block = 0; block * 64 < image.length; block++) {
            char[] data = new char[Math.min(64, image.length - block * 64)];
            for (int i = 0; i < data.length; i++) {
                data[i] = (char) (image[block * 64 + i] & 0xff);
            }
            assertTrue(usb.dfuDownload(d, block, data, data.length));
            assertEquals(UsbEmulator.DFU_DNLOAD_IDLE, usb.dfuGetStatus(d)[4]);
        }
        assertTrue(usb.dfuDownload(d, (image.length + 63) / 64, null, 0));
        for (int polls = 0; usb.dfuGetStatus(d)[4] != UsbEmulator.DFU_IDLE; polls++) {
            assertTrue(polls < 10, "the image was not manifested");
        }
        assertArrayEquals(image, UsbEmulator.dfuManifestedImage(dfu));
        usb.destroyNativeUsbInstance(d);
    }

    @Test
    void hotPlugReachesTheUser() throws Exception {
        Callbacks.reset();
        usb.subscribeUSBChangeEvents();
        try {
            assertTrue(ShmPeer.send(udev, UDEV_DATA.resolve("c189:5").toString()).isEmpty());
            assertTrue(Callbacks.HOT_PLUG.await(1, 3000 + NotifyRig.SLACK_MS), "root's change in the udev database");
        } finally {
            usb.unsubscribeUSBChangeEvents();
        }
    }

    @Test
    void theUserAndRootShareMemoryBothWays() throws Exception {
        SharedMemoryNativeInterface shm = new SharedMemoryNativeInterface();
        ShmPeer.send(peer, "put 0 from root");
        long s = shm.connectSharedMemoryMacLinux(KEY_BASE, 64);
        ByteBuffer rootsSegment = shm.retrieveSharedMemoryDirectByteBuffer(s);
        assertEquals("from root", US_ASCII.decode(rootsSegment.slice(0, 9)).toString());
        rootsSegment.put(20, "from the user".getBytes(US_ASCII));
        assertEquals("from the user", ShmPeer.send(peer, "get 20 13"));
        assertTrue(shm.releaseSharedMemory(s));
        assertEquals("true", ShmPeer.send(peer, "release"));

        long mine = shm.connectSharedMemoryMacLinux(KEY_BASE + 1, 64); // the user makes this one
        shm.retrieveSharedMemoryDirectByteBuffer(mine).put(0, "the user's".getBytes(US_ASCII));
        ShmPeer.send(peer, "attach " + (KEY_BASE + 1) + " 64");
        assertEquals("the user's", ShmPeer.send(peer, "get 0 10"));
        assertEquals("true", ShmPeer.send(peer, "release"));
        assertTrue(shm.releaseSharedMemory(mine));
    }

    /** The lines were logged, one right after the other. */
    private static void assertLinesInOrder(String first, String second) {
        List<String> lines = SysLog.drain();
        int at = lines.indexOf(first);
        assertTrue(at >= 0 && at + 1 < lines.size() && lines.get(at + 1).equals(second), lines.toString());
    }
}
