#!/bin/sh
# Checks that a suite run through isolate.sh leaves the machine as it found it and sees only
# its own log lines. The "machine" is a mount namespace of its own standing in for one with
# a system logger: a socket at /dev/log that takes lines, and another program logging with
# the library's prefixes all through the run.
#   check.sh <isolate.sh> <suite command...>
set -eu
isolate=$1
shift
scratch=$(mktemp -d "${TMPDIR:-/tmp}/nativesupport-check.XXXXXX")
status=0
unshare --mount --propagation private sh "$(dirname "$0")/machine.sh" "$scratch" "$isolate" "$@" || status=$?
rmdir "$scratch" 2>/dev/null || true
exit "${status:-0}"
