package quorvantelix.test;

import java.util.*;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.stream.IntStream;

/**
 * Every line the library writes, once: its priority, its words, and what stands in each of its
 * places. The syslog capture holds each line it takes against this table (SysLog), and a suite
 * in which the library wrote a line that is not here, or wrote one with another priority, fails
 * (LogCheck). The behaviour suites provoke the lines and compare those that matter to them word
 * for word. A new line of the library is one more entry here.
 *
 * <p>Places: {handle} a native instance handle or libusb handle as "%d" (its low 32 bits),
 * {pointer} an address or instance as "%ld", {int} any "%d", {count} a count of bytes (never
 * negative), {error} a libusb error name or nothing, {vid} four hex digits, {path} a device path
 * string, {paths} such strings joined by "|", {busAddress} the first seven characters of one,
 * {request} the name of a DFU request, {method} a native method's name, {text} any text.
 */
public final class LogTable {
    private static final String PATH = "\\d{3}/\\d{3}-\\p{XDigit}{4}-\\p{XDigit}{4}-\\p{XDigit}{2}-\\p{XDigit}{2}";
    private static final Map<String, String> PLACES = Map.ofEntries(Map.entry("handle", "-?\\d+"),
            Map.entry("pointer", "-?\\d{1,19}"), Map.entry("int", "-?\\d+"), Map.entry("count", "\\d+"),
            Map.entry("error", "(?:LIBUSB_ERROR_(?:IO|INVALID_PARAM|ACCESS|NO_DEVICE|NOT_FOUND|BUSY|TIMEOUT|OVERFLOW|PIPE"
                    + "|INTERRUPTED|NO_MEM|NOT_SUPPORTED|OTHER))?"),
            Map.entry("vid", "[0-9a-f]{4}"), Map.entry("path", PATH), Map.entry("paths", "(?:" + PATH + "(?:\\|" + PATH + ")*)?"),
            Map.entry("busAddress", "\\d{3}/\\d{3}"), Map.entry("request", "(?:Detach|Download|GetStatus|ClearStatus|GetState|Abort)"),
            Map.entry("method", "[A-Za-z]+"), Map.entry("text", ".*"));
    /** The places a "%d" fills: their values fit in an int. */
    private static final Set<String> INTS = Set.of("handle", "int", "count");

