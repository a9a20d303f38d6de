package quorvantelix.test;

/** This JVM's user. */
public final class Privileges {
    static {
        System.loadLibrary("NativeSupportPrivileges");
    }

    private Privileges() {
    }

    /** From root to that user and group, for good, with no supplementary group; false when it failed. */
    public static native boolean become(int uid, int gid);
}
