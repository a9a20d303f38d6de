# The read threads' samples by library, in percent of all their samples, from
# `perf report --sort comm,dso --stdio` ("  18.35%  ns-usb-read  [kernel.kallsyms]"
# lines); printed as figures of profile.<name>.
$1 ~ /%$/ && $2 == "ns-usb-read" && NF >= 3 {
    pct = $1; sub(/%$/, "", pct)
    dso = $3
    total += pct
    if (dso ~ /kernel/) part = "kernel"
    else if (dso ~ /^libNativeSupport/) part = "library"
    else if (dso ~ /^libusb-1\.0/) part = "libusb"
    else if (dso ~ /umockdev|^libglib|^libgobject|^libgio/) part = "emulator"
    else if (dso ~ /^libc\.so|^libstdc\+\+|^ld-linux/) part = "libc"
    else part = "other"
    share[part] += pct
}
END {
    n = split("library libusb libc emulator kernel other", parts, " ")
    for (i = 1; i <= n; i++)
        printf "%-40s %14.2f %%\n", "profile." name ".read_thread." parts[i] "_pct",
               (total > 0 ? 100 * share[parts[i]] / total : 0)
}
