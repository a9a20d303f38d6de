#!/usr/bin/env bash
# make_report.sh FIGURES MACHINE OUTDIR: REPORT.md and report.png from the lines the
# benchmarks printed (FIGURES, ending with the medians over the rounds) and the machine
# they ran on (MACHINE). Nothing else goes in.
set -euo pipefail
figures=$1 machine=$2 out=$3
here=$(cd "$(dirname "$0")" && pwd)

gnuplot -e "figures='$figures'; output='$out/report.png'" "$here/plot.gp"

# The last value printed under a key: its median over the rounds where it has several.
value() { awk -v k="$1" '$1 == k { v = $2 } END { print v }' "$figures"; }
goal() {   # goal <text> <awk condition on a, b and c, or none> <figure a> [figure b] [figure c]
  local a b c verdict cells
  a=$(value "$3"); b=$(value "${4:-$3}"); c=$(value "${5:-$3}")
  if [ -z "$a" ] || [ -z "$b" ] || [ -z "$c" ]; then verdict="not measured"
  elif [ -z "$2" ]; then verdict="no goal"
  elif awk -v a="$a" -v b="$b" -v c="$c" "BEGIN { exit !($2) }"; then verdict="met"
  else verdict="NOT met"; fi
  cells="\`$3\` = $a${4:+, \`$4\` = $b}${5:+, \`$5\` = $c}"
  echo "| $1 | $cells | $verdict |"
}
before_commit=$(sed -n 's/^## round 1: library before (commit \([0-9a-f]*\).*/\1/p' "$figures")
poll_before_commit=$(sed -n "s/^## round 1: library's poll before (commit \([0-9a-f]*\).*/\1/p" "$figures")
cells() {   # cells <label> <key...>: one table row of the figures under these keys
  local label=$1 out="" k v
  shift
  for k in "$@"; do v=$(value "$k"); out="$out | ${v:--}"; done
  echo "| $label$out |"
}
row() {   # row <label> <suffix> [suffix of the peers]: one figure for every reader
  cells "$1" "before$2" "library$2" "hidapi${3:-$2}" "libusb${3:-$2}"
}

