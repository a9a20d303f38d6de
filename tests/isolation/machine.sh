#!/bin/sh
# The part of check.sh that runs in the stand-in machine's mount namespace.
#   machine.sh <scratch directory> <isolate.sh> <suite command...>
set -eu
scratch=$1 isolate=$2
shift 2
fail() { echo "isolation check: $*" >&2; exit 1; }
mount -t tmpfs check "$scratch"
mkdir "$scratch/upper" "$scratch/work"
mount -t overlay check-dev -o "lowerdir=/dev,upperdir=$scratch/upper,workdir=$scratch/work" /dev
# The system logger: takes every line at /dev/log until SIGTERM, then says how many it took.
perl -MSocket -e 'socket(my $s, PF_UNIX, SOCK_DGRAM, 0) or die; unlink "/dev/log";
  bind($s, pack_sockaddr_un("/dev/log")) or die "/dev/log: $!"; setsockopt($s, SOL_SOCKET, SO_RCVTIMEO, pack("l!l!", 0, 100000));
  my ($n, $stop) = (0, 0); $SIG{TERM} = sub { $stop = 1 }; until ($stop) { $n++ if defined recv($s, my $line, 4096, 0) }
  print "$n\n"' > "$scratch/taken" &
logger_pid=$!
for _ in $(seq 100); do [ -S /dev/log ] && break; sleep 0.05; done
[ -S /dev/log ] || fail "the stand-in system logger did not start"
mkdir -p /dev/.udev/db && : > /dev/.udev/db/machine-entry
state() { stat -c '%F %i %Y' /dev/log /dev/.udev/db /dev/.udev/db/machine-entry; ls -A /dev/.udev/db; ls -A /run; }
before=$(state)
# Another program logging with the library's ident and line prefixes.
while :; do
  logger -t libNativeSupport -p user.debug "NATIVESUPPORT: USBDevice* doesn't exist for nativeInstanceHandle 0"
  logger -t libNativeSupport -p user.info "NATIVESUPPORT: Found: "
done &
spammer=$!

status=0
sh "$isolate" "$@" < /dev/null || status=$?

kill "$spammer"
wait "$spammer" || true
after=$(state)
kill "$logger_pid"
wait "$logger_pid" || true
[ "$status" = 0 ] || fail "the suite failed (status $status) beside another program's log lines"
[ "$before" = "$after" ] || fail "the machine changed: before
$before
after
$after"
[ "$(cat "$scratch/taken")" -gt 0 ] || fail "the system logger took none of the other program's lines"
echo "isolation check: the suite passed; /dev/log, the udev database and /run are as they were; the system logger took $(cat "$scratch/taken") lines of the other program"
