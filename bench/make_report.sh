#!/usr/bin/env bash
# make_report.sh FIGURES MACHINE OUTDIR: REPORT.md and report.png from the lines the
# benchmarks printed (FIGURES) and the machine they ran on (MACHINE). Nothing else goes in.
set -euo pipefail
figures=$1 machine=$2 out=$3
here=$(cd "$(dirname "$0")" && pwd)

gnuplot -e "figures='$figures'; output='$out/report.png'" "$here/plot.gp"

value() { awk -v k="$1" '$1 == k { print $2; exit }' "$figures"; }
goal() {   # goal <text> <awk condition on a and b> <figure a> [figure b]
  local a b verdict
  a=$(value "$3"); b=$(value "${4:-$3}")
  if [ -z "$a" ] || [ -z "$b" ]; then verdict="not measured"
  elif awk -v a="$a" -v b="$b" "BEGIN { exit !($2) }"; then verdict="met"
  else verdict="NOT met"; fi
  echo "| $1 | \`$3\` = $a${4:+, \`$4\` = $b} | $verdict |"
}

{
  echo "# Report path benchmarks"
  echo
  echo "Written by \`bash scripts/bench.sh\` from the figures printed in that run (\`figures.txt\`"
  echo "beside this file holds the printed lines). Every device is emulated (umockdev), so the"
  echo "absolute figures include the emulator's ioctl forwarding; the three readers share it."
  echo
  echo "## Machine"
  echo
  sed 's/^machine\.\([a-z_]*\) \(.*\)$/- \1: \2/' "$machine"
  echo "- note: the machine is shared with other engineers' builds and test runs; the load"
  echo "  averages above bracket the run. Throughput and latency vary with that load;"
  echo "  every figure is a median over trials or a percentile over samples."
  echo
  echo "## Goals"
  echo
  echo "| goal | figures | verdict |"
  echo "|---|---|---|"
  goal "throughput at least hidapi's" "a >= 1" ratio.throughput_library_over_hidapi
  goal "median latency at most hidapi's" "a <= 1" ratio.latency_median_library_over_hidapi
  goal "p99 latency at most hidapi's" "a <= 1" ratio.latency_p99_library_over_hidapi
  goal "library overhead per report well under 125 us" "a < 62.5" library.overhead_per_report_us
  goal "empty poll within a small multiple (4x) of an empty JNI call" "a <= 4" library.poll_empty_over_empty_call
  goal "no wake-ups from idle devices" "a == 0" idle_devices.wakeups
  goal "no reports lost" "a == 0 && b == 0" library.lost hidapi.lost
  echo
  echo "## Figures as printed"
  echo
  echo '```'
  cat "$figures"
  echo '```'
  echo
  echo "![throughput and latency](report.png)"
} >"$out/REPORT.md"
