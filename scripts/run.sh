#!/usr/bin/env bash
# The main job: builds both libraries and runs the tablet monitor against whatever
# supported tablets are attached.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
for preset in host i386; do
  cmake --preset "$preset" -DNS_BUILD_TESTS=OFF > /dev/null
  cmake --build --preset "$preset" -j "$(nproc)"
done
classes=build/demo/classes
rm -rf "$classes"
javac --release 17 -d "$classes" tests/java/src/quorvantelix/dm/connections/usb/NativeUSB.java \
  demo/src/quorvantelix/demo/*.java
exec /usr/lib/jvm/java-17-openjdk-amd64/bin/java -Djava.library.path=build/host/src \
  -cp "$classes" quorvantelix.demo.TabletMonitor "$@"
