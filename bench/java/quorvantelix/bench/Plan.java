package quorvantelix.bench;

/** How much each benchmark does; the same numbers are given to the peer programs. */
final class Plan {
    final long reportsPerTrial;
    final int trials;
    final long latencySamples;
    final long window;
    final int idleDevices;
    final long idleSeconds;

    Plan(String[] args) {
        reportsPerTrial = args.length > 0 ? Long.parseLong(args[0]) : 20000;
        trials = args.length > 1 ? Integer.parseInt(args[1]) : 5;
        latencySamples = args.length > 2 ? Long.parseLong(args[2]) : 5000;
        window = args.length > 3 ? Long.parseLong(args[3]) : 16;
        idleDevices = args.length > 4 ? Integer.parseInt(args[4]) : 8;
        idleSeconds = args.length > 5 ? Long.parseLong(args[5]) : 10;
    }
}
