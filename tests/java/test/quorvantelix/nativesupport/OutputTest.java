package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.*;

import java.util.*;
import org.junit.jupiter.api.Test;
import quorvantelix.emulator.UsbEmulator;

/**
 * What goes to emulated devices: commands on the OUT endpoint, output reports on the control
 * pipe, and whole firmware updates driven as the device manager drives them, checked against
 * the DFU 1.1 device's state machine and image store.
 */
class OutputTest extends EmulatedUsbSuite {
    private static final int BLOCK = 128;

    /** A command whose chars carry high bits the device must never see. */
    private static char[] command(int length, int seed) {
        char[] c = new char[length];
        for (int i = 0; i < length; i++) {
            c[i] = (char) (0x100 * (i % 3) + ((seed + 7 * i) & 0xff));
        }
        return c;
    }

    private static String lowBytes(char[] chars, int length) {
        byte[] b = new byte[length];
        for (int i = 0; i < Math.min(length, chars.length); i++) {
            b[i] = (byte) chars[i];
        }
        return HexFormat.of().formatHex(b);
    }

    private static String lastRecord(long device) {
        String[] records = UsbEmulator.records(device);
        return records[records.length - 1];
    }

    /**
     * The copies out of Java arrays, for every shape of array (empty, shorter than, as long as
     * and longer than the report, all with high bytes): a command goes whole to the OUT endpoint
     * of its product, with zeros for the chars the array lacks, and so does an output report on
     * the control pipe; a firmware block goes out as long as the length given.
     */
    @Test
    void everyShapeOfArrayGoesOutAsTheLowBytesOfItsChars() throws Exception {
        long[] tablets = {UsbEmulator.plugTablet(0x172f, 0x0031, 1, 2), UsbEmulator.plugTablet(0x078c, 0x0701, 1, 3),
            UsbEmulator.plugTablet(0x078c, 0x0703, 1, 4), UsbEmulator.plugTablet(0x5543, 0x0700, 1, 5),
            UsbEmulator.plugModel("tablet-040a", 1, 6)};
        String[] endpoints = {"01", "02", "01", "01", "01"};
        long dfu = UsbEmulator.plugModel("dfu-vornique", 1, 7);
        long d = connectTo(UsbEmulator.path(dfu));
        UsbEmulator.setDfuPollTimeouts(dfu, 0, 0);
        for (int t = 0; t < tablets.length; t++) {
            long h = connectTo(UsbEmulator.path(tablets[t]));
            int length = t == 4 ? 9 : 64; // product 0x040a takes nine-byte reports cut from the command
            for (char[] c : List.of(new char[0], command(3, t), command(64, t), command(100, t))) {
                String out = "OUT " + endpoints[t] + " " + lowBytes(c, length);
                assertTrue(usb.writeCommand(h, c));
                assertEquals(out, lastRecord(tablets[t]));
                assertTrue(usb.writeFirmwareCommand(h, c));
                assertEquals(out, lastRecord(tablets[t]));
                if (t > 0) {
                    continue;
                }
                assertTrue(usb.writeToControlTransfer(h, c));
                assertEquals("CTRL 21 09 0200 0000 0040 " + lowBytes(c, 64), lastRecord(tablets[t]));
                for (int block : new int[] {c.length, c.length / 2}) {
                    if (block > 0) {
                        assertTrue(usb.dfuDownload(d, 1, c, block));
                        assertEquals(String.format("CTRL 21 01 0001 0000 %04x %s", block, lowBytes(c, block)), lastRecord(dfu));
                        assertEquals(UsbEmulator.DFU_DNLOAD_IDLE, pollStatus(d)[4]);
                        assertTrue(usb.dfuAbort(d));
                    }
                }
            }
        }
    }

