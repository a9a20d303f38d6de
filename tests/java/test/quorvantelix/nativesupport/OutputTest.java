package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static quorvantelix.test.SysLog.debug;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import quorvantelix.dm.connections.usb.NativeUSB;
import quorvantelix.test.SysLog;
import quorvantelix.emulator.UsbEmulator;

/**
 * Commands over the interrupt OUT endpoint and output reports over the control pipe, sent to
 * emulated tablets: where they go, what arrives, and how failures show.
 */
class OutputTest extends EmulatedUsbSuite {
    private static final String WRITTEN_64 = debug("NATIVESUPPORT: write_Device Succeeded.  Bytes written (64).");

    private long connect(long device) {
        long h = connectTo(UsbEmulator.path(device));
        SysLog.drain();
        return h;
    }

    /** A command whose chars carry high bits the device must never see. */
    private static char[] command(int length, int seed) {
        char[] c = new char[length];
        for (int i = 0; i < length; i++) {
            c[i] = (char) (0x100 * (i % 3) + ((seed + 7 * i) & 0xff));
        }
        return c;
    }

    private static byte[] lowBytes(char[] chars, int length) {
        byte[] b = new byte[length];
        for (int i = 0; i < Math.min(length, chars.length); i++) {
            b[i] = (byte) chars[i];
        }
        return b;
    }

    private static String hex(byte[] bytes) {
        StringBuilder s = new StringBuilder();
        for (byte b : bytes) {
            s.append(String.format("%02x", b & 0xff));
        }
        return s.toString();
    }

    private static byte[] lastOutReport(long device) {
        byte[][] reports = UsbEmulator.outReports(device);
        return reports[reports.length - 1];
    }

    private static String lastRecord(long device) {
        String[] records = UsbEmulator.records(device);
        return records[records.length - 1];
    }

    @Test
    void commandsGoToTheOutEndpointOfTheirProductAsLowBytesOfReportLength() {
        long out2 = UsbEmulator.plugTablet(0x078c, 0x0701, 1, 2);
        long sameVendor = UsbEmulator.plugTablet(0x078c, 0x0703, 1, 3);
        long otherVendor = UsbEmulator.plugTablet(0x5543, 0x0700, 1, 4);
        long[] devices = {out2, sameVendor, otherVendor};
        String[] endpoints = {"02", "01", "01"};
        for (int i = 0; i < devices.length; i++) {
            long h = connect(devices[i]);
            char[] c = command(64, i);
            assertTrue(usb.writeCommand(h, c));
            assertTrue(usb.writeFirmwareCommand(h, command(64, 100 + i)));
            String[] records = UsbEmulator.records(devices[i]);
            assertEquals("OUT " + endpoints[i] + " " + hex(lowBytes(c, 64)), records[records.length - 2]);
            assertEquals("OUT " + endpoints[i] + " " + hex(lowBytes(command(64, 100 + i), 64)),
                    records[records.length - 1]);
            assertEquals(List.of(WRITTEN_64, WRITTEN_64), SysLog.drain());
        }
    }

    @Test
    void product040aTakesNineByteReportsCutFromTheCommand() {
        long device = UsbEmulator.plugModel("tablet-040a", 1, 2);
        long h = connect(device);
        char[] c = command(64, 3);
        c[0] = 0x141;
        assertTrue(usb.writeCommand(h, c));
        byte[] sent = lastOutReport(device);
        assertEquals(9, sent.length);
        assertEquals(0x41, sent[0]);
        assertArrayEquals(lowBytes(c, 9), sent);
        assertEquals(List.of(debug("NATIVESUPPORT: write_Device Succeeded.  Bytes written (9).")), SysLog.drain());
    }

    @Test
    void aShortCommandArrayIsSentWithZerosForTheMissingChars() {
        long device = UsbEmulator.plugTablet(0x078c, 0x0600, 1, 2);
        long h = connect(device);
        char[] c = {0x1ff, 0x02, 0x303};
        assertTrue(usb.writeCommand(h, c));
        assertArrayEquals(lowBytes(c, 64), lastOutReport(device));
        assertTrue(usb.writeToControlTransfer(h, c));
        assertEquals("CTRL 21 09 0200 0000 0040 " + hex(lowBytes(c, 64)), lastRecord(device));
        assertEquals(List.of(WRITTEN_64,
                debug("NATIVESUPPORT: Getting ready to perform a control transfer. Size: (64)"),
                debug("NATIVESUPPORT: Control Transfer Succeeded.  Bytes written (64).")), SysLog.drain());
    }

