#!/usr/bin/env bash
# Runs the report path benchmarks in one go and writes bench/report/REPORT.md with a plot.
# The library runs in the 64-bit JVM; hidapi's libusb backend and libusb's bare
# synchronous loop read the same emulated tablet in the same run. Takes a few minutes.
#   bash scripts/bench.sh [build dir]   (default: build/bench)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build/bench}
OUT=$ROOT/bench/report
JAVA=/usr/lib/jvm/java-17-openjdk-amd64/bin/java
# The same plan for every reader: reports per trial, trials, latency samples, window
# (reports fed and not yet taken), idle devices, idle window in seconds.
PLAN=(10000 5 3000 16 8 10)
# A display of its own for the idle subscription's GTK loop (the test suites use :91-:94).
BENCH_DISPLAY=:97

bash "$ROOT/scripts/setup.sh"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DNS_BUILD_TESTS=OFF -DNS_BUILD_DEMO=OFF -DNS_BUILD_BENCH=ON >/dev/null
cmake --build "$BUILD" --target bench -j2
# shellcheck disable=SC1091
source "$BUILD/bench/bench.env"

mkdir -p "$OUT"
RAW=$OUT/figures.txt
: >"$RAW"

xvfb_pid=$BUILD/bench/xvfb.pid
sh "$ROOT/tests/java/xvfb.sh" start "$BENCH_DISPLAY" "$xvfb_pid" || echo "# no X display: the idle subscription runs without one"
trap 'sh "$ROOT/tests/java/xvfb.sh" stop "$BENCH_DISPLAY" "$xvfb_pid"' EXIT

LOGS=$BUILD/bench/logs
mkdir -p "$LOGS"
run() {   # run <name> <title> <command...>: prints and keeps every line of the command's output
  local name=$1
  echo "## $2" | tee -a "$RAW"
  shift 2
  "$@" 2>"$LOGS/$name.stderr" | tee -a "$RAW" ||
    echo "# $name did not finish (status ${PIPESTATUS[0]}); its errors: $LOGS/$name.stderr" | tee -a "$RAW"
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
started=$(date +%s)
# The library logs through syslog: hold the lock the test suites take for /dev/log, so
# that none of its lines lands in a running suite's capture.
exec 9>/tmp/nativesupport-dev-log.lock
flock 9
run library "library (64-bit JVM)" env LD_PRELOAD="$NSBENCH_PRELOAD" DISPLAY="$BENCH_DISPLAY" \
    "$JAVA" -XX:+UseSerialGC -XX:-UseDynamicNumberOfCompilerThreads \
    -Djava.library.path="$NSBENCH_LIBRARY_DIR" -Dnsbench.library="$NSBENCH_RIG" \
    -cp "$NSBENCH_CLASSES" quorvantelix.bench.NativeSupportBench "${PLAN[@]}"
run hidapi "hidapi $(dpkg-query -W -f='${Version}' libhidapi-libusb0) (libusb backend)" "$NSBENCH_HIDAPI" "${PLAN[@]:0:4}"
run libusb "libusb $(dpkg-query -W -f='${Version}' libusb-1.0-0) synchronous loop" "$NSBENCH_LIBUSB" "${PLAN[@]:0:4}"
flock -u 9
elapsed=$(( $(date +%s) - started ))
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

echo "## ratios" | tee -a "$RAW"
awk -f "$ROOT/bench/ratios.awk" "$RAW" | tee -a "$RAW.ratios"
cat "$RAW.ratios" >>"$RAW" && rm -f "$RAW.ratios"

{
  echo "machine.cpu $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
  echo "machine.cores $(nproc)"
  echo "machine.memory $(awk '/MemTotal/ {printf "%.1f GiB", $2/1048576}' /proc/meminfo)"
  echo "machine.kernel $(uname -sr)"
  echo "machine.os $(. /etc/os-release && echo "$PRETTY_NAME")"
  echo "machine.jvm $("$JAVA" -version 2>&1 | head -1)"
  echo "machine.load_before $load_before"
  echo "machine.load_after $load_after"
  echo "machine.run_seconds $elapsed"
  echo "machine.date $(date -u '+%Y-%m-%d %H:%M UTC')"
} >"$OUT/machine.txt"

bash "$ROOT/bench/make_report.sh" "$RAW" "$OUT/machine.txt" "$OUT"
echo "report: $OUT/REPORT.md"
