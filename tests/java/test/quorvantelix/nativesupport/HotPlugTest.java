package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.*;
import static org.junit.jupiter.api.Assumptions.assumeTrue;
import static quorvantelix.nativesupport.NotifyRig.SLACK_MS;

import java.nio.file.*;
import java.util.List;
import java.util.Map;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import quorvantelix.dm.connections.usb.NativeUSB;
import quorvantelix.test.*;

/**
 * Entries created and deleted in the udev database directory reach Java as
 * handleUSBHotPlugEvent calls, at most one per quiet interval of 3 seconds measured on the
 * monotonic clock. The JVM runs with the wall clock library preloaded.
 */
class HotPlugTest extends SubscriptionSuite {
    private static final String ATTACHED = "6 NATIVESUPPORT: Native Java USB_Changed_Thread() Attached JNIEnv = ";
    private static final String DETACHED = "6 NATIVESUPPORT: Native Java USB_Changed_Thread() Detached JNIEnv = ";
    private static final String SIGNAL = "6 NATIVESUPPORT: sig= ";
    private static final String THREAD = "ns-hotplug";
    /** The quiet interval after a subscribe and after each call. */
    private static final long QUIET_MS = 3000;

    @BeforeAll
    static void openGtkConnection() throws Exception {
        NotifyRig.openWhatStays(new NativeUSB(), 20_000);
    }

    /**
     * Meanwhile a time server corrects the wall clock an hour back during the first quiet
     * interval, and two hours ahead during a later one: no interval changes.
     */
    @Test
    void aBurstIsAnsweredOnceAfterTheQuietIntervalAndALoneChangeAtOnceWhateverTheWallClockDoes() throws Exception {
        Path db = NotifyRig.createDatabase(NotifyRig.OLD_UDEV_DB);
        long before = System.nanoTime();
        usb.subscribeUSBChangeEvents();
        usb.subscribeUSBChangeEvents(); // already subscribed: does nothing
        long subscribed = System.nanoTime();
        WallClock.step(-3600);
        try {
            aBurstAndALoneChange(db, before, subscribed);
        } finally {
            WallClock.step(-3600);
        }
    }

    private void aBurstAndALoneChange(Path db, long before, long subscribed) throws Exception {
        int watched = descriptorOf(db);
        for (String e : new String[] {"burst-1", "burst-2", "burst-3"}) {
            NotifyRig.touch(db, e);
            NotifyRig.remove(db, e);
        }
        assertTrue(Callbacks.HOT_PLUG.await(1, QUIET_MS + SLACK_MS));
        assertQuietInterval(before, subscribed, call(0), "the first call after subscribing");
        long firstEnded = awaitCallEnded();

        List<String> lines = SysLog.drain();
        assertEquals(4, NotifyRig.linesStartingWith(lines, "6 NATIVESUPPORT: Native Java subscribeUSBChangeEvents()").size(),
                "one subscription's lines: " + lines);
        assertEquals(2, lines.stream().filter(NotifyRig.ENTERED::equals).count(), lines.toString());
        String sig = NotifyRig.linesStartingWith(lines, SIGNAL).get(0);
        assertTrue(sig.matches("6 NATIVESUPPORT: sig= [1-9][0-9]*"), sig);
        String attached = NotifyRig.linesStartingWith(lines, ATTACHED).get(0);
        assertNotEquals(ATTACHED + "0", attached);
        assertEquals((sig + "|6 NATIVESUPPORT: si->si_fd= " + watched + "|").repeat(6) + attached + "|"
                + attached.replace(ATTACHED, DETACHED), String.join("|", NotifyRig.linesStartingWith(lines, SIGNAL,
                        "6 NATIVESUPPORT: si->si_fd= ", ATTACHED, DETACHED)),
                "six changes, each a signal of the watched descriptor, then one call");

        // Whatever the burst left counted, no second call comes in or after the quiet interval.
        assertFalse(Callbacks.HOT_PLUG.await(2, millisUntil(firstEnded + ms(QUIET_MS + 300))));
        long lone = System.nanoTime();
        NotifyRig.touch(db, "lone");
        assertTrue(Callbacks.HOT_PLUG.await(2, SLACK_MS), "after a quiet spell a change is passed on at once");
        assertTrue(call(1) - lone < ms(SLACK_MS), (call(1) - lone) / 1_000_000 + " ms");
        long secondEnded = awaitCallEnded();
        WallClock.step(7200);

        // A change a second after a call is answered 3 seconds after the call ended.
        Thread.sleep(1000);
        NotifyRig.remove(db, "lone");
        assertTrue(Callbacks.HOT_PLUG.await(3, QUIET_MS + SLACK_MS));
        assertQuietInterval(call(1), secondEnded, call(2), "a call within the quiet interval after another");

        awaitCallEnded();
        Tasks.awaitSleepingIn(THREAD, "poll_schedule_timeout"); // no longer busy with Java
        usb.unsubscribeUSBChangeEvents();
        assertFalse(Tasks.descriptors().containsValue(db.toString()), "the watch ended before unsubscribe returned");
        SysLog.drain();
        NotifyRig.touch(db, "unwatched");
        assertFalse(SysLog.await(sig, 500), "the directory is no longer watched");
        assertEquals(3, Callbacks.HOT_PLUG.calls().size());
    }

