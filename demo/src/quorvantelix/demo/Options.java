package quorvantelix.demo;

import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;

/** The tablet monitor's command line. */
final class Options {
    static final String USAGE = String.join("\n",
            "usage: tablet-monitor [--help] [--seconds N] [--png FILE | --no-png] [--real-only | --virtual] [--model NAME]",
            "  --seconds N   watch the pens for N seconds after connecting, then end (default 10; 0: until Ctrl-C)",
            "  --png FILE    save the pen trace as a PNG picture (default build/demo/trace.png)",
            "  --no-png      save no picture",
            "  --real-only   watch attached tablets only, never the virtual one",
            "  --virtual     watch the virtual tablet even when real ones are attached",
            "  --model NAME  the virtual tablet's model: " + String.join(", ", VirtualTablet.modelNames())
                    + " (default " + VirtualTablet.DEFAULT_MODEL + ")");

    int seconds = 10;
    Path png = Paths.get("build", "demo", "trace.png");
    boolean realOnly;
    boolean virtualOnly;
    String model = VirtualTablet.DEFAULT_MODEL;
    /** The arguments as given, for the virtual tablet's own JVM. */
    final List<String> given = new ArrayList<>();

    /** Parses args; throws IllegalArgumentException with the reason for a bad one. */
    static Options parse(String[] args) {
        Options o = new Options();
        for (int i = 0; i < args.length; i++) {
            String a = args[i];
            o.given.add(a);
            switch (a) {
                case "--seconds":
                    o.seconds = parseSeconds(value(args, ++i, a));
                    o.given.add(args[i]);
                    break;
                case "--png":
                    o.png = Paths.get(value(args, ++i, a));
                    o.given.add(args[i]);
                    break;
                case "--no-png":
                    o.png = null;
                    break;
                case "--real-only":
                    o.realOnly = true;
                    break;
                case "--virtual":
                    o.virtualOnly = true;
                    break;
                case "--model":
                    o.model = value(args, ++i, a);
                    o.given.add(args[i]);
                    if (!VirtualTablet.modelNames().contains(o.model)) {
                        throw new IllegalArgumentException("unknown model " + o.model);
                    }
                    break;
                default:
                    throw new IllegalArgumentException("unknown option " + a);
            }
        }
        if (o.realOnly && o.virtualOnly) {
            throw new IllegalArgumentException("--real-only and --virtual exclude each other");
        }
        return o;
    }

    private static String value(String[] args, int i, String option) {
        if (i >= args.length) {
            throw new IllegalArgumentException(option + " needs a value");
        }
        return args[i];
    }

    private static int parseSeconds(String text) {
        try {
            int s = Integer.parseInt(text);
            if (s >= 0) {
                return s;
            }
        } catch (NumberFormatException e) {
            // reported below
        }
        throw new IllegalArgumentException("--seconds takes a whole number of seconds, not " + text);
    }
}
