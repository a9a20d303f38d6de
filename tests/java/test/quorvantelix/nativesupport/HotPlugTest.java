package quorvantelix.nativesupport;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static quorvantelix.nativesupport.NotifyRig.SLACK_MS;
import static quorvantelix.nativesupport.NotifyRig.UDEV_DB;
import static quorvantelix.test.SysLog.info;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import quorvantelix.test.Callbacks;
import quorvantelix.dm.connections.usb.NativeUSB;
import quorvantelix.test.SysLog;

/** Entries created and deleted in the udev database directory reach Java as handleUSBHotPlugEvent calls. */
class HotPlugTest extends SubscriptionSuite {
    private static final String ATTACHED = "6 NATIVESUPPORT: Native Java USB_Changed_Thread() Attached JNIEnv = ";
    private static final String DETACHED = "6 NATIVESUPPORT: Native Java USB_Changed_Thread() Detached JNIEnv = ";

    @BeforeAll
    static void openGtkConnection() throws Exception {
        Files.createDirectories(UDEV_DB);
        // GTK keeps its X connection once opened; open it before any test counts descriptors.
        NativeUSB usb = new NativeUSB();
        usb.subscribeUSBChangeEvents();
        assertTrue(SysLog.await(NotifyRig.CALLBACK_CREATED, 20_000));
        usb.unsubscribeUSBChangeEvents();
        NotifyRig.awaitLibraryThreadsEnded();
    }

    @Test
    void aBurstIsAnsweredOnceAfterTheQuietIntervalAndALoneChangeAtOnce() throws Exception {
        long subscribed = System.nanoTime();
        usb.subscribeUSBChangeEvents();
        usb.subscribeUSBChangeEvents(); // already subscribed: does nothing
        int watched = descriptorOf(UDEV_DB);
        for (String e : new String[] {"burst-1", "burst-2", "burst-3"}) {
            NotifyRig.touch(e);
            NotifyRig.remove(e);
        }
        assertTrue(Callbacks.awaitHotPlugCalls(1, 3000 + SLACK_MS));
        long first = Callbacks.hotPlugCalls().get(0);
        long after = TimeUnit.NANOSECONDS.toMillis(first - subscribed);
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
        // qemu-i386 does not carry si_fd over into the emulated process's siginfo.
        String fd = System.getProperty("ns.emulator", "").isEmpty() ? Integer.toString(watched) : "[0-9]+";
        for (int i = 0; i < 12; i += 2) {
            assertEquals(sig, hotPlug.get(i), "six changes, each logged as a signal of the watched descriptor: " + hotPlug);
            assertTrue(hotPlug.get(i + 1).matches("6 NATIVESUPPORT: si->si_fd= " + fd), hotPlug.toString());
        }
        assertTrue(hotPlug.get(12).startsWith(ATTACHED) && !hotPlug.get(12).equals(ATTACHED + "0"), hotPlug.toString());
        assertEquals(List.of(hotPlug.get(12).replace(ATTACHED, DETACHED)), hotPlug.subList(13, hotPlug.size()));

        // Whatever the burst left counted, no second call comes in the quiet interval.
        assertFalse(Callbacks.awaitHotPlugCalls(2, NotifyRig.millisUntilSecond(callEnded + 3) + 300));
        long lone = System.nanoTime();
        NotifyRig.touch("lone");
        assertTrue(Callbacks.awaitHotPlugCalls(2, SLACK_MS), "after a quiet spell a change is passed on at once");
        long late = TimeUnit.NANOSECONDS.toMillis(Callbacks.hotPlugCalls().get(1) - lone);
        assertTrue(late < SLACK_MS, late + " ms");
        assertTrue(SysLog.await(DETACHED + attachedEnv(), 5000));

        usb.unsubscribeUSBChangeEvents();
        SysLog.drain();
        NotifyRig.remove("lone");
        assertFalse(SysLog.await(sig, 500), "the directory is no longer watched");
        assertEquals(2, Callbacks.hotPlugCalls().size());
        assertFalse(NotifyRig.descriptors().containsValue(UDEV_DB.toString()), "the watch descriptor is closed");
    }

    @Test
    void withoutTheDirectoryTheSubscriptionWorksButNeverCallsJava() throws Exception {
        Path away = UDEV_DB.resolveSibling("db.away");
        Files.move(UDEV_DB, away);
        try {
            Map<Integer, String> before = NotifyRig.descriptors();
            usb.subscribeUSBChangeEvents();
            long subscribed = NotifyRig.epochSecond();
            Files.createDirectories(UDEV_DB);
            NotifyRig.touch("unwatched");
            assertFalse(Callbacks.awaitHotPlugCalls(1, NotifyRig.millisUntilSecond(subscribed + 4)));
            assertTrue(NotifyRig.linesStartingWith(SysLog.peek(), "6 NATIVESUPPORT: sig= ").isEmpty());
            usb.unsubscribeUSBChangeEvents();
            NotifyRig.awaitLibraryThreadsEnded();
            NotifyRig.assertSameDescriptors(before, NotifyRig.descriptors());
        } finally {
            NotifyRig.remove("unwatched");
            Files.deleteIfExists(UDEV_DB);
            Files.move(away, UDEV_DB);
        }
    }

    @Test
    void unsubscribingWhenNotSubscribedOnlyLogs() throws Exception {
        Map<Integer, String> fds = NotifyRig.descriptors();
        usb.unsubscribeUSBChangeEvents();
        assertEquals(List.of(NotifyRig.UNSUBSCRIBED), SysLog.drain());
        Map<Integer, String> after = NotifyRig.descriptors();
        assertTrue(after.entrySet().containsAll(NotifyRig.withoutListings(fds).entrySet()), "nothing is closed");
    }

    private static String attachedEnv() {
        return NotifyRig.linesStartingWith(SysLog.peek(), ATTACHED).stream().reduce((a, b) -> b).orElse(ATTACHED)
                .substring(ATTACHED.length());
    }

    private static int descriptorOf(Path dir) throws Exception {
        return NotifyRig.descriptors().entrySet().stream().filter(e -> e.getValue().equals(dir.toString()))
                .mapToInt(Map.Entry::getKey).findFirst().orElseThrow();
    }
}
