package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.*;
import static quorvantelix.nativesupport.NotifyRig.SLACK_MS;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import quorvantelix.dm.connections.usb.NativeUSB;
import quorvantelix.test.Callbacks;
import quorvantelix.test.SysLog;
import quorvantelix.test.Tasks;

/** Entries created and deleted in the udev database directory reach Java as handleUSBHotPlugEvent calls. */
class HotPlugTest extends SubscriptionSuite {
    private static final String ATTACHED = "6 NATIVESUPPORT: Native Java USB_Changed_Thread() Attached JNIEnv = ";
    private static final String DETACHED = "6 NATIVESUPPORT: Native Java USB_Changed_Thread() Detached JNIEnv = ";
    private static final String THREAD = "ns-hotplug";

    @BeforeAll
    static void openGtkConnection() throws Exception {
        NotifyRig.openWhatStays(new NativeUSB(), 20_000);
    }

    @Test
    void aBurstIsAnsweredOnceAfterTheQuietIntervalAndALoneChangeAtOnce() throws Exception {
        Path db = NotifyRig.createDatabase(NotifyRig.OLD_UDEV_DB);
        long subscribed = System.nanoTime();
        usb.subscribeUSBChangeEvents();
        usb.subscribeUSBChangeEvents(); // already subscribed: does nothing
        int watched = descriptorOf(db);
        for (String e : new String[] {"burst-1", "burst-2", "burst-3"}) {
            NotifyRig.touch(db, e);
            NotifyRig.remove(db, e);
        }
        assertTrue(Callbacks.awaitHotPlugCalls(1, 3000 + SLACK_MS));
        long after = TimeUnit.NANOSECONDS.toMillis(Callbacks.hotPlugCalls().get(0) - subscribed);
        assertTrue(after >= 1990 && after <= 3000 + SLACK_MS, "first call " + after + " ms after subscribing");
        assertTrue(SysLog.await(DETACHED + attachedEnv(), 5000));
        long callEnded = NotifyRig.epochSecond();

        List<String> lines = SysLog.drain();
        assertEquals(4, NotifyRig.linesStartingWith(lines, "6 NATIVESUPPORT: Native Java subscribeUSBChangeEvents()").size(),
                "one subscription's lines: " + lines);
        assertEquals(2, lines.stream().filter(NotifyRig.ENTERED::equals).count(), lines.toString());
        List<String> hotPlug = NotifyRig.linesStartingWith(lines, "6 NATIVESUPPORT: sig= ", "6 NATIVESUPPORT: si->si_fd= ",
                ATTACHED, DETACHED);
        String sig = hotPlug.get(0);
        assertTrue(sig.matches("6 NATIVESUPPORT: sig= [1-9][0-9]*"), sig);
        for (int i = 0; i < 12; i += 2) {
            assertEquals(sig, hotPlug.get(i), "six changes, each logged as a signal of the watched descriptor: " + hotPlug);
            assertEquals("6 NATIVESUPPORT: si->si_fd= " + watched, hotPlug.get(i + 1), hotPlug.toString());
        }
        assertTrue(hotPlug.get(12).startsWith(ATTACHED) && !hotPlug.get(12).equals(ATTACHED + "0"), hotPlug.toString());
        assertEquals(List.of(hotPlug.get(12).replace(ATTACHED, DETACHED)), hotPlug.subList(13, hotPlug.size()));

        // Whatever the burst left counted, no second call comes in the quiet interval.
        assertFalse(Callbacks.awaitHotPlugCalls(2, NotifyRig.millisUntilSecond(callEnded + 3) + 300));
        long lone = System.nanoTime();
        NotifyRig.touch(db, "lone");
        assertTrue(Callbacks.awaitHotPlugCalls(2, SLACK_MS), "after a quiet spell a change is passed on at once");
        long late = TimeUnit.NANOSECONDS.toMillis(Callbacks.hotPlugCalls().get(1) - lone);
        assertTrue(late < SLACK_MS, late + " ms");
        assertTrue(SysLog.await(DETACHED + attachedEnv(), 5000));

        // A change a second after a call is answered when `time` reaches the call's end plus 3.
        long secondEnded = NotifyRig.epochSecond();
        Thread.sleep(NotifyRig.millisUntilSecond(secondEnded + 1) + 100);
        NotifyRig.remove(db, "lone");
        assertTrue(Callbacks.awaitHotPlugCalls(3, NotifyRig.millisUntilSecond(secondEnded + 3) + SLACK_MS));
        long third = System.currentTimeMillis();
        assertTrue(third >= (secondEnded + 3) * 1000, "answered at " + third + ", before the second " + (secondEnded + 3));

        usb.unsubscribeUSBChangeEvents();
        SysLog.drain();
        NotifyRig.touch(db, "unwatched");
        assertFalse(SysLog.await(sig, 500), "the directory is no longer watched");
        assertEquals(3, Callbacks.hotPlugCalls().size());
        assertFalse(Tasks.descriptors().containsValue(db.toString()), "the watch descriptor is closed");
    }

