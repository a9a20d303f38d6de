package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.*;
import static quorvantelix.nativesupport.NotifyRig.SLACK_MS;

import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import org.junit.jupiter.api.Test;
import quorvantelix.test.Callbacks;

/**
 * A slow application while the directory keeps changing: the kernel's queue of real-time
 * signals (RLIMIT_SIGPENDING, 30 for this JVM) fills up and the kernel sends SIGIO instead,
 * whose default action would end the process. Nothing may be lost either.
 */
class SignalQueueOverflowTest extends SubscriptionSuite {
    @Test
    void eightyChangesDuringAFourSecondCallGetOneMoreCall() throws Exception {
        assertTrue(Files.readAllLines(Paths.get("/proc/self/limits")).stream()
                .anyMatch(l -> l.matches("Max pending signals\\s+30\\s+30\\s+signals\\s*")), "run with prlimit --sigpending=30");
        Path db = NotifyRig.createDatabase(NotifyRig.OLD_UDEV_DB);
        usb.subscribeUSBChangeEvents();
        Callbacks.delayNextHotPlugCall(4000);
        NotifyRig.touch(db, "first");
        assertTrue(Callbacks.awaitHotPlugCalls(1, 3000 + SLACK_MS)); // the slow call has begun
        for (int i = 0; i < 40; i++) {
            NotifyRig.touch(db, "entry-" + i);
            NotifyRig.remove(db, "entry-" + i);
        }
        assertTrue(Callbacks.awaitHotPlugCalls(2, 4000 + 3000 + 2 * SLACK_MS), "the changes during the call are answered");
        assertFalse(Callbacks.awaitHotPlugCalls(3, 4000), "by one call");
        assertEquals(2, Callbacks.hotPlugCalls().size());
    }
}