    private static final List<Entry> LINES = List.of(
            // Instances, handles and what Java hands the library
            debug("NATIVESUPPORT: USBDevice* doesn't exist for nativeInstanceHandle {handle}"),
            debug("NATIVESUPPORT: Java_quorvantelix_dm_connections_usb_NativeUSB_dfu{request}.  USBDevice* doesn't exist "
                    + "for nativeInstanceHandle {handle}"),
            debug("NATIVESUPPORT: {method}() failed: {text}"),
            debug("NATIVESUPPORT: {method}() refused a null array.  Nothing was sent."),
            debug("NATIVESUPPORT: dfuDownload() refused a length ({count}) longer than its data ({count}).  Nothing was sent."),
            debug("NATIVESUPPORT: connectNativeUsb() called without a device path."),
            // Discovery and the lookups
            info("NATIVESUPPORT: Found VID: {vid}"),
            info("NATIVESUPPORT: Found: {paths}"),
            info("NATIVESUPPORT: Unable to retrieve device descriptor so we cannot validate a device match. Moving on to "
                    + "next device."),
            info("NATIVESUPPORT: getVid() Looking For : {text}"),
            info("NATIVESUPPORT: getPid() Looking For : {text}"),
            info("NATIVESUPPORT: getVid() Found : {busAddress}"),
            info("NATIVESUPPORT: getPid() Found : {busAddress}"),
            // Opening
            info("NATIVESUPPORT: open_Device() Looking For : {text}"),
            info("NATIVESUPPORT: Unable to retrieve device descriptor so we cannot validate a device match.  Moving on to "
                    + "next device."),
            info("NATIVESUPPORT: open_Device() Found : {path}"),
            debug("NATIVESUPPORT: Unable to retrieve device descriptor.  Device will not be opened. Error Code ({error})."),
            debug("NATIVESUPPORT: m_usb_handle is not NULL.  Device is already open."),
            debug("NATIVESUPPORT: libusb_open failed with error code {error}"),
            debug("NATIVESUPPORT: Unable to retrieve active configuration descriptor.  Device will not be opened. Error "
                    + "Code ({error})."),
            debug("NATIVESUPPORT: Interface 0 has no endpoint to read reports from.  Closing device."),
            debug("NATIVESUPPORT: Failed to detach active Kernel Driver."),
            debug("NATIVESUPPORT: Unable to claim interface. Closing device."),
            info("NATIVESUPPORT: No permission to open the tablet at /dev/bus/usb/{busAddress}.  The libnativesupport-jni "
                    + "package's udev rule gives tablets to the user logged in at this computer's own screen and keyboard "
                    + "(the seat): install the package, and run the application as that user."),
            info("NATIVESUPPORT: The tablet at /dev/bus/usb/{busAddress} is held by another program.  Close the other "
                    + "program that uses it (another copy of the application, or a tablet driver), then connect again."),
            debug("NATIVESUPPORT:  get_Device_Info() Retrieving Report descriptor Failed..."),
            debug("NATIVESUPPORT: The device was unplugged while it was opened.  Closing device."),
            debug("NATIVESUPPORT: DFU Device isn't ours.  Closing device."),
            // Reading, writing, closing
            debug("NATIVESUPPORT: Read thread is starting for device: {text}"),
            debug("NATIVESUPPORT: libusb_interrupt_transfer failed. Bytes written ({count}). Error Code ({error})"),
            debug("NATIVESUPPORT: readThreadLoop has stopped. No IN transactions will be processed."),
            debug("NATIVESUPPORT: Input report queue for handle {handle} is full.  Dropped {count} oldest reports so far."),
            debug("NATIVESUPPORT: Input report queue for handle {handle} has drained.  Dropped {count} reports in all."),
            debug("NATIVESUPPORT: No memory for an input report for handle {handle}.  The report was dropped."),
            debug("NATIVESUPPORT: No memory or thread for reading the reports of handle {handle}."),
            error("NATIVESUPPORT: The USB event thread met an unexpected error.  Reports are no longer read."),
            debug("NATIVESUPPORT: write_Device Succeeded.  Bytes written ({count})."),
            debug("NATIVESUPPORT: write_Device failed.  Bytes written ({count}). Error Code ({error})."),
            debug("NATIVESUPPORT: write_Device failed.  m_usb_handle was NULL."),
            debug("NATIVESUPPORT: write_Device failed.  Device no longer exists for m_usb_handle {handle}"),
            debug("NATIVESUPPORT: close_Device on handle {handle}"),
            debug("NATIVESUPPORT: close_Device: About to clear input report queue for handle {handle}"),
            debug("NATIVESUPPORT: close_Device: About to release interface and close for handle {handle}"),
            // Control transfers and firmware update requests
            debug("NATIVESUPPORT: Getting ready to perform a control transfer. Size: ({count})"),
            debug("NATIVESUPPORT: Control Transfer Succeeded.  Bytes written ({count})."),
            debug("NATIVESUPPORT: Control Transfer Failed."),
            debug("NATIVESUPPORT: Control Transfer Failed.  m_usb_handle was NULL."),
            debug("NATIVESUPPORT: Java_quorvantelix_dm_connections_usb_NativeUSB_dfuGetStatus."),
            debug("NATIVESUPPORT: DFU {request} Succeeded."),
            debug("NATIVESUPPORT: DFU Download Succeeded.  Bytes written ({count})"),
            debug("NATIVESUPPORT: DFU {request} Succeeded.  Bytes received ({count})"),
            debug("NATIVESUPPORT: DFU {request} Failed."),
            debug("NATIVESUPPORT: DFU Download Failed.  Length ({int}) does not fit a DFU block."),
            debug("NATIVESUPPORT: DFU {request} Failed. m_usb_handle was NULL."),
            debug("NATIVESUPPORT: DFU {request} failed.  Device no longer exists for m_usb_handle: {handle}"),
            // Change notifications
            info("NATIVESUPPORT: Native Java subscribeUSBChangeEvents() JavaVM* = {pointer}"),
            info("NATIVESUPPORT: Native Java subscribeUSBChangeEvents() JNIEnv = {pointer}"),
            info("NATIVESUPPORT: Native Java subscribeUSBChangeEvents() jclass = {pointer}"),
            info("NATIVESUPPORT: Native Java subscribeUSBChangeEvents() jmethodID = {pointer}"),
            info("NATIVESUPPORT: Native Java unsubscribeUSBChangeEvents()"),
            info("NATIVESUPPORT: USB hot-plug notification could not be started ({text}).  USB devices that come or go "
                    + "are not reported."),
            error("NATIVESUPPORT: USB hot-plug notification met an unexpected error.  USB devices that come or go are "
                    + "no longer reported."),
            info("NATIVESUPPORT: sig= {int}"),
            info("NATIVESUPPORT: si->si_fd= {int}"),
            info("NATIVESUPPORT: Native Java USB_Changed_Thread() Attached JNIEnv = {pointer}"),
            info("NATIVESUPPORT: Native Java USB_Changed_Thread() Detached JNIEnv = {pointer}"),
            info("NATIVESUPPORT: {text} threw {text}"),
            info("NATIVESUPPORT: startDisplayChangedEventThread(): Entered.\n"),
            info("NATIVESUPPORT: startDisplayChangedEventThread(): call back created.\n"),
            info("NATIVESUPPORT: startDisplayChangedEventThread(): cannot open the display. Display changes are not "
                    + "reported.\n"),
            info("NATIVESUPPORT: startDisplayChangedEventThread(): XCB could not be loaded ({text}). Display changes "
                    + "are not reported.\n"),
            info("NATIVESUPPORT: startDisplayChangedEventThread(): the connection to the X server was lost. Display "
                    + "changes are not reported until it is back.\n"),
            error("NATIVESUPPORT: startDisplayChangedEventThread(): an unexpected error ended the display thread.  "
                    + "Display changes are no longer reported."),
            info("NATIVESUPPORT: resize_cb(): called.\n"),
            info("NATIVESUPPORT: resize_cb(): screen width {int}"),
            info("NATIVESUPPORT: resize_cb(): screen height {int}"),
            info("Native Java sendJNIDisplayReconfigurationEvent() Detached JNIEnv\n"),
            // Shared memory
            debug("SHAREDMEMORY: {method}() failed: {text}"),
            debug("SHAREDMEMORY: Constructor Pushing Shared Memory Instance ({pointer})"),
            debug("SHAREDMEMORY: shmget was successful for key ({int}).  Shared Memory ID Created ({int})"),
            debug("SHAREDMEMORY: shmat was successful Shared Memory Address ({pointer})"),
            debug("SHAREDMEMORY: Successfully attached and created a new Shared Memory Instance ({pointer})"),
            debug("SHAREDMEMORY: retrieveSharedMemoryDirectByteBuffer() called for Shared Memory Instance ({pointer})"),
            debug("SHAREDMEMORY: releaseSharedMemory() called for Shared Memory Instance ({pointer})"),
            debug("SHAREDMEMORY: Shared Memory Instance ({pointer}) found."),
            debug("SHAREDMEMORY: shmdt returned ({int})"),
            debug("SHAREDMEMORY: Successfully detached Shared Memory Address ({pointer})"),
            debug("SHAREDMEMORY: Deleting Shared Memory Instance ({pointer})"));

