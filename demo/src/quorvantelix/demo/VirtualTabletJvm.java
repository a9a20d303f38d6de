package quorvantelix.demo;

import java.io.File;
import java.io.IOException;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;

/**
 * Runs the monitor again in a JVM of its own for the virtual tablet: that JVM must have
 * umockdev's preload library from its start, and once its emulator runs it sees the
 * emulated USB only.
 */
final class VirtualTabletJvm {
    /** Set in the virtual tablet's JVM. */
    static final String MARKER = "quorvantelix.demo.virtualTabletJvm";
    /** umockdev's preload library, as the launcher names it. */
    static final String PRELOAD = "quorvantelix.demo.preload";
    private static final long END_MS = 30_000;

    private VirtualTabletJvm() {
    }

    static boolean isThisOne() {
        return Boolean.getBoolean(MARKER);
    }

    /** Runs it with the same arguments and returns its exit status; stops it when control says so. */
    static int run(List<String> args, RunControl control) throws IOException, InterruptedException {
        List<String> command = new ArrayList<>();
        command.add(System.getProperty("java.home") + File.separator + "bin" + File.separator + "java");
        command.add("-Djava.awt.headless=true");
        command.add("-Djava.library.path=" + System.getProperty("java.library.path"));
        command.add("-D" + MARKER + "=true");
        command.add("-cp");
        command.add(System.getProperty("java.class.path"));
        command.add(TabletMonitor.class.getName());
        command.addAll(args);
        ProcessBuilder builder = new ProcessBuilder(command).inheritIO();
        String preload = System.getProperty(PRELOAD, "libumockdev-preload.so.0");
        String earlier = System.getenv("LD_PRELOAD");
        builder.environment().put("LD_PRELOAD", earlier == null || earlier.isEmpty() ? preload : earlier + ":" + preload);
        Process jvm = builder.start();
        while (!control.stop.await(50, TimeUnit.MILLISECONDS)) {
            if (!jvm.isAlive()) {
                return jvm.exitValue();
            }
        }
        jvm.destroy();   // SIGTERM: its own shutdown hook cleans up
        if (!jvm.waitFor(END_MS, TimeUnit.MILLISECONDS)) {
            jvm.destroyForcibly().waitFor();
        }
        return jvm.exitValue();
    }
}
