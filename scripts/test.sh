#!/usr/bin/env bash
# Installs what is missing, builds the 64-bit and the 32-bit library with their tests,
# and runs every test in one CTest run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
for preset in host i386; do
  cmake --preset "$preset" -DNS_BUILD_TESTS=ON
  cmake --build --preset "$preset" -j "$(nproc)"
done
# The 64-bit library and its tests again under AddressSanitizer+UndefinedBehaviorSanitizer
# and under ThreadSanitizer, and the libFuzzer targets (clang).
for preset in asan tsan fuzz; do
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$(nproc)"
done
# One CTest run over all builds, so that one summary line closes it.
printf 'subdirs("host" "i386" "asan" "tsan" "fuzz")\n' > build/CTestTestfile.cmake
ctest --test-dir build --output-on-failure --timeout 900 -j "$(nproc)"
