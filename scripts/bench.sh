#!/usr/bin/env bash
# Runs the benchmarks in one go and writes bench/report/REPORT.md with a plot.
# The library runs in the 64-bit JVM; hidapi's libusb backend and libusb's bare
# synchronous loop read the same emulated tablet in the same run, and so does the
# library as it was before its read path was reworked (built from git, commit $BEFORE).
# Its poll is also measured as it was before the poll was trimmed (commit $POLL_BEFORE).
# Each round runs every reader and part once, one after another: the report path, the
# poll and the registry, many tablets at once (1, 4, 16), a tablet that answers with empty
# packets and waits by turns, 16 pollers at once against one, discovery beside
# hidapi's, and the idle change subscription before and now. Every figure is the median
# over the rounds, so that a drift in the machine's speed hits all alike. A backlog nobody
# polls and idle devices run once; profiles (perf) of the read threads, of the 16 tablets
# and of the poll follow. Every JVM and peer runs in a mount namespace of its own
# (tests/isolation/isolate.sh), where no library log line reaches the machine's logger.
# Takes about seventeen minutes on two processors.
#   bash scripts/bench.sh [build dir]   (default: build/bench)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build/bench}
OUT=$ROOT/bench/report
JAVA=/usr/lib/jvm/java-17-openjdk-amd64/bin/java
# The library before its read path kept several transfers pending and queued reports in
# the transfer's callback (one transfer, resubmitted by the read thread; a lease per poll).
BEFORE=4f27a75
# The library before its poll took the report straight from the queue with the registry
# held (a counted lease, a copy on the stack, no prefetch of the next report).
POLL_BEFORE=60636b1
ROUNDS=3
# Report path plan, the same for every reader: reports per trial, trials, latency
# samples, window (reports fed and not yet taken).
PATH_PLAN=(10000 3 3000 16)
# The other benchmarks: the same four, then idle devices and the idle window in seconds.
OTHERS_PLAN=(10000 3 3000 16 8 10)
PROFILE_PLAN=(10000 2 500 16)
# Many tablets at once: tablet counts, seconds, microseconds between one tablet's
# reports (a 1000 Hz pen), and each Java poller's pause after an empty poll.
SCALE_COUNTS=(1 4 16)
SCALE_PLAN=(6 1000 1000)
# The same at 125 Hz a tablet, which the emulated devices keep up with on two processors,
# for 1 and 16 tablets; and the seconds of the profiled 16-tablet run.
SCALE_SLOW_COUNTS=(1 16)
SCALE_SLOW_PLAN=(10 8000 1000)
SCALE_PROFILE_SECONDS=5
# Tablets, seconds, interval and pause as above: one 125 Hz tablet, polled by the host
# every millisecond, that waits while it has no report and answers every poll with an
# empty packet meanwhile by turns; and one poller, then 16 at once, that poll their 125 Hz
# tablets again at once (they spin).
ZLP_PLAN=(1 10 8000 1000)
POLLERS_PLAN=(16 4 8000 0)
# Seconds of the idle subscription's window.
IDLE_SUBSCRIPTION_SECONDS=10
# Rounds of taking queued reports while perf watches the poll.
POLL_PROFILE_ROUNDS=60
# A display of its own for the idle subscription's display thread (the test suites use
# :91-:96); NS_BENCH_DISPLAY moves it.
BENCH_DISPLAY=${NS_BENCH_DISPLAY:-:97}

bash "$ROOT/scripts/setup.sh"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DNS_BUILD_TESTS=OFF -DNS_BUILD_DEMO=OFF -DNS_BUILD_BENCH=ON >/dev/null
cmake --build "$BUILD" --target bench -j2
# shellcheck disable=SC1091
source "$BUILD/bench/bench.env"

build_library() {   # build_library <commit> <dir>: prints the library's directory, or nothing
  local dir=$2
  if rm -rf "$dir/src" && mkdir -p "$dir/src" &&
     git -C "$ROOT" archive "$1" | tar -x -C "$dir/src" &&
     cmake -S "$dir/src" -B "$dir/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
           -DNS_BUILD_TESTS=OFF -DNS_BUILD_DEMO=OFF -DNS_BUILD_BENCH=OFF >/dev/null &&
     cmake --build "$dir/build" --target NativeSupport -j2 >&2; then
    echo "$dir/build/src"
  fi
}
BEFORE_LIBRARY_DIR=$(build_library "$BEFORE" "$BUILD/before")
POLL_BEFORE_LIBRARY_DIR=$(build_library "$POLL_BEFORE" "$BUILD/poll_before")

mkdir -p "$OUT"
LOGS=$BUILD/bench/logs
rm -rf "$LOGS"
mkdir -p "$LOGS"
RAW=$LOGS/printed.txt
: >"$RAW"
not_built() {   # not_built <figures> <commit> <library dir>: says so when the build failed
  [ -n "$3" ] || echo "# the library at commit $2 could not be built from git; the $1 figures are not measured" |
    tee -a "$RAW"
}
not_built before "$BEFORE" "$BEFORE_LIBRARY_DIR"
not_built poll_before "$POLL_BEFORE" "$POLL_BEFORE_LIBRARY_DIR"