    @Test
    void aCommandTheDeviceNeverTakesTimesOutAfterTheMethodsTimeoutAndChangesNothing() {
        long device = UsbEmulator.plugTablet(0x5543, 0x0064, 1, 2);
        long h = connectTo(UsbEmulator.path(device));
        UsbEmulator.hangEndpoint(device, 0x01, 1);
        long started = System.nanoTime();
        assertFalse(usb.writeCommand(h, command(64, 1)));
        long millis = (System.nanoTime() - started) / 1_000_000;
        assertTrue(millis >= 190 && millis < 2000, "writeCommand gave up after " + millis + " ms");
        UsbEmulator.hangEndpoint(device, 0x01, 1);
        started = System.nanoTime();
        assertFalse(usb.writeFirmwareCommand(h, command(64, 2)));
        millis = (System.nanoTime() - started) / 1_000_000;
        assertTrue(millis >= 4900 && millis < 8000, "writeFirmwareCommand gave up after " + millis + " ms");
        UsbEmulator.failEndpoint(device, 0x01, -UsbEmulator.EPIPE, 1);
        assertFalse(usb.writeCommand(h, command(64, 3)));

        // Nothing is retried and nothing changes: the next command goes out, input still flows.
        char[] next = command(64, 4);
        assertTrue(usb.writeCommand(h, next));
        assertEquals(1, UsbEmulator.outReports(device).length, "only the accepted report arrived");
        UsbEmulator.feedInput(device, new byte[] {2, 42});
        assertTrue(waitForQueued(device));
        assertEquals(42, usb.readNativeUsbState(h)[1]);
    }

    @Test
    void aFailedOutputReportOnTheControlPipeLeavesTheDeviceUsable() {
        long device = UsbEmulator.plugTablet(0x172f, 0x0031, 1, 2);
        long h = connectTo(UsbEmulator.path(device));
        UsbEmulator.stallRequest(device, 0x21, 0x09, 0x0200, 1);
        assertFalse(usb.writeToControlTransfer(h, command(64, 10)));
        UsbEmulator.hangRequest(device, 0x21, 0x09, 0x0200, 1);
        assertFalse(usb.writeToControlTransfer(h, command(64, 11)));
        char[] after = command(64, 12);
        assertTrue(usb.writeToControlTransfer(h, after));
        assertEquals("CTRL 21 09 0200 0000 0040 " + lowBytes(after, 64), lastRecord(device));
        assertTrue(waitForQueued(device), "the read thread still waits for input");
    }

    /** GETSTATUS until the device leaves its busy states, waiting the poll timeout each answer asks for. */
    private byte[] pollStatus(long h) throws InterruptedException {
        for (;;) {
            byte[] status = usb.dfuGetStatus(h);
            int state = status[4];
            if (state != UsbEmulator.DFU_DNBUSY && state != UsbEmulator.DFU_DNLOAD_SYNC
                    && state != UsbEmulator.DFU_MANIFEST && state != UsbEmulator.DFU_MANIFEST_SYNC) {
                return status;
            }
            Thread.sleep((status[1] & 0xff) | (status[2] & 0xff) << 8 | (status[3] & 0xff) << 16);
        }
    }

    /** Downloads the image block by block as the device manager does; the status that ended it. */
    private byte[] download(long h, byte[] image) throws InterruptedException {
        int blocks = (image.length + BLOCK - 1) / BLOCK;
        for (int n = 0; n < blocks; n++) {
            int length = Math.min(BLOCK, image.length - n * BLOCK);
            char[] data = new char[length];
            for (int i = 0; i < length; i++) {
                data[i] = (char) (0x100 | image[n * BLOCK + i] & 0xff); // high bits the device never sees
            }
            assertTrue(usb.dfuDownload(h, n, data, length), "block " + n);
            byte[] status = pollStatus(h);
            if (status[4] != UsbEmulator.DFU_DNLOAD_IDLE) {
                return status;
            }
        }
        assertTrue(usb.dfuDownload(h, blocks, null, 0), "the empty block that ends the image");
        return pollStatus(h);
    }

    private static byte[] image(int blocks, long seed) {
        byte[] image = new byte[blocks * BLOCK - 37]; // the last block is a partial one
        new Random(seed).nextBytes(image);
        return image;
    }

