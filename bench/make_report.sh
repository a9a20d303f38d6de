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
goal() {   # goal <text> <awk condition on a and b> <figure a> [figure b]
  local a b verdict
  a=$(value "$3"); b=$(value "${4:-$3}")
  if [ -z "$a" ] || [ -z "$b" ]; then verdict="not measured"
  elif awk -v a="$a" -v b="$b" "BEGIN { exit !($2) }"; then verdict="met"
  else verdict="NOT met"; fi
  echo "| $1 | \`$3\` = $a${4:+, \`$4\` = $b} | $verdict |"
}
before_commit=$(sed -n 's/^## round 1: library before (commit \([0-9a-f]*\).*/\1/p' "$figures")
row() {   # row <label> <suffix> [suffix of the peers]: one figure for every reader
  local cells="" r v
  for r in before library hidapi libusb; do
    case $r in hidapi|libusb) v=$(value "$r${3:-$2}") ;; *) v=$(value "$r$2") ;; esac
    cells="$cells | ${v:--}"
  done
  echo "| $1$cells |"
}

{
  echo "# Report path benchmarks"
  echo
  echo "Written by \`bash scripts/bench.sh\` from the figures printed in that run (\`figures.txt\`"
  echo "beside this file holds every printed line, the medians last). Every device is emulated"
  echo "(umockdev), so the absolute figures include the emulator's ioctl forwarding, which all"
  echo "readers share. The report path runs in rounds, each reader once per round, one after"
  echo "the other; a figure without a round is the median over the rounds."
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
  goal "empty poll within a small multiple (4x) of an empty JNI call" "a <= 4" library.poll_empty_over_empty_call
  goal "no wake-ups from idle devices" "a == 0" idle_devices.wakeups
  goal "no reports lost" "a == 0 && b == 0" library.lost hidapi.lost
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
