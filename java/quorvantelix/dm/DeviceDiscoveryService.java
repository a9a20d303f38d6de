package quorvantelix.dm;

/**
 * The tablet monitor's discovery service. The library calls its two static methods from
 * threads of its own (the notification thread and the display thread); each call is handed
 * to the listener, which must return quickly and do no USB work on that thread.
 */
public class DeviceDiscoveryService {
    /** What the monitor does with the library's calls. */
    public interface Listener {
        void usbDevicesChanged();

        void displayChanged();
    }

    private static volatile Listener listener;

    private DeviceDiscoveryService() {
    }

    /** The listener of later calls; null drops them. */
    public static void setListener(Listener l) {
        listener = l;
    }

    /** Called by the library when USB devices came or went. */
    public static void handleUSBHotPlugEvent() {
        Listener l = listener;
        if (l != null) {
            l.usbDevicesChanged();
        }
    }

    /** Called by the library when the size of the screen changed. */
    public static void handleDisplayChangedEvent() {
        Listener l = listener;
        if (l != null) {
            l.displayChanged();
        }
    }
}
