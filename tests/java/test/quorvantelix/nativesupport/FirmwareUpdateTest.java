package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static quorvantelix.test.SysLog.debug;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Random;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import quorvantelix.dm.connections.usb.NativeUSB;
import quorvantelix.test.SysLog;
import quorvantelix.emulator.UsbEmulator;

/**
 * Firmware updates driven the way the device manager drives them: DFU requests through the
 * library to emulated DFU 1.1 devices, whose state machine and image store check the result.
 */
class FirmwareUpdateTest extends EmulatedUsbSuite {
    private static final int BLOCK = 128;
    private static final int BLOCKS = 400;
    private static final String GET_STATUS_ENTRY =
            debug("NATIVESUPPORT: Java_quorvantelix_dm_connections_usb_NativeUSB_dfuGetStatus.");
    private static final String STATUS_RECEIVED = debug("NATIVESUPPORT: DFU GetStatus Succeeded.  Bytes received (6)");
    private static final String STATE_RECEIVED = debug("NATIVESUPPORT: DFU GetState Succeeded.  Bytes received (1)");

    private final List<Path> files = new ArrayList<>();

    @AfterEach
    void deleteFiles() throws IOException {
        for (Path f : files) {
            Files.deleteIfExists(f);
        }
    }

    /** A firmware file whose last block is a partial one. */
    private Path firmwareFile(int blocks, long seed) throws IOException {
        byte[] image = new byte[blocks * BLOCK - 37];
        new Random(seed).nextBytes(image);
        // A file of its own rather than a temporary directory: under qemu-user the JVM cannot
        // list directories to delete them.
        Path file = Files.createTempFile("firmware-", ".bin");
        files.add(file);
        return Files.write(file, image);
    }

    private static byte[] bytes(int... values) {
        byte[] b = new byte[values.length];
        for (int i = 0; i < values.length; i++) {
            b[i] = (byte) values[i];
        }
        return b;
    }

    private static List<String> dnloadRecords(long device) {
        List<String> r = new ArrayList<>();
        for (String line : UsbEmulator.records(device)) {
            if (line.startsWith("CTRL 21 01 ")) {
                r.add(line.substring(0, "CTRL 21 01 wwww iiii llll".length()));
            }
        }
        return r;
    }

    /** What the device manager does with a device in DFU mode. */
    private final class Updater {
        final long handle;
        int statusRequests;

        Updater(long handle) {
            this.handle = handle;
        }

        /**
         * GETSTATUS until the device leaves its busy states, waiting the bwPollTimeout that
         * each answer asks for. The last status record.
         */
        byte[] pollStatus() throws InterruptedException {
            while (true) {
                byte[] status = usb.dfuGetStatus(handle);
                statusRequests++;
                assertEquals(6, status.length);
                int state = status[4];
                int pollTimeout = (status[1] & 0xff) | (status[2] & 0xff) << 8 | (status[3] & 0xff) << 16;
                if (state != UsbEmulator.DFU_DNBUSY && state != UsbEmulator.DFU_DNLOAD_SYNC
                        && state != UsbEmulator.DFU_MANIFEST && state != UsbEmulator.DFU_MANIFEST_SYNC) {
                    return status;
                }
                Thread.sleep(pollTimeout);
            }
        }

        /** Downloads the file block by block from block 0; the status that ended it. */
        byte[] download(byte[] image) throws InterruptedException {
            int blocks = (image.length + BLOCK - 1) / BLOCK;
            for (int n = 0; n < blocks; n++) {
                int length = Math.min(BLOCK, image.length - n * BLOCK);
                char[] data = new char[length];
                for (int i = 0; i < length; i++) {
                    data[i] = (char) (image[n * BLOCK + i] & 0xff);
                }
                assertTrue(usb.dfuDownload(handle, n, data, length), "block " + n);
                byte[] status = pollStatus();
                if (status[4] != UsbEmulator.DFU_DNLOAD_IDLE) {
                    return status;
                }
            }
            assertTrue(usb.dfuDownload(handle, blocks, new char[0], 0), "the zero-length DNLOAD");
            return pollStatus();
        }
    }