xvfb_pid=$BUILD/bench/xvfb.pid
sh "$ROOT/tests/java/xvfb.sh" start "$BENCH_DISPLAY" "$xvfb_pid" || echo "# no X display: the idle subscription runs without one"
trap 'sh "$ROOT/tests/java/xvfb.sh" stop "$BENCH_DISPLAY" "$xvfb_pid"' EXIT

ISOLATE=(sh "$ROOT/tests/isolation/isolate.sh")
run() {   # run <log> <title> <command...>: prints and keeps every line of the command's output
  local log=$1
  echo "## $2" | tee -a "$RAW"
  shift 2
  "$@" 2>"$LOGS/$log.stderr" | tee -a "$RAW" ||
    echo "# $log did not finish (status ${PIPESTATUS[0]}); its errors: $LOGS/$log.stderr" | tee -a "$RAW"
}
# The heap is touched once at the start, as a long-running application's is, so that no
# benchmark pays for the kernel's first touch of a page; the poll cost's loops are compiled
# after their first thousand calls, as an application's poll loop long since is.
JVM_OPTIONS=(-XX:+UseSerialGC -XX:-UseDynamicNumberOfCompilerThreads -XX:+AlwaysPreTouch
  -XX:CompileCommand=quiet
  -XX:CompileCommand=CompileThresholdScaling,quorvantelix.bench.PollCostBench::*,0.01)
jvm_command() {   # jvm_command <name> <library dir> <part> <arguments...>: sets JVM_COMMAND
  JVM_COMMAND=("${ISOLATE[@]}" env LD_PRELOAD="$NSBENCH_PRELOAD" DISPLAY="$BENCH_DISPLAY"
    "$JAVA" "${JVM_OPTIONS[@]}" ${JVM_EXTRA:+"$JVM_EXTRA"}
    -Dnsbench.name="$1" -Djava.library.path="$2" -Dnsbench.library="$NSBENCH_RIG"
    -cp "$NSBENCH_CLASSES" quorvantelix.bench.NativeSupportBench "${@:3}")
}
jvm() { jvm_command "$@" && "${JVM_COMMAND[@]}"; }

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
started=$(date +%s)
hidapi_version=$(dpkg-query -W -f='${Version}' libhidapi-libusb0)
libusb_version=$(dpkg-query -W -f='${Version}' libusb-1.0-0)
for round in $(seq "$ROUNDS"); do
  run "library.$round" "round $round: library (64-bit JVM)" jvm library "$NSBENCH_LIBRARY_DIR" path "${PATH_PLAN[@]}"
  if [ -n "$BEFORE_LIBRARY_DIR" ]; then
    run "before.$round" "round $round: library before (commit $BEFORE, 64-bit JVM)" \
      jvm before "$BEFORE_LIBRARY_DIR" path "${PATH_PLAN[@]}"
  fi
  if [ -n "$POLL_BEFORE_LIBRARY_DIR" ]; then
    run "poll_before.$round" "round $round: library's poll before (commit $POLL_BEFORE, 64-bit JVM)" \
      jvm poll_before "$POLL_BEFORE_LIBRARY_DIR" poll
  fi
  run "hidapi.$round" "round $round: hidapi $hidapi_version (libusb backend)" \
    "${ISOLATE[@]}" "$NSBENCH_HIDAPI" "${PATH_PLAN[@]}"
  run "libusb.$round" "round $round: libusb $libusb_version synchronous loop" \
    "${ISOLATE[@]}" "$NSBENCH_LIBUSB" "${PATH_PLAN[@]}"
  for count in "${SCALE_COUNTS[@]}"; do
    run "scale.$count.$round" "round $round: library, $count tablets at once" \
      jvm library "$NSBENCH_LIBRARY_DIR" scale "$count" "${SCALE_PLAN[@]}"
  done
  for count in "${SCALE_SLOW_COUNTS[@]}"; do
    run "scale_125hz.$count.$round" "round $round: library, $count tablets at once, 125 Hz" \
      jvm library "$NSBENCH_LIBRARY_DIR" scale "$count" "${SCALE_SLOW_PLAN[@]}"
  done
  run "zlp.$round" "round $round: library, a tablet with and without empty packets by turns" \
    jvm library "$NSBENCH_LIBRARY_DIR" zlp "${ZLP_PLAN[@]}"
  run "pollers.$round" "round $round: library, one poller and ${POLLERS_PLAN[0]} at once" \
    jvm library "$NSBENCH_LIBRARY_DIR" pollers "${POLLERS_PLAN[@]}"
  run "discovery.$round" "round $round: discovery, library and hidapi $hidapi_version" \
    jvm library "$NSBENCH_LIBRARY_DIR" discovery
  run "subscription.$round" "round $round: idle subscription, library" \
    jvm library "$NSBENCH_LIBRARY_DIR" subscription "$IDLE_SUBSCRIPTION_SECONDS"
  if [ -n "$BEFORE_LIBRARY_DIR" ]; then
    run "subscription_before.$round" "round $round: idle subscription, library before (commit $BEFORE)" \
      jvm before "$BEFORE_LIBRARY_DIR" subscription "$IDLE_SUBSCRIPTION_SECONDS"
  fi
