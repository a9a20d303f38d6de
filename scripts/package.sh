#!/usr/bin/env bash
# Installs what is missing, builds the 32-bit and the 64-bit library without their tests,
# and leaves one Debian package per ABI in build/packages/:
#   libnativesupport-jni_<version>_i386.deb and libnativesupport-jni_<version>_amd64.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
rm -rf build/packages
mkdir -p build/packages
for preset in i386 host; do
  cmake --preset "$preset" -DNS_BUILD_TESTS=OFF > /dev/null
  cmake --build --preset "$preset" -j "$(nproc)"
  rm -rf "build/$preset/cpack"
  cpack --config "build/$preset/CPackConfig.cmake" -B "build/$preset/cpack"
  mv "build/$preset/cpack"/*.deb build/packages/
  rm -rf "build/$preset/cpack"
done
ls -l build/packages