    @Test
    void aTabletIsDetachedFoundInDfuModeAndFlashedWithTheWholeImage() throws Exception {
        long tablet = UsbEmulator.plugModel("tablet-dfu", 1, 2);
        String runtimePath = UsbEmulator.path(tablet);
        assertTrue(Arrays.asList(usb.discoverUSBInputDevices().split("\\|")).contains(runtimePath));
        long runtime = connectTo(runtimePath);
        assertArrayEquals(bytes(UsbEmulator.APP_IDLE), usb.dfuGetState(runtime));
        SysLog.drain();

        // Detach: the tablet leaves the bus and comes back in DFU mode at a new address.
        assertTrue(usb.dfuDetach(runtime));
        long dfu = UsbEmulator.waitForSuccessor(tablet, WAIT);
        assertNotEquals(0L, dfu, "the tablet came back in DFU mode");
        assertFalse(UsbEmulator.isPlugged(tablet));
        String readStopped = debug("NATIVESUPPORT: readThreadLoop has stopped. No IN transactions will be processed.");
        assertTrue(SysLog.await(readStopped, WAIT));
        List<String> detachLines = new ArrayList<>(SysLog.drain());
        detachLines.sort(null);
        // The read thread may see the tablet leave before the detach call logs its success.
        assertEquals(List.of(debug("NATIVESUPPORT: DFU Detach Succeeded."),
                debug("NATIVESUPPORT: libusb_interrupt_transfer failed. Bytes written (0). Error Code "
                        + "(LIBUSB_ERROR_NO_DEVICE)"), readStopped), detachLines);
        assertNull(usb.dfuGetState(runtime), "the old instance keeps a handle to a device that left");
        assertEquals(List.of(debug("NATIVESUPPORT: DFU GetState Failed.")), SysLog.drain());
        destroy(runtime);

        // Discover again and connect a new instance to the device in DFU mode.
        String dfuPath = null;
        for (String p : usb.discoverUSBInputDevices().split("\\|")) {
            if (p.contains("-0483-df11-")) {
                dfuPath = p;
            }
        }
        assertEquals(UsbEmulator.path(dfu), dfuPath);
        assertNotEquals(runtimePath.substring(0, 7), dfuPath.substring(0, 7), "a new address");
        long h = connectTo(dfuPath);
        assertEquals(0x0483, usb.getNativeUsbVid(h));
        SysLog.drain();
        UsbEmulator.setDfuPollTimeouts(dfu, 1, 30);

        Updater updater = new Updater(h);
        assertArrayEquals(bytes(UsbEmulator.DFU_IDLE), usb.dfuGetState(h));
        Path file = firmwareFile(BLOCKS, 1);
        byte[] image = Files.readAllBytes(file);
        assertArrayEquals(bytes(UsbEmulator.STATUS_OK, 0, 0, 0, UsbEmulator.DFU_IDLE, 0), updater.download(image));

        assertArrayEquals(image, UsbEmulator.dfuManifestedImage(dfu), "the stored image is the file");
        assertEquals(1, UsbEmulator.dfuManifestations(dfu));
        List<String> dnloads = dnloadRecords(dfu);
        assertEquals(BLOCKS + 1, dnloads.size());
        assertEquals("CTRL 21 01 0000 0000 0080", dnloads.get(0));
        assertEquals(String.format("CTRL 21 01 %04x 0000 %04x", BLOCKS - 1, BLOCK - 37), dnloads.get(BLOCKS - 1));
        assertEquals(String.format("CTRL 21 01 %04x 0000 0000", BLOCKS), dnloads.get(BLOCKS));
        assertEquals(2 * BLOCKS + 2, updater.statusRequests, "each block and the manifestation took a poll timeout");

        List<String> lines = SysLog.drain();
        List<String> expected = new ArrayList<>(List.of(STATE_RECEIVED));
        for (int n = 0; n < BLOCKS - 1; n++) {
            expected.add(debug("NATIVESUPPORT: DFU Download Succeeded.  Bytes written (128)"));
        }
        expected.add(debug("NATIVESUPPORT: DFU Download Succeeded.  Bytes written (91)"));
        expected.add(debug("NATIVESUPPORT: DFU Download Succeeded.  Bytes written (0)"));
        for (int n = 0; n < updater.statusRequests; n++) {
            expected.add(GET_STATUS_ENTRY);
            expected.add(STATUS_RECEIVED);
        }
        List<String> sortedLines = new ArrayList<>(lines);
        sortedLines.sort(null);
        expected.sort(null);
        assertEquals(expected, sortedLines, "one line per request, no failure");
        assertEquals(GET_STATUS_ENTRY, lines.get(lines.size() - 2), "the update ends with a status request");
    }

