package quorvantelix.emulator;

/**
 * Test-side USB device emulator: plugs emulated pen tablets and other USB
 * devices that libusb inside libNativeSupport.so enumerates, opens and
 * drives as if they were real.
 *
 * <p>The JVM must run with libumockdev-preload.so.0 in LD_PRELOAD, and
 * {@link #start()} (or any plug) must run before libNativeSupport.so
 * initialises libusb. The native side is libNativeSupportEmulator.so,
 * loaded from the system property {@code nsemu.library} (a full path) if
 * set, else through {@code System.loadLibrary}.
 *
 * <p>Device handles are opaque longs. Every method is thread safe. Waits
 * return false when the timeout passes first; they never sleep-poll.
 */
public final class UsbEmulator {

    /** Fault repeat count meaning "every time from now on". */
    public static final int ALWAYS = -1;
    /** Wildcard for request fields in the fault methods. */
    public static final int ANY = -1;

    /** errno values; URB statuses are their negatives, e.g. -EPROTO. */
    public static final int ENOMEM = 12;
    public static final int ENODEV = 19;
    public static final int EPIPE = 32;
    public static final int EPROTO = 71;
    public static final int EOVERFLOW = 75;
    public static final int EILSEQ = 84;
    public static final int ESHUTDOWN = 108;
    public static final int ETIMEDOUT = 110;

    static {
        String path = System.getProperty("nsemu.library");
        if (path != null) {
            System.load(path);
        } else {
            System.loadLibrary("NativeSupportEmulator");
        }
    }

    private UsbEmulator() {
    }

    /** Creates the emulated /sys and /dev; idempotent. */
    public static native void start();

    /** The testbed directory that stands in for / under /sys and /dev. */
    public static native String rootDir();

    /**
     * Names accepted by {@link #plugModel}: digitizer, tablet-078c,
     * tablet-078c-out2, tablet-0483, tablet-08ca, tablet-5543, tablet-172f,
     * tablet-040a, tablet-dfu, dfu, dfu-vornique, dfu-vornique-5750 (vendor 0x0483
     * in DFU mode with a product other than 0xdf11), unsupported, kernel-driver.
     * tablet-dfu (0x078c:0x0600) answers DFU_DETACH by leaving the bus and
     * coming back as dfu-vornique at a new address (see {@link #waitForSuccessor}).
     */
    public static native String[] models();

    public static native long plugModel(String model, int bus, int address);

    /** A pen tablet of a supported vendor, following the per-vendor endpoint rules. */
    public static native long plugTablet(int vendorId, int productId, int bus, int address);

    /**
     * A HID device built from the given fields. Empty or null strings get
     * string index 0; inPacketSize 0 means no IN endpoint, outEndpoint 0 no
     * OUT endpoint (else 0x01 or 0x02).
     */
    public static native long plug(int bus, int address, int vendorId, int productId, int deviceClass,
            int deviceSubClass, int bcdDevice, byte[] reportDescriptor, int inPacketSize, int outEndpoint,
            int outPacketSize, String manufacturer, String product, String serial, String interfaceString,
            boolean kernelDriver);

    /** Ends transfers in flight with -ESHUTDOWN, sends "remove", removes the device. */
    public static native void unplug(long device);

    public static native void unplugAll();

    public static native boolean isPlugged(long device);

    /** "%03i/%03i-%04x-%04x-%02x-%02x": bus/address-vendor-product-class-subclass. */
    public static native String path(long device);

    /** Completes the pending interrupt IN transfer with report, or queues it in order. */
    public static native void feedInput(long device, byte[] report);

    /**
     * While on, the device answers each poll of its interrupt IN endpoint for which it has no
     * fed report with an empty packet (a zero-length transfer), one answer per polling interval
     * (bInterval) of the endpoint, as a device the host polls does. Fed reports still go out
     * first and at once.
     */
    public static native void answerEmpty(long device, boolean on);

    /** Stalls matching control requests (ANY matches every value). */
    public static native void stallRequest(long device, int bmRequestType, int bRequest, int wValue, int times);

    /** Ends matching control requests with URB status (a negative errno). */
    public static native void failRequest(long device, int bmRequestType, int bRequest, int wValue, int status,
            int times);

    /** Never answers matching control requests: the host times out. */
    public static native void hangRequest(long device, int bmRequestType, int bRequest, int wValue, int times);

    /** Ends the next transfers on endpoint (e.g. 0x81, 0x01) with URB status (a negative errno). */
    public static native void failEndpoint(long device, int endpoint, int status, int times);

    /** The endpoint never accepts: transfers stay pending until the host gives up. */
    public static native void hangEndpoint(long device, int endpoint, int times);

