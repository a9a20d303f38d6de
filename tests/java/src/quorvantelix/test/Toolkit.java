package quorvantelix.test;

/** A stand-in for the application's toolkit on the X server: its own connection and X error handler. */
public final class Toolkit {
    static {
        System.loadLibrary("NativeSupportToolkit");
    }

    private Toolkit() {
    }

    /** Opens the toolkit's connection to $DISPLAY and installs its error handler. */
    public static native boolean open();

    /** Sends a request about a window that does not exist; the errors the toolkit's handler has seen. */
    public static native int provokeBadWindow();
}