    private LogTable() {
    }

    /**
     * What is wrong with a line as the capture reads it ("P text", P its priority): null when
     * the table has it with that priority.
     */
    public static String problemWith(String line) {
        String text = line.substring(2);
        String priority = null;
        for (Entry entry : LINES) {
            if (text.startsWith(entry.head) && entry.matches(text)) {
                if (entry.priority == line.charAt(0)) {
                    return null;
                }
                priority = "priority " + entry.priority;
            }
        }
        return (priority == null ? "not in the log table" : "wanted " + priority) + ": " + line;
    }

    private static final class Entry {
        final char priority;
        /** The words before the first place: most lines are told apart by them alone. */
        final String head;
        final Pattern pattern;
        final List<Boolean> ints = new ArrayList<>();

        Entry(char priority, String template) {
            this.priority = priority;
            this.head = template.split("\\{", 2)[0];
            StringBuilder regex = new StringBuilder();
            Matcher place = Pattern.compile("\\{(\\w+)}").matcher(template);
            int from = 0;
            for (; place.find(); from = place.end()) {
                String name = place.group(1);
                regex.append(Pattern.quote(template.substring(from, place.start()))).append('(')
                        .append(Objects.requireNonNull(PLACES.get(name), "no such place in " + template)).append(')');
                ints.add(INTS.contains(name));
            }
            pattern = Pattern.compile(regex.append(Pattern.quote(template.substring(from))).toString(), Pattern.DOTALL);
        }

        boolean matches(String text) {
            Matcher m = pattern.matcher(text);
            return m.matches() && IntStream.range(0, ints.size()).allMatch(i -> !ints.get(i) || fitsAnInt(m.group(i + 1)));
        }
    }

    private static boolean fitsAnInt(String value) {
        try {
            Integer.parseInt(value);
            return true;
        } catch (NumberFormatException e) {
            return false;
        }
    }

    private static Entry debug(String template) {
        return new Entry('7', template);
    }

    private static Entry info(String template) {
        return new Entry('6', template);
    }

    private static Entry error(String template) {
        return new Entry('3', template);
    }
}