    @Test
    void aCommandTheDeviceNeverAcceptsTimesOutAfterTheMethodsTimeout() {
        long device = UsbEmulator.plugTablet(0x5543, 0x0064, 1, 2);
        long h = connect(device);
        String timedOut = debug("NATIVESUPPORT: write_Device failed.  Bytes written (0). Error Code "
                + "(LIBUSB_ERROR_TIMEOUT).");

        UsbEmulator.hangEndpoint(device, 0x01, 1);
        long started = System.nanoTime();
        assertFalse(usb.writeCommand(h, command(64, 1)));
        long tookMillis = (System.nanoTime() - started) / 1_000_000;
        assertTrue(tookMillis >= 190 && tookMillis < 2000, "writeCommand gave up after " + tookMillis + " ms");
        assertEquals(List.of(timedOut), SysLog.drain());
        assertTrue(UsbEmulator.waitForDiscards(device, 1, WAIT));

        UsbEmulator.hangEndpoint(device, 0x01, 1);
        started = System.nanoTime();
        assertFalse(usb.writeFirmwareCommand(h, command(64, 2)));
        tookMillis = (System.nanoTime() - started) / 1_000_000;
        assertTrue(tookMillis >= 4900 && tookMillis < 8000, "writeFirmwareCommand gave up after " + tookMillis + " ms");
        assertEquals(List.of(timedOut), SysLog.drain());

        UsbEmulator.failEndpoint(device, 0x01, -UsbEmulator.EPIPE, 1);
        assertFalse(usb.writeCommand(h, command(64, 3)));
        assertEquals(List.of(debug("NATIVESUPPORT: write_Device failed.  Bytes written (0). Error Code "
                + "(LIBUSB_ERROR_PIPE).")), SysLog.drain());

        // Nothing is retried and nothing changes: the next command goes out, input still flows.
        char[] next = command(64, 4);
        assertTrue(usb.writeCommand(h, next));
        assertArrayEquals(lowBytes(next, 64), lastOutReport(device));
        assertEquals(1, UsbEmulator.outReports(device).length, "only the accepted report arrived");
        assertTrue(UsbEmulator.waitForPendingIn(device, WAIT));
        UsbEmulator.feedInput(device, new byte[] {2, 42});
        assertTrue(waitForQueued(device));
        assertEquals(42, usb.readNativeUsbState(h)[1]);
    }

    @Test
    void outputReportsOverTheControlPipeArrivePaddedAndAStallLeavesTheDeviceUsable() {
        long device = UsbEmulator.plugTablet(0x172f, 0x0031, 1, 2);
        long h = connect(device);
        String ready = debug("NATIVESUPPORT: Getting ready to perform a control transfer. Size: (64)");
        String sent = debug("NATIVESUPPORT: Control Transfer Succeeded.  Bytes written (64).");

        char[] full = command(64, 9);
        assertTrue(usb.writeToControlTransfer(h, full));
        assertEquals("CTRL 21 09 0200 0000 0040 " + hex(lowBytes(full, 64)), lastRecord(device));
        assertEquals(List.of(ready, sent), SysLog.drain());

        UsbEmulator.stallRequest(device, 0x21, 0x09, 0x0200, 1);
        assertFalse(usb.writeToControlTransfer(h, command(64, 10)));
        assertEquals(List.of(ready, debug("NATIVESUPPORT: Control Transfer Failed.")), SysLog.drain());
        assertTrue(lastRecord(device).endsWith(" status=-32"), lastRecord(device));

        UsbEmulator.hangRequest(device, 0x21, 0x09, 0x0200, 1);
        assertFalse(usb.writeToControlTransfer(h, command(64, 11)));
        assertEquals(List.of(ready, debug("NATIVESUPPORT: Control Transfer Failed.")), SysLog.drain());

        char[] after = command(64, 12);
        assertTrue(usb.writeToControlTransfer(h, after));
        assertEquals("CTRL 21 09 0200 0000 0040 " + hex(lowBytes(after, 64)), lastRecord(device));
        assertEquals(List.of(ready, sent), SysLog.drain());
        assertTrue(waitForQueued(device), "the read thread still waits for input");
    }

    @Test
    void requestsOnANeverOpenedInstanceSendNothing() {
        long device = UsbEmulator.plugModel("dfu-vornique", 1, 2);
        long h = create();
        assertFalse(usb.writeCommand(h, command(64, 1)));
        assertFalse(usb.writeFirmwareCommand(h, command(64, 1)));
        assertFalse(usb.writeToControlTransfer(h, command(64, 1)));
        assertFalse(usb.dfuDetach(h));
        assertFalse(usb.dfuDownload(h, 0, command(16, 1), 16));
        assertNull(usb.dfuGetStatus(h));
        assertFalse(usb.dfuClearStatus(h));
        assertNull(usb.dfuGetState(h));
        assertFalse(usb.dfuAbort(h));
        List<String> lines = SysLog.drain();
        assertEquals(11, lines.size(), lines.toString());
        assertTrue(lines.stream().allMatch(l -> l.startsWith("7 ") && (l.contains("m_usb_handle was NULL.")
                || l.contains("Size: (0)") || l.endsWith("NativeUSB_dfuGetStatus."))), lines.toString());
        assertEquals(List.of(), Arrays.asList(UsbEmulator.records(device)), "no USB traffic");
        assertTrue(UsbEmulator.waitForClients(device, 0, WAIT), "the device was never opened");
    }
}
