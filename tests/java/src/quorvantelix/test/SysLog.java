package quorvantelix.test;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.net.StandardProtocolFamily;
import java.net.UnixDomainSocketAddress;
import java.nio.ByteBuffer;
import java.nio.channels.*;
import java.nio.charset.StandardCharsets;
import java.nio.file.*;
import java.util.*;

/**
 * The syslog lines of this process, received where syslog(3) sends them: a socket at
 * /dev/log, bound when the class is first used, which every suite does before it makes the
 * library log (each suite runs in a mount namespace of its own, so it sees its own lines
 * alone). syslog(3) turns to a stream connection when /dev/log is a stream socket; each line
 * then ends with a zero byte. A thread of its own takes the lines as they come, so that a
 * logging thread never waits for a full socket. Lines read "P text", P being their priority
 * digit (6 info, 7 debug). Every line is held against the log table as it comes (LogTable);
 * what is wrong with one waits for {@link #takeProblems()}.
 */
public final class SysLog {
    private static final Path SOCKET = Paths.get("/dev/log");
    private static final ServerSocketChannel server;
    private static final Selector selector;
    private static final Map<SocketChannel, ByteArrayOutputStream> clients = new LinkedHashMap<>();
    private static final List<String> lines = new ArrayList<>();
    private static final List<String> problems = new ArrayList<>();

    private SysLog() {
    }

    static {
        try {
            Files.deleteIfExists(SOCKET);
            server = ServerSocketChannel.open(StandardProtocolFamily.UNIX).bind(UnixDomainSocketAddress.of(SOCKET));
            server.configureBlocking(false);
            selector = Selector.open();
            server.register(selector, SelectionKey.OP_ACCEPT);
        } catch (IOException e) {
            throw new ExceptionInInitializerError("cannot bind /dev/log: " + e);
        }
        Thread reader = new Thread(() -> {
            try {
                for (;;) {
                    selector.select(100);
                    synchronized (SysLog.class) {
                        receive();
                    }
                    selector.selectedKeys().clear();
                }
            } catch (IOException | RuntimeException e) {
                throw new AssertionError(e);
            }
        }, "syslog-capture");
        reader.setDaemon(true);
        reader.start();
        LogCheck.listening = true;
    }

    /** Everything received since the last drain, and forget it. */
    public static synchronized List<String> drain() {
        List<String> taken = peek();
        lines.clear();
        return taken;
    }

    public static synchronized List<String> peek() {
        receive();
        return new ArrayList<>(lines);
    }

    /** Waits until the line has been received (since the last drain); false after the timeout. */
    public static boolean await(String line, long millis) {
        return await(line, 1, millis);
    }

    /** Waits until the line has been received {@code count} times (since the last drain). */
    public static synchronized boolean await(String line, int count, long millis) {
        long deadline = System.nanoTime() + millis * 1_000_000L;
        while (peek().stream().filter(line::equals).count() < count) {
            long left = (deadline - System.nanoTime()) / 1_000_000L;
            if (left <= 0) {
                return false;
            }
            try {
                SysLog.class.wait(left); // the reader thread tells of every line it takes
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
                return false;
            }
        }
        return true;
    }

    /** The lines taken so far that the log table does not have, or has with another priority; and forget them. */
    public static synchronized List<String> takeProblems() {
        receive();
        List<String> taken = new ArrayList<>(problems);
        problems.clear();
        return taken;
    }

    public static String debug(String text) {
        return "7 " + text;
    }

    public static String info(String text) {
        return "6 " + text;
    }

    /** Takes every connection and every byte already sent: a line logged before a call is seen by it. */
    private static void receive() {
        try {
            for (SocketChannel c = server.accept(); c != null; c = server.accept()) {
                c.configureBlocking(false);
                c.register(selector, SelectionKey.OP_READ);
                clients.put(c, new ByteArrayOutputStream());
                selector.wakeup(); // a reader thread in select() takes the new connection in at once
            }
            ByteBuffer buffer = ByteBuffer.allocate(65536);
            for (var it = clients.entrySet().iterator(); it.hasNext();) {
                Map.Entry<SocketChannel, ByteArrayOutputStream> client = it.next();
                int read;
                while ((read = client.getKey().read(buffer.clear())) > 0) {
                    for (int i = 0; i < buffer.position(); i++) {
                        if (buffer.get(i) != 0) {
                            client.getValue().write(buffer.get(i));
                        } else {
                            take(client.getValue().toString(StandardCharsets.UTF_8));
                            client.getValue().reset();
                            SysLog.class.notifyAll();
                        }
                    }
                }
                if (read < 0) { // the logging side closed its connection (closelog)
                    client.getKey().close();
                    it.remove();
                }
            }
        } catch (IOException e) {
            throw new AssertionError(e);
        }
    }

    /** Keeps "&lt;PRI&gt;Mmm dd hh:mm:ss ident[pid]: message" as "P message", and checks it. */
    private static void take(String datagram) {
        int priority = Integer.parseInt(datagram.substring(1, datagram.indexOf('>'))) & 7;
        int body = datagram.indexOf(": ", datagram.indexOf('>') + 16);
        String line = priority + " " + (body < 0 ? "" : datagram.substring(body + 2));
        lines.add(line);
        String problem = LogTable.problemWith(line);
        if (problem != null) {
            problems.add(problem);
        }
    }
}
