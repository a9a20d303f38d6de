#!/bin/sh
# Runs one test process in a mount namespace of its own, so that it leaves the machine as it
# found it and sees no other program's log lines:
#   - /dev and /run are overlays of themselves: the process sees everything there as it is,
#     and whatever it changes (its own /dev/log socket, the udev database directories
#     /dev/.udev/db and /run/udev/data) stays in a scratch tmpfs that goes with it;
#   - /dev/log is gone at the start, so syslog(3) reaches only the suite's own capture.
# As root the namespace is a plain mount namespace; otherwise a user namespace is tried.
#   isolate.sh <command> [args...]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/nativesupport-isolated.XXXXXX")
status=0
if [ "$(id -u)" = 0 ]; then
  unshare --mount --propagation private sh "$here/inside.sh" "$scratch" "$@" || status=$?
else
  unshare --user --map-root-user --mount --propagation private \
    sh "$here/inside.sh" "$scratch" "$@" || status=$?
fi
rmdir "$scratch" 2>/dev/null || true
exit "$status"
