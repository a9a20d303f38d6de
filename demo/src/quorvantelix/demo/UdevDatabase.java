package quorvantelix.demo;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayDeque;
import java.util.Deque;

/**
 * The udev database directory the library watches for hot-plug. The virtual tablet has no
 * udev daemon behind it, so its plug and unplug are written there the way the daemon records
 * a device. Directories made for it are removed again when empty.
 */
final class UdevDatabase implements AutoCloseable {
    static final Path DIR = Paths.get("/dev/.udev/db");

    private final Deque<Path> made = new ArrayDeque<>();
    private boolean usable;

    /** Makes the directory if needed; call before subscribing, which starts watching it. */
    static UdevDatabase prepare() {
        UdevDatabase db = new UdevDatabase();
        try {
            for (Path p : new Path[] {DIR.getParent(), DIR}) {
                if (!Files.isDirectory(p)) {
                    Files.createDirectory(p);
                    db.made.push(p);
                }
            }
            db.usable = true;
        } catch (IOException e) {
            System.out.println("Note: " + DIR + " cannot be made (" + e + "); the virtual tablet's hot-plug goes unseen.");
        }
        return db;
    }

    void announce(String entry) {
        if (usable) {
            try {
                Files.write(DIR.resolve(entry), new byte[0]);
            } catch (IOException e) {
                System.out.println("Note: cannot write " + DIR.resolve(entry) + ": " + e);
            }
        }
    }

    void withdraw(String entry) {
        if (usable) {
            try {
                Files.deleteIfExists(DIR.resolve(entry));
            } catch (IOException e) {
                System.out.println("Note: cannot remove " + DIR.resolve(entry) + ": " + e);
            }
        }
    }

    @Override
    public void close() {
        while (!made.isEmpty()) {
            try {
                Files.deleteIfExists(made.pop());
            } catch (IOException e) {
                return;   // not empty: someone else uses it now
            }
        }
    }
}