    @Test
    void anErrorMidDownloadIsClearedAndTheDownloadStartsAgain() throws Exception {
        long dfu = UsbEmulator.plugModel("dfu-vornique", 1, 2);
        long h = connectTo(UsbEmulator.path(dfu));
        UsbEmulator.setDfuPollTimeouts(dfu, 1, 5);
        UsbEmulator.failDfuDownload(dfu, 5, UsbEmulator.ERR_WRITE);
        byte[] image = Files.readAllBytes(firmwareFile(40, 2));
        Updater updater = new Updater(h);
        SysLog.drain();

        // Block 4 is taken, but the status after it tells errWRITE in dfuERROR.
        assertArrayEquals(bytes(UsbEmulator.ERR_WRITE, 0, 0, 0, UsbEmulator.DFU_ERROR, 0), updater.download(image));
        assertArrayEquals(Arrays.copyOf(image, 4 * BLOCK), UsbEmulator.dfuReceived(dfu));
        assertArrayEquals(bytes(UsbEmulator.DFU_ERROR), usb.dfuGetState(h));
        assertFalse(usb.dfuDownload(h, 5, new char[BLOCK], BLOCK), "dfuERROR takes no block");
        SysLog.drain();

        assertTrue(usb.dfuClearStatus(h));
        assertArrayEquals(bytes(UsbEmulator.STATUS_OK, 0, 0, 0, UsbEmulator.DFU_IDLE, 0), usb.dfuGetStatus(h));
        assertTrue(usb.dfuAbort(h));
        assertEquals(List.of(debug("NATIVESUPPORT: DFU ClearStatus Succeeded."), GET_STATUS_ENTRY, STATUS_RECEIVED,
                debug("NATIVESUPPORT: DFU Abort Succeeded.")), SysLog.drain());

        assertArrayEquals(bytes(UsbEmulator.STATUS_OK, 0, 0, 0, UsbEmulator.DFU_IDLE, 0), updater.download(image));
        assertArrayEquals(image, UsbEmulator.dfuManifestedImage(dfu));
        assertEquals(1, UsbEmulator.dfuManifestations(dfu));
    }

    @Test
    void anAbortMidDownloadDropsThePartialImage() throws Exception {
        long dfu = UsbEmulator.plugModel("dfu-vornique", 1, 2);
        long h = connectTo(UsbEmulator.path(dfu));
        char[] block = new char[BLOCK];
        Arrays.fill(block, (char) 0x1a5);
        for (int n = 0; n < 3; n++) {
            assertTrue(usb.dfuDownload(h, n, block, BLOCK));
            assertEquals(UsbEmulator.DFU_DNLOAD_IDLE, usb.dfuGetStatus(h)[4]);
        }
        assertTrue(usb.dfuAbort(h));
        assertEquals(UsbEmulator.DFU_IDLE, UsbEmulator.dfuState(dfu));
        assertTrue(usb.dfuDownload(h, 0, new char[] {1, 2, 3}, 3));
        assertArrayEquals(bytes(1, 2, 3), UsbEmulator.dfuReceived(dfu), "a new download after the abort");
        assertEquals(0, UsbEmulator.dfuManifestations(dfu));
        byte[] a5 = new byte[BLOCK];
        Arrays.fill(a5, (byte) 0xa5);
        assertArrayEquals(a5, Arrays.copyOfRange(blockData(dfu, 0), 0, BLOCK), "low bytes of the chars");
    }

    /** The data of the first DNLOAD of block n that the device took. */
    private static byte[] blockData(long device, int n) {
        String prefix = String.format("CTRL 21 01 %04x 0000 ", n);
        for (String line : UsbEmulator.records(device)) {
            if (line.startsWith(prefix) && !line.contains("status=")) {
                String hex = line.substring(prefix.length() + 5);
                byte[] b = new byte[hex.length() / 2];
                for (int i = 0; i < b.length; i++) {
                    b[i] = (byte) Integer.parseInt(hex.substring(2 * i, 2 * i + 2), 16);
                }
                return b;
            }
        }
        return new byte[0];
    }