    /** udev started after the application, and udev restarted: the database made late, and made again. */
    @Test
    void aDatabaseMadeAfterSubscribingOrMadeAgainIsWatched() throws Exception {
        Map<Integer, String> before = Tasks.descriptors();
        usb.subscribeUSBChangeEvents();
        Path db = NotifyRig.createDatabase(NotifyRig.UDEV_DATA);
        NotifyRig.touch(db, "c189:1");
        assertTrue(Callbacks.HOT_PLUG.await(1, QUIET_MS + SLACK_MS), "a change in a database made after subscribing");
        awaitCallEnded();

        NotifyRig.removeDatabases();
        assertTrue(Callbacks.HOT_PLUG.await(2, QUIET_MS + SLACK_MS), "its entry went with it");
        awaitCallEnded();
        NotifyRig.createDatabase(NotifyRig.UDEV_DATA);
        NotifyRig.touch(db, "c189:2");
        assertTrue(Callbacks.HOT_PLUG.await(3, QUIET_MS + SLACK_MS), "a change in the database made again");
        awaitCallEnded();
        assertFalse(Callbacks.HOT_PLUG.await(4, QUIET_MS + 300), "each change answered once");
        usb.unsubscribeUSBChangeEvents();
        NotifyRig.awaitLibraryThreadsEnded();
        Tasks.assertSameDescriptors(before, Tasks.descriptors());
    }

    /** With today's database, the old one missing. */
    @Test
    void anIdleSubscriptionNeverWakesItsThread() throws Exception {
        Path db = NotifyRig.createDatabase(NotifyRig.UDEV_DATA);
        usb.subscribeUSBChangeEvents();
        assertEquals(0, Tasks.wakeupsDuring(THREAD, 2000), "woke while nothing happened");

        // A change is answered, and afterwards the thread sleeps again through the quiet interval.
        NotifyRig.touch(db, "one");
        assertTrue(Callbacks.HOT_PLUG.await(1, QUIET_MS + SLACK_MS));
        awaitCallEnded();
        assertEquals(0, Tasks.wakeupsDuring(THREAD, 2000), "woke while nothing happened");
    }

    /** Another process's real-time signals, to the process or to the notification thread itself. */
    @Test
    void onlyTheWatchedDirectorysSignalsAreChanges() throws Exception {
        assumeTrue(System.getProperty("ns.emulator", "").isEmpty(), "qemu numbers the JVM's signals its own way");
        Path db = NotifyRig.createDatabase(NotifyRig.OLD_UDEV_DB);
        usb.subscribeUSBChangeEvents();
        long subscribed = System.nanoTime();
        String thread = Tasks.task(THREAD).getFileName().toString();
        // SIGRTMIN (34) to the process and, by tgkill (x86_64's 234), to the thread; SIGIO (29) too.
        NotifyRig.run("perl", "-e", "my ($pid, $tid) = @ARGV; kill(34, $pid) for 1 .. 3; "
                + "for my $s (34, 34, 29) { syscall(234, $pid + 0, $tid + 0, $s) == 0 or die \"tgkill: $!\" }",
                Long.toString(ProcessHandle.current().pid()), thread);
        assertFalse(Callbacks.HOT_PLUG.await(1, millisUntil(subscribed + ms(QUIET_MS + SLACK_MS))),
                "a stray signal became a change");
        assertTrue(NotifyRig.linesStartingWith(SysLog.peek(), SIGNAL).isEmpty(), SysLog.peek().toString());
        NotifyRig.touch(db, "real");
        assertTrue(Callbacks.HOT_PLUG.await(1, SLACK_MS), "the directory's own change is answered");
    }

