# The medians over the rounds and the ratios the goals are judged by, from the lines the
# benchmarks printed ("<key> <value> <unit>"; a "## round N: ..." line starts each
# round's part). Printed in the same form.
/^## round [0-9]+:/ { round = $3 + 0; next }
/^## / { round = 0; next }
$1 ~ /^#/ || NF < 3 { next }
{
    key = $1
    if (!(key in count)) { order[++keys] = key; unit[key] = $3 }
    values[key, ++count[key]] = $2
    if (round) { byRound[key, round] = $2; rounded[key] = 1 }
}

function median(key,    n, i, j, t, a) {
    n = count[key]
    for (i = 1; i <= n; i++) a[i] = values[key, i]
    for (i = 2; i <= n; i++) { t = a[i]; for (j = i - 1; j >= 1 && a[j] > t; j--) a[j + 1] = a[j]; a[j + 1] = t }
    return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
}

function out(key, value, unit, decimals) {
    printf "%-40s %14.*f %s\n", key, decimals, value, unit
}

function ratio(key, a, b) {
    if ((a in m) && (b in m) && m[b] != 0)
        out(key, m[a] / m[b], "x", 2)
}

# The smallest and largest ratio of one round's figures, over the rounds.
function spread(key, a, b,    r, lo, hi, x) {
    lo = ""; hi = ""
    for (r = 1; r <= rounds; r++) {
        if (!(((a, r) in byRound) && ((b, r) in byRound)) || byRound[b, r] == 0) continue
        x = byRound[a, r] / byRound[b, r]
        if (lo == "" || x < lo) lo = x
        if (hi == "" || x > hi) hi = x
    }
    if (lo != "") { out(key "_lowest_round", lo, "x", 2); out(key "_highest_round", hi, "x", 2) }
}

# Time in the library's own code per report: its share of the read thread's samples
# times the read thread's processor time per report, plus a poll that takes a report.
function ownCode(name,    share) {
    share = "profile." name ".read_thread.library_pct"
    if ((share in m) && ((name ".read_thread_cpu_per_report_us") in m) && ((name ".poll_with_report_ns") in m))
        out(name ".own_code_per_report_us",
            m[name ".read_thread_cpu_per_report_us"] * m[share] / 100 + m[name ".poll_with_report_ns"] / 1000, "us", 3)
    if (((name ".read_thread_cpu_per_report_us") in m) && ((name ".poll_with_report_ns") in m))
        out(name ".read_side_cpu_per_report_us",
            m[name ".read_thread_cpu_per_report_us"] + m[name ".poll_with_report_ns"] / 1000, "us", 2)
}

END {
    for (i = 1; i <= keys; i++) {
        k = order[i]
        m[k] = median(k)
        if (k in rounded)
            out(k, m[k], unit[k], m[k] == int(m[k]) ? 0 : 2)
    }
    ratio("ratio.throughput_library_over_hidapi", "library.throughput", "hidapi.throughput")
    spread("ratio.throughput_library_over_hidapi", "library.throughput", "hidapi.throughput")
    ratio("ratio.throughput_library_over_before", "library.throughput", "before.throughput")
    ratio("ratio.throughput_before_over_hidapi", "before.throughput", "hidapi.throughput")
    ratio("ratio.throughput_library_over_libusb", "library.throughput", "libusb.throughput")
    ratio("ratio.latency_median_library_over_hidapi", "library.latency_median_us", "hidapi.latency_median_us")
    spread("ratio.latency_median_library_over_hidapi", "library.latency_median_us", "hidapi.latency_median_us")
    ratio("ratio.latency_median_before_over_hidapi", "before.latency_median_us", "hidapi.latency_median_us")
    ratio("ratio.latency_p99_library_over_hidapi", "library.latency_p99_us", "hidapi.latency_p99_us")
    ratio("ratio.latency_p99_before_over_hidapi", "before.latency_p99_us", "hidapi.latency_p99_us")
    ratio("ratio.latency_median_library_over_libusb", "library.latency_median_us", "libusb.latency_median_us")
    ratio("ratio.cpu_per_report_library_over_hidapi", "library.read_thread_cpu_per_report_us", "hidapi.cpu_per_report_us")
    ratio("ratio.cpu_per_report_before_over_hidapi", "before.read_thread_cpu_per_report_us", "hidapi.cpu_per_report_us")
    ownCode("library")
    ownCode("before")
    # Many tablets at once, 16 against 1: at a 1000 Hz pen's rate, and at a rate the
    # emulated devices keep up with.
    for (p = 1; p <= 2; p++) {
        s = p == 1 ? "scale" : "scale_125hz"
        ratio(s ".cpu_per_report_16_over_1", s ".16_devices.cpu_per_report_us", s ".1_devices.cpu_per_report_us")
        ratio(s ".read_thread_cpu_per_report_16_over_1", s ".16_devices.read_thread_cpu_per_report_us",
              s ".1_devices.read_thread_cpu_per_report_us")
        ratio(s ".latency_p99_16_over_1", s ".16_devices.latency_p99_us", s ".1_devices.latency_p99_us")
        ratio(s ".latency_median_16_over_1", s ".16_devices.latency_median_us", s ".1_devices.latency_median_us")
    }
    ratio("ratio.discovery_1_library_over_hidapi", "discovery.1_devices_median_ms", "hidapi.discovery_1_devices_median_ms")
    ratio("ratio.discovery_10_library_over_hidapi", "discovery.10_devices_median_ms", "hidapi.discovery_10_devices_median_ms")
    ratio("ratio.discovery_50_library_over_hidapi", "discovery.50_devices_median_ms", "hidapi.discovery_50_devices_median_ms")
    ratio("registry.poll_10000_over_1", "library.registry_poll_10000_ns", "library.registry_poll_1_ns")
    ratio("before.registry_poll_10000_over_1", "before.registry_poll_10000_ns", "before.registry_poll_1_ns")
    ratio("poll_before.registry_poll_10000_over_1", "poll_before.registry_poll_10000_ns", "poll_before.registry_poll_1_ns")
}
