# Where the poll that carries a report and its floor spend their samples, from
# `perf script -F tid,ip,sym` of the poll's timed loops (one sample a paragraph: the
# thread id, then the call chain, innermost first). A sample is the poll's when
# readNativeUsbState is on its chain, the floor's when the benchmark's copyCall is; each is
# put in the first part whose calls are on its chain: freeing the report's buffer, taking
# it from the queue, making the Java array, filling it, the registry (lookup and locks). Printed as figures of
# profile.<name>.poll (percent of the poll's samples) and profile.<name>.floor.
BEGIN { RS = ""; FS = "\n" }
{
    chain = $0
    if (chain ~ /readNativeUsbState/) who = "poll"
    else if (chain ~ /BenchRig_copyCall/) who = "floor"
    else next
    if (chain ~ /_int_free|cfree|libc_free|operator delete/) part = "free"
    else if (chain ~ /read_Device/) part = "queue"
    else if (chain ~ /NewByteArray/) part = "new_array"
    else if (chain ~ /SetByteArrayRegion/) part = "fill_array"
    else if (chain ~ /HandleRegistry|_Hashtable|usbDevices|pthread_mutex|std::mutex/) part = "registry"
    else part = "other"
    samples[who]++
    parts[who, part]++
}
END {
    n = split("registry queue free new_array fill_array other", names, " ")
    for (w = 1; w <= 2; w++) {
        who = w == 1 ? "poll" : "floor"
        printf "%-40s %14d samples\n", "profile." name "." who ".samples", samples[who]
        for (i = 1; i <= n; i++)
            printf "%-40s %14.1f %%\n", "profile." name "." who "." names[i] "_pct",
                   (samples[who] > 0 ? 100 * parts[who, names[i]] / samples[who] : 0)
    }
}