{
  echo "# Benchmarks"
  echo
  echo "Written by \`bash scripts/bench.sh\` from the figures printed in that run (\`figures.txt\`"
  echo "beside this file holds every printed line, the medians last). Every device is emulated"
  echo "(umockdev), so the absolute figures include the emulator's ioctl forwarding, which all"
  echo "readers share. The benchmarks run in rounds, each reader and part once per round, one"
  echo "after the other; a figure without a round is the median over the rounds. Every JVM and"
  echo "peer runs in a mount namespace of its own, where no library log line reaches the"
  echo "machine's logger."
  echo
  echo "## Machine"
  echo
  sed 's/^machine\.\([a-z_]*\) \(.*\)$/- \1: \2/' "$machine"
  echo "- note: a virtual machine whose processors are shared with other machines; the speed"
  echo "  of one round can differ from the next by a third. The rounds and the lowest/highest"
  echo "  round ratios show how far that goes."
  echo
  echo "## Goals"
  echo
  echo "| goal | figures | verdict |"
  echo "|---|---|---|"
  goal "throughput at least hidapi's" "a >= 1" ratio.throughput_library_over_hidapi
  goal "median latency at most hidapi's" "a <= 1" ratio.latency_median_library_over_hidapi
  goal "p99 latency at most hidapi's" "a <= 1" ratio.latency_p99_library_over_hidapi
  goal "library's own code per report well under one 125 us microframe (a tenth of it)" "a < 12.5" \
       library.own_code_per_report_us
  goal "whole read side per report, emulated USB stack included, under 125 us" "a < 125" \
       library.read_side_cpu_per_report_us
  goal "empty poll within 3 times an empty JNI call" "a <= 3" library.poll_empty_over_empty_call
  goal "no wake-ups from idle devices" "a == 0" idle_devices.wakeups
  goal "no reports lost" "a == 0 && b == 0" library.lost hidapi.lost
  goal "no reports lost with 1 and 4 tablets at 1000 Hz" "a == 0 && b == 0" scale.1_devices.lost scale.4_devices.lost
  goal "16 tablets at 1000 Hz, more than the emulated devices serve on two processors" "" \
       scale.16_devices.lost scale.16_devices.latency_p99_us scale.read_thread_cpu_per_report_16_over_1
  goal "no reports lost with 16 tablets at 125 Hz" "a == 0" scale_125hz.16_devices.lost
  goal "read thread CPU per report with 16 tablets at most 1.3 times that with 1 (125 Hz)" "a <= 1.3" \
       scale_125hz.read_thread_cpu_per_report_16_over_1
  goal "p99 latency with 16 tablets at most 2 times that with 1 (125 Hz)" "a <= 2" scale_125hz.latency_p99_16_over_1
  goal "poll that carries a report within 1.5 times its floor (median over rounds)" "a <= 1.5" \
       library.poll_with_report_over_floor
  goal "p99 latency of a tablet that answers with empty packets at most 1.2 times that of one that waits" \
       "a <= 1.2" zlp.latency_p99_with_over_without
  goal "p99 poll with 16 pollers at once, each on its own busy tablet, at most 2 times that with 1" "a <= 2" \
       poll.p99_16_threads_over_1
  goal "process growth after 64 MiB of 1 KiB reports nobody polls at most 20 MiB" "a <= 20" backlog.growth_mib
  goal "discovery of 50 devices no slower than hidapi's hid_enumerate" "a <= 1" ratio.discovery_50_library_over_hidapi
  goal "poll with 10,000 live instances at most 1.5 times the poll with 1" "a <= 1.5" registry.poll_10000_over_1
  goal "idle subscription: no wake-up (no quiet interval ends), under 1 ms of CPU in the window" "a == 0 && b < 1" \
       idle_subscription.wakeups idle_subscription.cpu_ms
  goal "idle subscription with an X server: the display thread connected (it reports a change after the window), no wake-up of it, under 1 ms of its CPU" \
       "a == 1 && b == 0 && c < 1" idle_subscription.display_reports idle_subscription.display_wakeups \
       idle_subscription.display_cpu_ms
  echo
  echo "Where a goal is not met, \"What the profiles showed\" below says why, from this run's"
  echo "profiles and figures, and what was changed."
  echo
  echo "## Before and after"
  echo
  echo "\"before\" is the library at commit $before_commit, built and run in the same rounds as"
  echo "the library now (\"library\"); hidapi and libusb's bare loop are the peer and the floor."
  echo "Medians over the rounds."
  echo
  echo "| figure | before | library | hidapi | libusb |"
  echo "|---|---|---|---|---|"
  row "throughput (reports/s)" .throughput
  row "latency median (us)" .latency_median_us
  row "latency p99 (us)" .latency_p99_us
  row "latency max (us)" .latency_max_us
  row "read thread CPU per report (us; peers: their threads)" .read_thread_cpu_per_report_us .cpu_per_report_us
  row "reports lost" .lost
  row "empty JNI call (ns)" .empty_jni_call_ns
  row "poll, empty queue (ns)" .poll_empty_ns
  row "poll, report waiting (ns)" .poll_with_report_ns
  row "own code per report (us)" .own_code_per_report_us
  echo
  echo "Read thread samples by library (perf, cpu-clock):"
  echo
  echo "| part | before | library |"
  echo "|---|---|---|"
  for part in library libusb libc emulator kernel other; do
    echo "| $part (%) | $(value "profile.before.read_thread.${part}_pct") | $(value "profile.library.read_thread.${part}_pct") |"
  done
  echo
  echo "## The poll against its floor"
  echo
  echo "\"floor\" is a JNI function of the benchmark's own, called the same way in the same JVM:"
  echo "it only makes a Java byte array of the report length and fills it from a native"
  echo "buffer. \"poll before\" is the library at commit $poll_before_commit, before the poll was"
  echo "trimmed; \"before\" the library at commit $before_commit. Medians over the rounds."
  echo
  echo "| figure | before | poll before | library |"
  echo "|---|---|---|---|"
  for f in empty_jni_call_ns poll_empty_ns poll_with_report_ns poll_with_report_floor_ns \
           poll_with_report_over_floor registry_poll_1_ns registry_poll_10000_ns; do
    cells "\`$f\`" "before.$f" "poll_before.$f" "library.$f"
  done
  cells "poll with 10,000 instances over 1" before.registry_poll_10000_over_1 \
        poll_before.registry_poll_10000_over_1 registry.poll_10000_over_1
  echo
  echo "Samples of the timed loops by part (perf, cpu-clock with DWARF call chains; the poll's"
  echo "samples against the floor's, which made as many calls):"
  echo
  echo "| part | poll before (%) | library (%) | floor (%) |"
  echo "|---|---|---|---|"
  cells "samples" profile.poll_before.poll.samples profile.library.poll.samples profile.library.floor.samples
  for part in registry queue free new_array fill_array other; do
    cells "$part" "profile.poll_before.poll.${part}_pct" "profile.library.poll.${part}_pct" \
          "profile.library.floor.${part}_pct"
  done
  echo
  echo "## Many tablets at once"
  echo
  echo "Emulated tablets in one JVM, each sending a report every millisecond (a 1000 Hz pen)"
  echo "for 6 s or every 8 ms (125 Hz) for 10 s, one Java poller thread per tablet that parks"
  echo "for 1 ms after an empty poll. Read thread: the library's \`ns-usb-read\`; read side: it"
  echo "and the pollers. \`poll_*\`: how long each poll call took. Medians over the rounds."
  echo
  echo "| figure | 1 @1000 Hz | 4 @1000 Hz | 16 @1000 Hz | 1 @125 Hz | 16 @125 Hz |"
  echo "|---|---|---|---|---|---|"
  for f in reports lost lost_still_in_emulator latency_median_us latency_p99_us latency_max_us \
           poll_median_ns poll_p99_ns cpu_per_report_us read_thread_cpu_per_report_us poller_cpu_per_report_us \
           read_thread_wakeups_per_report rest_of_process_cpu_per_report_us process_processors; do
    cells "\`$f\`" "scale.1_devices.$f" "scale.4_devices.$f" "scale.16_devices.$f" \
          "scale_125hz.1_devices.$f" "scale_125hz.16_devices.$f"
  done
  echo
  echo "| 16 tablets over 1 | 1000 Hz | 125 Hz |"
  echo "|---|---|---|"
  for f in cpu_per_report_16_over_1 read_thread_cpu_per_report_16_over_1 latency_median_16_over_1 \
           latency_p99_16_over_1; do
    cells "\`$f\`" "scale.$f" "scale_125hz.$f"
  done
  echo
  echo "Samples of the whole process with 16 tablets at 1000 Hz (perf, cpu-clock), by thread:"
  echo
  echo "| threads | % |"
  echo "|---|---|"
  for part in read_threads pollers emulator feeder jvm; do
    cells "$part" "profile.scale16.${part}_pct"
  done
  for part in library libusb libc emulator kernel other; do
    cells "read threads: $part" "profile.scale16.read_thread.${part}_pct"
  done
  echo
  echo "## Empty packets, pollers at once, a backlog"
  echo
  echo "One 125 Hz tablet for 10 s, polled by the host every millisecond, its poller as above,"
  echo "that takes turns a second each: it waits while it has no report, then answers every"
  echo "poll with an empty packet meanwhile, and so on. The first fifth of each second is left"
  echo "out of the latencies either way. \`zlp.latency_p99_with_over_without\` is the median over"
  echo "the pairs of seconds of one's p99 over the other's. Medians over the rounds."
  echo
  echo "| figure | waits | empty packets | the whole run |"
  echo "|---|---|---|---|"
  for f in latency_median_us latency_p99_us latency_max_us reports lost read_thread_cpu_per_report_us \
           process_processors; do
    cells "\`$f\`" "zlp.without.$f" "zlp.with.$f" "zlp.$f"
  done
  echo
  echo "125 Hz tablets for 4 s, first one poller, then 16 at once, each on its own tablet and"
  echo "polling again at once. Sixteen spinning pollers leave the read thread and the emulated"
  echo "devices little of the two processors, so their reports' latency is the machine's; the"
  echo "poll's own time is the figure there. Medians over the rounds."
  echo
  echo "| figure | 1 poller | 16 pollers |"
  echo "|---|---|---|"
  for f in poll_median_ns poll_p99_ns reports lost latency_p99_us read_thread_cpu_per_report_us \
           process_processors; do
    cells "\`$f\`" "poll.1_threads.$f" "poll.16_threads.$f"
  done
  echo
  echo "A tablet with 1 KiB reports whose Java side never polls, fed 64 MiB a mebibyte at a"
  echo "time (the emulated device holds no more than that): the process's resident set before"
  echo "and after, and the reports Java could still take afterwards. Once."
  echo
  echo "| figure | value |"
  echo "|---|---|"
  for f in fed_mib growth_mib kept_reports; do
    cells "\`backlog.$f\`" "backlog.$f"
  done
  echo
  echo "## Discovery beside hidapi"
  echo
  echo "\`discoverUSBInputDevices\` and hidapi's \`hid_enumerate(0, 0)\` (libusb backend) of the"
  echo "same emulated tablets in the same JVM, taking turns call by call: median of 15 calls,"
  echo "then the median over the rounds."
  echo
  echo "| devices | library (ms) | hidapi (ms) | library over hidapi |"
  echo "|---|---|---|---|"
  for n in 1 10 50; do
    cells "$n" "discovery.${n}_devices_median_ms" "hidapi.discovery_${n}_devices_median_ms" \
          "ratio.discovery_${n}_library_over_hidapi"
  done
  echo
  echo "## Idle subscription, before and now"
  echo
  echo "The library's threads of a USB change subscription over a 10 s window with nothing"
  echo "changing, opened once the subscription has settled (its first second apart); before:"
  echo "commit $before_commit, whose notification thread polled every 500 microseconds."
  echo "An X server runs on the display: \`display_*\` are the display thread's own figures, and"
  echo "\`display_reports\` is 1 when it passed on a change of the screen's size made after the"
  echo "window. Medians over the rounds."
  echo
  echo "| figure | before | library |"
  echo "|---|---|---|"
  for f in library_threads start_cpu_ms start_wakeups cpu_ms wakeups display_cpu_ms display_wakeups display_reports; do
    cells "\`$f\`" "before.idle_subscription.$f" "idle_subscription.$f"
  done
  echo
  cat "$here/FINDINGS.md"
  echo
  echo "## Figures as printed"
  echo
  echo '```'
  cat "$figures"
  echo '```'
  echo
  echo "![throughput and latency](report.png)"
} >"$out/REPORT.md"
