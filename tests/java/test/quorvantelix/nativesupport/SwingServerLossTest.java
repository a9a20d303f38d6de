package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.*;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
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
    private static final int ROUNDS = Integer.getInteger("ns.rounds", 20);

    @Test
    void theJvmEndsWithAwtsStatusEveryRound() throws Exception {
        SysLog.drain(); // the capture in place: the applications log to this suite's /dev/log
        for (int round = 1; round <= ROUNDS; round++) {
            Process xvfb = NotifyRig.startXvfb(DISPLAY);
            Process application = SwingWindow.startApplication(SwingWindow.GTK);
            Process burst = null;
            try {
                StringBuffer said = new StringBuffer(); // all it prints, read as it comes so that it never waits on the pipe
                Thread reader = new Thread(() -> {
                    try (BufferedReader out = new BufferedReader(new InputStreamReader(application.getInputStream()))) {
                        for (String line = out.readLine(); line != null; line = out.readLine()) {
                            said.append(line).append('\n');
                        }
                    } catch (IOException ended) {
                        // the application was ended
                    }
                });
                reader.start();
                for (long deadline = System.nanoTime() + 120_000_000_000L; said.indexOf("painting\n") < 0; Thread.sleep(20)) {
                    assertTrue(application.isAlive() && System.nanoTime() < deadline,
                            "round " + round + ": the application did not paint: " + said);
                }
                assertTrue(SysLog.await(NotifyRig.CALLBACK_CREATED, 60_000), "round " + round);
                burst = NotifyRig.burstOfChanges(DISPLAY);
                assertTrue(SysLog.await(NotifyRig.DISPLAY_DETACHED, 1, 20_000), "round " + round + ": changes reported");
                xvfb.destroyForcibly().waitFor();
                assertTrue(application.waitFor(120, TimeUnit.SECONDS), "round " + round + ": the application hangs");
                reader.join();
                int status = application.exitValue();
                assertTrue(status > 0 && status < 128, "round " + round + ": status " + status + "\n" + said);
                SysLog.drain();
            } finally {
                application.destroyForcibly().waitFor();
                xvfb.destroyForcibly().waitFor();
                if (burst != null) {
                    burst.destroyForcibly().waitFor();
                }
            }
        }
    }
}
