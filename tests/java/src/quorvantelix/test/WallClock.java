package quorvantelix.test;

/** The wall clock of a JVM started with the NativeSupportWallClock library preloaded. */
public final class WallClock {
    static {
        System.loadLibrary("NativeSupportWallClock");
    }

    private WallClock() {
    }

    /** Steps the wall clock by that many seconds (back when negative); the monotonic clock stays. */
    public static native void step(long seconds);
}
