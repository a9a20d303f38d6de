package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.*;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;
import quorvantelix.test.SwingWindow;
import quorvantelix.test.SysLog;

/**
 * A Swing application in the GTK look, subscribed, whose X server is killed while its window
 * paints and the screen's modes, outputs and size keep changing: the JVM ends as AWT ends it
 * when its server goes, never by a signal. Enough rounds that a fault seen once in a few runs
 * cannot pass by luck.
 */
class SwingServerLossTest {
    private static final String DISPLAY = System.getenv("DISPLAY"); // no server there until a round starts one

    @Test
    void theJvmEndsWithAwtsStatusEveryRound() throws Exception {
        SysLog.drain(); // the capture in place: the applications log to this suite's /dev/log
        Path output = Files.createTempFile("swing-application", ".txt");
        for (int round = 1; round <= Integer.getInteger("ns.rounds", 20); round++) {
            Process xvfb = NotifyRig.startXvfb(DISPLAY);
            Process application = SwingWindow.startApplication(SwingWindow.GTK, output.toFile());
            Process burst = null;
            try {
                for (long deadline = System.nanoTime() + 120_000_000_000L; !Files.readString(output).contains("painting\n");
                        Thread.sleep(20)) {
                    assertTrue(application.isAlive() && System.nanoTime() < deadline, "round " + round + ": "
                            + Files.readString(output));
                }
                assertTrue(SysLog.await(NotifyRig.CALLBACK_CREATED, 60_000), "round " + round);
                burst = NotifyRig.burstOfChanges(DISPLAY);
                assertTrue(SysLog.await(NotifyRig.DISPLAY_DETACHED, 20_000), "round " + round + ": changes reported");
                xvfb.destroyForcibly().waitFor();
                assertTrue(application.waitFor(120, TimeUnit.SECONDS), "round " + round + ": the application hangs");
                int status = application.exitValue();
                assertTrue(status > 0 && status < 128, "round " + round + ": status " + status + "\n" + Files.readString(output));
                SysLog.drain();
            } finally {
                application.destroyForcibly().waitFor();
                xvfb.destroyForcibly().waitFor();
                if (burst != null) {
                    burst.destroyForcibly().waitFor();
                }
            }
        }
        Files.delete(output);
    }
}
