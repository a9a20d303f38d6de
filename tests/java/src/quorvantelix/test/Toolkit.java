package quorvantelix.test;

/** Stand-ins for what an application brings into the JVM beside the library (tests/support/ToolkitJni.cpp). */
public final class Toolkit {
    static {
        System.loadLibrary("NativeSupportToolkit");
    }

    private Toolkit() {
    }

    /** Opens the toolkit's connection to $DISPLAY and installs its X error handler. */
    public static native boolean open();

    /** Sends a request about a window that does not exist; the errors the toolkit's handler has seen. */
    public static native int provokeBadWindow();

    /** Sets DISPLAY in the process's environment; null removes it. */
    public static native void setDisplay(String display);
}