    @Test
    void requestsSendTheirSetupPacketsAndFailuresChangeNothing() {
        long dfu = UsbEmulator.plugModel("dfu-vornique", 1, 2);
        long h = connectTo(UsbEmulator.path(dfu));
        SysLog.drain();

        // A block number above 65535 goes out as its low 16 bits, each char as its low byte.
        assertTrue(usb.dfuDownload(h, 0x10003, new char[] {0x141, 0x42, 0, 0, 0, 0, 0, 0}, 8));
        assertEquals("CTRL 21 01 0003 0000 0008 4142000000000000", lastRecord(dfu));
        assertEquals(UsbEmulator.DFU_DNLOAD_IDLE, usb.dfuGetStatus(h)[4]);
        // A zero-length DNLOAD ends the image: success on a result of 0.
        assertTrue(usb.dfuDownload(h, 5, null, 0));
        assertEquals("CTRL 21 01 0005 0000 0000", lastRecord(dfu));
        assertEquals(List.of(debug("NATIVESUPPORT: DFU Download Succeeded.  Bytes written (8)"), GET_STATUS_ENTRY,
                STATUS_RECEIVED, debug("NATIVESUPPORT: DFU Download Succeeded.  Bytes written (0)")), SysLog.drain());
        assertEquals(UsbEmulator.DFU_MANIFEST, usb.dfuGetStatus(h)[4]);
        assertEquals(UsbEmulator.DFU_IDLE, usb.dfuGetStatus(h)[4]);
        SysLog.drain();

        // Lengths that do not fit a DFU block are refused before anything is sent.
        int records = UsbEmulator.records(dfu).length;
        assertFalse(usb.dfuDownload(h, 1, new char[4], -1));
        assertFalse(usb.dfuDownload(h, 1, new char[4], 65536));
        assertEquals(List.of(
                debug("NATIVESUPPORT: DFU Download Failed.  Length (-1) does not fit a DFU block."),
                debug("NATIVESUPPORT: DFU Download Failed.  Length (65536) does not fit a DFU block.")),
                SysLog.drain());
        assertEquals(records, UsbEmulator.records(dfu).length);

        // CLRSTATUS outside dfuERROR stalls, and puts the device in dfuERROR (errSTALLEDPKT).
        assertFalse(usb.dfuClearStatus(h));
        assertEquals(List.of(debug("NATIVESUPPORT: DFU ClearStatus Failed.")), SysLog.drain());
        assertArrayEquals(bytes(UsbEmulator.ERR_STALLEDPKT, 0, 0, 0, UsbEmulator.DFU_ERROR, 0), usb.dfuGetStatus(h));
        assertFalse(usb.dfuAbort(h), "dfuERROR takes no ABORT");
        assertFalse(usb.dfuDetach(h), "a device in DFU mode takes no DETACH");
        assertEquals(List.of(GET_STATUS_ENTRY, STATUS_RECEIVED, debug("NATIVESUPPORT: DFU Abort Failed."),
                debug("NATIVESUPPORT: DFU Detach Failed.")), SysLog.drain());
        assertTrue(usb.dfuClearStatus(h), "the next request is sent normally");
        assertArrayEquals(bytes(UsbEmulator.DFU_IDLE), usb.dfuGetState(h));

        // A status record shorter than 6 bytes gives null, not a short array.
        UsbEmulator.setDfuStatusLength(dfu, 4);
        SysLog.drain();
        assertNull(usb.dfuGetStatus(h));
        assertEquals(List.of(GET_STATUS_ENTRY, debug("NATIVESUPPORT: DFU GetStatus Failed.")), SysLog.drain());
        UsbEmulator.setDfuStatusLength(dfu, 6);
        assertArrayEquals(bytes(UsbEmulator.STATUS_OK, 0, 0, 0, UsbEmulator.DFU_IDLE, 0), usb.dfuGetStatus(h));

        // Every request went to interface 0 with its own setup packet.
        List<String> setups = new ArrayList<>();
        for (String r : UsbEmulator.records(dfu)) {
            setups.add(r.substring(0, "CTRL tt rr wwww iiii llll".length()));
        }
        assertEquals(List.of("CTRL 21 01 0003 0000 0008", "CTRL a1 03 0000 0000 0006", "CTRL 21 01 0005 0000 0000",
                "CTRL a1 03 0000 0000 0006", "CTRL a1 03 0000 0000 0006", "CTRL 21 04 0000 0000 0000",
                "CTRL a1 03 0000 0000 0006", "CTRL 21 06 0000 0000 0000", "CTRL 21 00 0000 0000 0000",
                "CTRL 21 04 0000 0000 0000", "CTRL a1 05 0000 0000 0001", "CTRL a1 03 0000 0000 0006",
                "CTRL a1 03 0000 0000 0006"), setups.subList(setups.size() - 13, setups.size()));
    }

    private static String lastRecord(long device) {
        String[] records = UsbEmulator.records(device);
        return records[records.length - 1];
    }
}