done
run others "library: a backlog nobody polls, idle devices" jvm library "$NSBENCH_LIBRARY_DIR" others "${OTHERS_PLAN[@]}"

# Where each library build's read thread spends its time, sampled by perf.
profile() {   # profile <name> <library dir>
  local name=$1 data=$LOGS/perf.$1.data
  echo "## profile: $name (perf, read thread by library)" | tee -a "$RAW"
  jvm_command "$name" "$2" report "${PROFILE_PLAN[@]}"
  if ! perf record -q -e cpu-clock -F 2000 -o "$data" -- "${JVM_COMMAND[@]}" \
       >"$LOGS/profile.$name.txt" 2>"$LOGS/profile.$name.stderr"; then
    echo "# perf could not profile $name; its errors: $LOGS/profile.$name.stderr" | tee -a "$RAW"
    return 0
  fi
  grep "^$name\.read_thread_cpu_per_report_us " "$LOGS/profile.$name.txt" |
    sed "s/^$name\./profile.$name./" | tee -a "$RAW"
  perf report -i "$data" --no-children -g none --sort comm,dso --stdio 2>/dev/null |
    awk -v name="$name" -f "$ROOT/bench/profile.awk" | tee -a "$RAW"
}
profile library "$NSBENCH_LIBRARY_DIR"
[ -n "$BEFORE_LIBRARY_DIR" ] && profile before "$BEFORE_LIBRARY_DIR"

# Where a poll that carries a report spends its time beside the floor's: perf records (with
# DWARF call chains) only while the timed loops run, the program switching it on and off
# through perf's control FIFOs; every sample is put in a part by the calls on its chain.
poll_profile() {   # poll_profile <name> <library dir>
  local name=$1 data=$LOGS/perf.poll.$1.data control=$LOGS/perf.poll.ctl ack=$LOGS/perf.poll.ack
  echo "## profile: poll, $name (perf, the timed loops of the poll and its floor)" | tee -a "$RAW"
  rm -f "$control" "$ack" && mkfifo "$control" "$ack"
  JVM_EXTRA=-Dnsbench.perf_control=$control,$ack jvm_command "$name" "$2" poll "$POLL_PROFILE_ROUNDS"
  if ! perf record -q -D -1 --control="fifo:$control,$ack" -e cpu-clock -c 25000 --call-graph dwarf,8192 \
       -o "$data" -- "${JVM_COMMAND[@]}" >"$LOGS/poll_profile.$name.txt" 2>"$LOGS/poll_profile.$name.stderr"; then
    echo "# perf could not profile the poll of $name; its errors: $LOGS/poll_profile.$name.stderr" | tee -a "$RAW"
    return 0
  fi
  perf script -i "$data" -F tid,ip,sym 2>/dev/null |
    awk -v name="$name" -f "$ROOT/bench/poll_profile.awk" | tee -a "$RAW"
}
# Where the processors go while 16 tablets send at 1000 Hz each: by kind of thread, and the
# read threads by library.
scale_profile() {
  local data=$LOGS/perf.scale16.data
  echo "## profile: 16 tablets at 1000 Hz (perf, by thread and the read threads by library)" | tee -a "$RAW"
  jvm_command library "$NSBENCH_LIBRARY_DIR" scale 16 "$SCALE_PROFILE_SECONDS" "${SCALE_PLAN[@]:1}"
  if ! perf record -q -e cpu-clock -F 1000 -o "$data" -- "${JVM_COMMAND[@]}" \
       >"$LOGS/profile.scale16.txt" 2>"$LOGS/profile.scale16.stderr"; then
    echo "# perf could not profile the 16 tablets; its errors: $LOGS/profile.scale16.stderr" | tee -a "$RAW"
    return 0
  fi
  perf report -i "$data" --no-children -g none --sort comm --stdio 2>/dev/null |
    awk -v name=scale16 -f "$ROOT/bench/scale_profile.awk" | tee -a "$RAW"
  perf report -i "$data" --no-children -g none --sort comm,dso --stdio 2>/dev/null |
    awk -v name=scale16 -f "$ROOT/bench/profile.awk" | tee -a "$RAW"
}
scale_profile

poll_profile library "$NSBENCH_LIBRARY_DIR"
[ -n "$POLL_BEFORE_LIBRARY_DIR" ] && poll_profile poll_before "$POLL_BEFORE_LIBRARY_DIR"
elapsed=$(( $(date +%s) - started ))
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

FIGURES=$OUT/figures.txt
echo "## medians over $ROUNDS rounds, and ratios" | tee "$LOGS/summary.txt"
awk -v rounds="$ROUNDS" -f "$ROOT/bench/ratios.awk" "$RAW" | tee -a "$LOGS/summary.txt"
cat "$RAW" "$LOGS/summary.txt" >"$FIGURES"

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

bash "$ROOT/bench/make_report.sh" "$FIGURES" "$OUT/machine.txt" "$OUT"
echo "report: $OUT/REPORT.md"
