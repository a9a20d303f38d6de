#!/usr/bin/env bash
# The main job: installs what is missing, builds both libraries and the tablet monitor, and
# runs the monitor: against the attached supported tablets, or, when there is none, against
# a virtual tablet of the tests' USB emulator. Everything goes to stdout, the library's log
# lines (which it also writes to stderr) included. Options go to the monitor, e.g.
#   bash scripts/run.sh --seconds 30 --png /tmp/trace.png
#   bash scripts/run.sh --real-only
set -euo pipefail
exec 2>&1
cd "$(dirname "$0")/.."
bash scripts/setup.sh
# Only the library and the monitor (with the emulator's JNI library) are built here; the
# test suites are scripts/test.sh's business.
cmake --preset host -DNS_BUILD_TESTS=OFF -DNS_BUILD_DEMO=ON > /dev/null
cmake --build --preset host -j "$(nproc)"
cmake --preset i386 -DNS_BUILD_TESTS=OFF > /dev/null
cmake --build --preset i386 -j "$(nproc)"
exec build/host/demo/tablet-monitor "$@"