    @Test
    void todaysUdevDatabaseIsWatchedWhereTheOldOneIsMissing() throws Exception {
        Path db = NotifyRig.createDatabase(NotifyRig.UDEV_DATA);
        long subscribed = NotifyRig.epochSecond();
        usb.subscribeUSBChangeEvents();
        descriptorOf(db);
        NotifyRig.touch(db, "c189:1");
        assertTrue(Callbacks.awaitHotPlugCalls(1, NotifyRig.millisUntilSecond(subscribed + 3) + SLACK_MS));
        assertTrue(System.currentTimeMillis() >= (subscribed + 3) * 1000, "nothing in the first 3 seconds");
    }

    @Test
    void withoutEitherDirectoryTheSubscriptionWorksButNeverCallsJava() throws Exception {
        Map<Integer, String> before = Tasks.descriptors();
        usb.subscribeUSBChangeEvents();
        long subscribed = NotifyRig.epochSecond();
        Path db = NotifyRig.createDatabase(NotifyRig.UDEV_DATA);
        NotifyRig.touch(db, "unwatched");
        assertFalse(Callbacks.awaitHotPlugCalls(1, NotifyRig.millisUntilSecond(subscribed + 4)));
        assertTrue(NotifyRig.linesStartingWith(SysLog.peek(), "6 NATIVESUPPORT: sig= ").isEmpty());
        usb.unsubscribeUSBChangeEvents();
        NotifyRig.awaitLibraryThreadsEnded();
        Tasks.assertSameDescriptors(before, Tasks.descriptors());
    }

    @Test
    void anIdleSubscriptionNeverWakesItsThread() throws Exception {
        Path db = NotifyRig.createDatabase(NotifyRig.OLD_UDEV_DB);
        usb.subscribeUSBChangeEvents();
        assertEquals(0, Tasks.wakeupsDuring(THREAD, 2000), "woke while nothing happened");

        // A change is answered, and afterwards the thread sleeps again through the quiet interval.
        NotifyRig.touch(db, "one");
        assertTrue(Callbacks.awaitHotPlugCalls(1, 3000 + SLACK_MS));
        assertTrue(SysLog.await(DETACHED + attachedEnv(), 5000));
        assertEquals(0, Tasks.wakeupsDuring(THREAD, 2000), "woke while nothing happened");
    }

    @Test
    void aChangeAfterAResubscribeDuringASlowCallIsAnsweredExactlyOnce() throws Exception {
        Path db = NotifyRig.createDatabase(NotifyRig.OLD_UDEV_DB);
        usb.subscribeUSBChangeEvents();
        Callbacks.delayNextHotPlugCall(2000);
        NotifyRig.touch(db, "before");
        assertTrue(Callbacks.awaitHotPlugCalls(1, 3000 + SLACK_MS)); // the slow call has begun

        long started = System.nanoTime();
        usb.unsubscribeUSBChangeEvents();
        long unsubscribeMillis = TimeUnit.NANOSECONDS.toMillis(System.nanoTime() - started);
        assertTrue(unsubscribeMillis < 100, "unsubscribe waited " + unsubscribeMillis + " ms for a Java call");
        usb.subscribeUSBChangeEvents();
        long subscribed = NotifyRig.epochSecond();
        NotifyRig.touch(db, "after");

        assertTrue(Callbacks.awaitHotPlugCalls(2, NotifyRig.millisUntilSecond(subscribed + 3) + SLACK_MS),
                "the change after the resubscribe is answered");
        assertFalse(Callbacks.awaitHotPlugCalls(3, 4000), "and only once");
    }

    @Test
    void unsubscribeEndsTheThreadAtOnce() throws Exception {
        NotifyRig.createDatabase(NotifyRig.OLD_UDEV_DB);
        usb.subscribeUSBChangeEvents();
        assertTrue(Tasks.names().contains(THREAD));
        long started = System.nanoTime();
        usb.unsubscribeUSBChangeEvents();
        long millis = TimeUnit.NANOSECONDS.toMillis(System.nanoTime() - started);
        assertTrue(millis < 100, "unsubscribe took " + millis + " ms");
        Tasks.awaitGone(THREAD, 50);
    }

    private static String attachedEnv() {
        return NotifyRig.linesStartingWith(SysLog.peek(), ATTACHED).stream().reduce((a, b) -> b).orElse(ATTACHED)
                .substring(ATTACHED.length());
    }

    private static int descriptorOf(Path dir) throws Exception {
        return Tasks.descriptors().entrySet().stream().filter(e -> e.getValue().equals(dir.toString()))
                .mapToInt(Map.Entry::getKey).findFirst().orElseThrow();
    }
}
