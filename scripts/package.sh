#!/usr/bin/env bash
# Installs what is missing, builds the Debian packages from debian/ for both architectures
# (i386 with Debian's cross toolchain) and leaves them in build/packages/:
#   libnativesupport-jni_<version>_i386.deb          libnativesupport-jni_<version>_amd64.deb
#   libnativesupport-jni-dbgsym_<version>_i386.deb   libnativesupport-jni-dbgsym_<version>_amd64.deb
# then checks them with lintian, which must find nothing to report, and unpacks all four
# side by side.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
rm -rf build/packages
for arch in i386 amd64; do
  sh packaging/build-deb.sh "$arch" build/packages
done
lintian --fail-on error,warning build/packages/*.deb
# Both architectures unpack side by side into a dpkg root of their own (Multi-Arch: same).
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
dpkg --root="$root" --add-architecture i386
dpkg --root="$root" --force-depends --unpack build/packages/*.deb > /dev/null
ls -l build/packages
