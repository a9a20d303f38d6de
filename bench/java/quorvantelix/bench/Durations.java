package quorvantelix.bench;

/**
 * Many durations in nanoseconds, counted in buckets a sixteenth of a power of two wide
 * (within about 6%), so that a poller can time every call it makes for seconds.
 */
final class Durations {
    private static final int SUB = 16;
    private final long[] counts = new long[64 * SUB];
    private long total;

    void add(long nanos) {
        counts[bucket(Math.max(0, nanos))]++;
        total++;
    }

    void addAll(Durations other) {
        for (int b = 0; b < counts.length; b++) {
            counts[b] += other.counts[b];
        }
        total += other.total;
    }

    /** The middle of the bucket that holds the nearest-rank {@code percent} percentile. */
    double percentile(double percent) {
        long rank = Math.max(1, (long) Math.ceil(percent / 100 * total));
        long seen = 0;
        for (int b = 0; b < counts.length; b++) {
            seen += counts[b];
            if (seen >= rank) {
                return (lowest(b) + lowest(b + 1)) / 2.0;
            }
        }
        return 0;
    }

    private static int bucket(long v) {
        if (v < SUB) {
            return (int) v;
        }
        int e = 63 - Long.numberOfLeadingZeros(v);   // 2^e <= v < 2^(e+1)
        return (e - 3) * SUB + (int) ((v >>> (e - 4)) & (SUB - 1));
    }

    private static long lowest(int b) {
        return b < SUB ? b : (SUB + b % SUB) << (b / SUB - 1);
    }
}