    @Test
    void unsubscribeReturnsWhileACallIsHeldAndAResubscribeLosesAndRepeatsNothing() throws Exception {
        Path db = NotifyRig.createDatabase(NotifyRig.OLD_UDEV_DB);
        usb.subscribeUSBChangeEvents();
        CountDownLatch held = Callbacks.HOT_PLUG.holdNext();
        NotifyRig.touch(db, "before");
        assertTrue(Callbacks.HOT_PLUG.await(1, QUIET_MS + SLACK_MS)); // the held call has begun
        NotifyRig.assertReturnsWhileHeld(usb::unsubscribeUSBChangeEvents, held);

        usb.subscribeUSBChangeEvents(); // while the old thread is still in Java
        NotifyRig.touch(db, "after");
        held.countDown();
        assertTrue(Callbacks.HOT_PLUG.await(2, QUIET_MS + SLACK_MS), "the change after the resubscribe is answered");
        assertFalse(Callbacks.HOT_PLUG.await(3, QUIET_MS + SLACK_MS), "and only once");
    }

    /**
     * Changes while the application holds a call: the kernel's queue of real-time signals
     * (RLIMIT_SIGPENDING, 30 for this JVM) fills up and the kernel sends SIGIO instead, whose
     * default action would end the process. Nothing may be lost either.
     */
    @Test
    void eightyChangesDuringAHeldCallGetOneMoreCall() throws Exception {
        assertTrue(Files.readAllLines(Paths.get("/proc/self/limits")).stream()
                .anyMatch(l -> l.matches("Max pending signals\\s+30\\s+30\\s+signals\\s*")), "run with prlimit --sigpending=30");
        Path db = NotifyRig.createDatabase(NotifyRig.OLD_UDEV_DB);
        usb.subscribeUSBChangeEvents();
        CountDownLatch held = Callbacks.HOT_PLUG.holdNext();
        NotifyRig.touch(db, "first");
        assertTrue(Callbacks.HOT_PLUG.await(1, QUIET_MS + SLACK_MS)); // the held call has begun
        for (int i = 0; i < 40; i++) {
            NotifyRig.touch(db, "entry-" + i);
            NotifyRig.remove(db, "entry-" + i);
        }
        held.countDown();
        assertTrue(Callbacks.HOT_PLUG.await(2, QUIET_MS + 2 * SLACK_MS), "the changes during the call are answered");
        assertFalse(Callbacks.HOT_PLUG.await(3, QUIET_MS + SLACK_MS), "by one call");
    }

    /**
     * The notification thread is attaching itself to the VM for a call that is due when the
     * application unsubscribes: the call must not begin. A native thread attaching to the VM
     * joins the "main" thread group, whose monitor this test holds meanwhile.
     */
    @Test
    void noJavaCallBeginsOnceUnsubscribeHasReturned() throws Exception {
        Path db = NotifyRig.createDatabase(NotifyRig.OLD_UDEV_DB);
        usb.subscribeUSBChangeEvents();
        NotifyRig.touch(db, "due"); // answered once the quiet interval after subscribing ends
        ThreadGroup main = Thread.currentThread().getThreadGroup();
        while (!main.getName().equals("main")) {
            main = main.getParent();
        }
        synchronized (main) {
            Tasks.awaitSleepingIn(THREAD, "futex"); // waiting for the monitor, to attach
            usb.unsubscribeUSBChangeEvents();
        }
        Tasks.awaitGone(THREAD);
        assertEquals(List.of(), Callbacks.HOT_PLUG.calls(), "a call began after unsubscribe had returned");
    }

    /** Waits until the library has ended its latest call (logged its detached line); when that was seen. */
    private static long awaitCallEnded() {
        List<String> attached = NotifyRig.linesStartingWith(SysLog.peek(), ATTACHED);
        assertFalse(attached.isEmpty(), "no call was attached");
        String last = attached.get(attached.size() - 1);
        int calls = (int) attached.stream().filter(last::equals).count();
        assertTrue(SysLog.await(last.replace(ATTACHED, DETACHED), calls, 5000), "the call did not end");
        return System.nanoTime();
    }

    /** A call came a quiet interval after a moment known to lie between {@code from} and {@code to}. */
    private static void assertQuietInterval(long from, long to, long call, String what) {
        assertTrue(call - from >= ms(QUIET_MS), what + " came " + (call - from) / 1_000_000 + " ms after");
        assertTrue(call - to <= ms(QUIET_MS + SLACK_MS), what + " came " + (call - to) / 1_000_000 + " ms after");
    }

    private static long call(int n) {
        return Callbacks.HOT_PLUG.calls().get(n);
    }

    private static long ms(long millis) {
        return TimeUnit.MILLISECONDS.toNanos(millis);
    }

    private static long millisUntil(long nanos) {
        return Math.max(0, TimeUnit.NANOSECONDS.toMillis(nanos - System.nanoTime()));
    }

    private static int descriptorOf(Path dir) throws Exception {
        return Tasks.descriptors().entrySet().stream().filter(e -> e.getValue().equals(dir.toString()))
                .mapToInt(Map.Entry::getKey).findFirst().orElseThrow();
    }
}
