package quorvantelix.test;

import static org.junit.jupiter.api.Assertions.assertEquals;

import java.util.List;
import org.junit.jupiter.api.extension.AfterAllCallback;
import org.junit.jupiter.api.extension.AfterEachCallback;
import org.junit.jupiter.api.extension.BeforeAllCallback;
import org.junit.jupiter.api.extension.ExtensionContext;

/**
 * Every suite, found by JUnit itself (the launcher enables extension autodetection): the syslog
 * capture listens before the suite starts, and a test, or the suite's own set-up and clean-up,
 * fails when the library wrote a line that the log table does not have, or has with another
 * priority.
 */
public final class LogCheck implements BeforeAllCallback, AfterEachCallback, AfterAllCallback {
    @Override
    public void beforeAll(ExtensionContext context) {
        SysLog.peek(); // listening before the suite's first call
    }

    @Override
    public void afterEach(ExtensionContext context) {
        check();
    }

    @Override
    public void afterAll(ExtensionContext context) {
        check();
    }

    private static void check() {
        assertEquals(List.of(), SysLog.takeProblems(), "lines of the library that the log table does not have");
    }
}
