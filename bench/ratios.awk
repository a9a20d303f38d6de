# The ratios and sums the goals are judged by, from the figures the benchmarks printed
# ("<key> <value> <unit>" lines); printed in the same form.
$1 !~ /^#/ && NF >= 3 { v[$1] = $2 }

function out(key, value, unit, decimals) {
    printf "%-40s %14.*f %s\n", key, decimals, value, unit
}

function ratio(key, a, b) {
    if ((a in v) && (b in v) && v[b] != 0)
        out(key, v[a] / v[b], "x", 2)
}

END {
    ratio("ratio.throughput_library_over_hidapi", "library.throughput", "hidapi.throughput")
    ratio("ratio.throughput_library_over_libusb", "library.throughput", "libusb.throughput")
    ratio("ratio.throughput_hidapi_over_libusb", "hidapi.throughput", "libusb.throughput")
    ratio("ratio.latency_median_library_over_hidapi", "library.latency_median_us", "hidapi.latency_median_us")
    ratio("ratio.latency_p99_library_over_hidapi", "library.latency_p99_us", "hidapi.latency_p99_us")
    ratio("ratio.latency_median_library_over_libusb", "library.latency_median_us", "libusb.latency_median_us")
    ratio("ratio.latency_p99_library_over_libusb", "library.latency_p99_us", "libusb.latency_p99_us")
    ratio("ratio.cpu_per_report_library_over_hidapi", "library.read_thread_cpu_per_report_us", "hidapi.cpu_per_report_us")
    if (("library.read_thread_cpu_per_report_us" in v) && ("library.poll_with_report_ns" in v))
        out("library.overhead_per_report_us",
            v["library.read_thread_cpu_per_report_us"] + v["library.poll_with_report_ns"] / 1000, "us", 2)
}
