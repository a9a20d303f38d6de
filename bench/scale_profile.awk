# Where the process spends its processor time while many tablets send at once, by kind of
# thread, from `perf report --sort comm --stdio` lines ("  18.35%  ns-usb-read"): the
# library's read threads, the Java pollers, the emulated devices (the emulator's threads,
# named "nsemu"), the main thread that feeds them ("java"), and the JVM's own threads.
# Printed as figures of profile.<name>.
$1 ~ /%$/ && NF >= 2 {
    pct = $1; sub(/%$/, "", pct)
    comm = $2
    for (i = 3; i <= NF; i++) comm = comm " " $i
    if (comm == "ns-usb-read") part = "read_threads"
    else if (comm ~ /^bench-poller/) part = "pollers"
    else if (comm == "nsemu") part = "emulator"
    else if (comm == "java") part = "feeder"
    else part = "jvm"
    total += pct
    share[part] += pct
}
END {
    n = split("read_threads pollers emulator feeder jvm", parts, " ")
    for (i = 1; i <= n; i++)
        printf "%-40s %14.2f %%\n", "profile." name "." parts[i] "_pct",
               (total > 0 ? 100 * share[parts[i]] / total : 0)
}