    /** The next submissions on endpoint are refused with errno (e.g. ENOMEM): the host's submit fails. */
    public static native void rejectEndpoint(long device, int endpoint, int errno, int times);

    /**
     * The device in use leaves the bus the moment the next matching control request reaches
     * it: that request ends as shut down (-ESHUTDOWN), as every transfer in flight does.
     */
    public static native void unplugOnRequest(long device, int bmRequestType, int bRequest, int wValue);

    /** The device leaves the bus the moment the next transfer on endpoint reaches it. */
    public static native void unplugOnEndpoint(long device, int endpoint);

    public static native void clearFaults(long device);

    /** For 0x08ca/0x172f tablets: the GET_REPORT value after the 3-byte command. */
    public static native void setFeatureAnswer(long device, byte[] command, int value);

    /**
     * Everything the device received, in order, one line each:
     * "CTRL 21 09 0302 0000 0003 020400" (bmRequestType bRequest wValue
     * wIndex wLength [OUT data]) or "OUT 01 0102..." (endpoint, data);
     * failed ones end in " status=-32", unanswered ones in " hung".
     */
    public static native String[] records(long device);

    /** Data of the interrupt OUT reports the device accepted, in order. */
    public static native byte[][] outReports(long device);

    public static native boolean kernelDriverBound(long device);

    public static native boolean waitForPendingIn(long device, long timeoutMillis);

    /**
     * Waits until the host has reaped every report fed so far and has at least
     * pendingIn IN transfers waiting again.
     */
    public static native boolean waitForInputTaken(long device, int pendingIn, long timeoutMillis);

    /** Waits until the device has given at least count empty answers (see {@link #answerEmpty}). */
    public static native boolean waitForEmptyAnswers(long device, int count, long timeoutMillis);

    public static native boolean waitForRecords(long device, int count, long timeoutMillis);

    public static native boolean waitForDiscards(long device, int count, long timeoutMillis);

    /** Waits until at least count requests or transfers are held back by a hang fault. */
    public static native boolean waitForHung(long device, int count, long timeoutMillis);

    /** Waits until exactly count file descriptors have the device open. */
    public static native boolean waitForClients(long device, int count, long timeoutMillis);

    public static native boolean waitForClaimed(long device, boolean claimed, long timeoutMillis);

    public static native boolean waitForKernelDriver(long device, boolean bound, long timeoutMillis);

    // DFU (USB Device Firmware Upgrade 1.1) devices: dfu, dfu-vornique, and the DFU mode of
    // tablet-dfu. Every method below also takes a tablet-dfu device, meaning the DFU-mode
    // device it comes back as.

    /** DFU states as GETSTATUS and GETSTATE report them. */
    public static final int APP_IDLE = 0;
    public static final int APP_DETACH = 1;
    public static final int DFU_IDLE = 2;
    public static final int DFU_DNLOAD_SYNC = 3;
    public static final int DFU_DNBUSY = 4;
    public static final int DFU_DNLOAD_IDLE = 5;
    public static final int DFU_MANIFEST_SYNC = 6;
    public static final int DFU_MANIFEST = 7;
    public static final int DFU_ERROR = 10;
    /** DFU bStatus codes. */
    public static final int STATUS_OK = 0x00;
    public static final int ERR_WRITE = 0x03;
    public static final int ERR_VERIFY = 0x07;
    public static final int ERR_STALLEDPKT = 0x0f;

    /**
     * The device a re-enumerating device (tablet-dfu after DFU_DETACH) came back as, once it
     * is plugged; 0 if it has not come back within the timeout.
     */
    public static native long waitForSuccessor(long device, long timeoutMillis);

    /** The DFU state the device is in now. */
    public static native int dfuState(long device);

    /**
     * bwPollTimeout of the GETSTATUS that enters dfuDNBUSY (after each block) and of the one
     * that enters dfuMANIFEST. 0 for downloads skips dfuDNBUSY. A request that arrives before
     * the poll timeout has passed stalls and puts the device in dfuERROR (errSTALLEDPKT).
     */
    public static native void setDfuPollTimeouts(long device, int downloadMillis, int manifestMillis);

    /**
     * The nth DFU_DNLOAD with data from now on (1: the next one) is not stored: the GETSTATUS
     * after it reports bStatus and dfuERROR.
     */
    public static native void failDfuDownload(long device, int nth, int bStatus);

    /** GETSTATUS answers only the first length bytes of its 6-byte record. */
    public static native void setDfuStatusLength(long device, int length);

    /** The blocks of the current (or last) download, joined in block number order. */
    public static native byte[] dfuReceived(long device);

    /** The image of the last manifestation; empty before the first. */
    public static native byte[] dfuManifestedImage(long device);

    public static native int dfuManifestations(long device);
}