    @Test
    void aTabletIsDetachedFoundInFirmwareUpdateModeAndFlashedWithTheWholeImage() throws Exception {
        long tablet = UsbEmulator.plugModel("tablet-dfu", 1, 2);
        long runtime = connectTo(UsbEmulator.path(tablet));
        assertArrayEquals(new byte[] {UsbEmulator.APP_IDLE}, usb.dfuGetState(runtime));
        assertTrue(usb.dfuDetach(runtime));
        long dfu = UsbEmulator.waitForSuccessor(tablet, WAIT);
        assertNotEquals(0L, dfu, "the tablet came back in firmware update mode, at a new address");
        assertNull(usb.dfuGetState(runtime), "the old instance's device has left");
        destroy(runtime);

        String dfuPath = Arrays.stream(usb.discoverUSBInputDevices().split("\\|")).filter(p -> p.contains("-0483-df11-"))
                .findFirst().orElseThrow();
        long h = connectTo(dfuPath);
        UsbEmulator.setDfuPollTimeouts(dfu, 1, 30);
        byte[] image = image(400, 1);
        assertArrayEquals(new byte[] {UsbEmulator.STATUS_OK, 0, 0, 0, UsbEmulator.DFU_IDLE, 0}, download(h, image));
        assertArrayEquals(image, UsbEmulator.dfuManifestedImage(dfu), "the stored image is the file");
        assertEquals(1, UsbEmulator.dfuManifestations(dfu));
        // Block numbers above 65535 go out as their low 16 bits.
        UsbEmulator.setDfuPollTimeouts(dfu, 0, 0);
        assertTrue(usb.dfuDownload(h, 0x10003, new char[] {0x141, 0x42}, 2));
        assertEquals("CTRL 21 01 0003 0000 0002 4142", lastRecord(dfu));
    }

    @Test
    void anErrorMidDownloadIsClearedAndTheDownloadStartsAgainAndAnAbortDropsAPartialImage() throws Exception {
        long dfu = UsbEmulator.plugModel("dfu-vornique", 1, 2);
        long h = connectTo(UsbEmulator.path(dfu));
        UsbEmulator.setDfuPollTimeouts(dfu, 1, 5);
        UsbEmulator.failDfuDownload(dfu, 5, UsbEmulator.ERR_WRITE);
        byte[] image = image(40, 2);
        assertArrayEquals(new byte[] {UsbEmulator.ERR_WRITE, 0, 0, 0, UsbEmulator.DFU_ERROR, 0}, download(h, image));
        assertArrayEquals(Arrays.copyOf(image, 4 * BLOCK), UsbEmulator.dfuReceived(dfu));
        assertFalse(usb.dfuDownload(h, 5, new char[BLOCK], BLOCK), "dfuERROR takes no block");
        assertTrue(usb.dfuClearStatus(h));
        assertTrue(usb.dfuAbort(h));
        assertArrayEquals(new byte[] {UsbEmulator.STATUS_OK, 0, 0, 0, UsbEmulator.DFU_IDLE, 0}, download(h, image));
        assertArrayEquals(image, UsbEmulator.dfuManifestedImage(dfu));

        assertTrue(usb.dfuDownload(h, 0, command(BLOCK, 3), BLOCK));
        assertEquals(UsbEmulator.DFU_DNLOAD_IDLE, pollStatus(h)[4]);
        assertTrue(usb.dfuAbort(h));
        assertTrue(usb.dfuDownload(h, 0, new char[] {1, 2, 3}, 3));
        assertArrayEquals(new byte[] {1, 2, 3}, UsbEmulator.dfuReceived(dfu), "a new download after the abort");
        assertEquals(1, UsbEmulator.dfuManifestations(dfu));

        // A status record shorter than 6 bytes gives null, not a short array.
        UsbEmulator.setDfuStatusLength(dfu, 5);
        assertNull(usb.dfuGetStatus(h));
    }
}
