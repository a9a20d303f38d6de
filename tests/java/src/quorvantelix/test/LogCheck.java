package quorvantelix.test;

import static org.junit.jupiter.api.Assertions.assertEquals;

import java.util.List;
import org.junit.jupiter.api.extension.*;

/**
 * Every suite, found by JUnit itself (the launcher enables extension autodetection): once the
 * syslog capture listens, a test, or the suite's own set-up and clean-up, fails when the library
 * wrote a line that the log table does not have, or has with another priority. A suite that
 * never listens (one whose threads log without end while the JVM exits) is left alone.
 */
public final class LogCheck implements AfterEachCallback, AfterAllCallback {
    /** Set by the capture when it starts listening. */
    static volatile boolean listening;

    @Override
    public void afterEach(ExtensionContext context) {
        check();
    }

    @Override
    public void afterAll(ExtensionContext context) {
        check();
    }

    private static void check() {
        if (listening) {
            assertEquals(List.of(), SysLog.takeProblems(), "lines of the library that the log table does not have");
        }
    }
}
