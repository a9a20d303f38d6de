#!/usr/bin/env bash
# Installs what is missing, builds the Debian packages from debian/ for both architectures
# (i386 with Debian's cross toolchain) and leaves them in build/packages/:
#   libnativesupport-jni_<version>_i386.deb          libnativesupport-jni_<version>_amd64.deb
#   libnativesupport-jni-dbgsym_<version>_i386.deb   libnativesupport-jni-dbgsym_<version>_amd64.deb
# then checks them with lintian, which must find nothing to report.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
rm -rf build/packages
for arch in i386 amd64; do
  sh packaging/build-deb.sh "$arch" build/packages
done
lintian --fail-on error,warning build/packages/*.deb
ls -l build/packages
